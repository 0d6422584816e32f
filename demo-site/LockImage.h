// The small padlock that marks each download link.
#pragma once

#include <string_view>

namespace quillmere::demosite {

// A 16x16 GIF89a with a transparent background.
std::string_view DownloadLockGif();

}  // namespace quillmere::demosite
