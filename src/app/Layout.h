// Sizes of the two window classes, in twips, and the longest caption shown.
#pragma once

#include <string>
#include <string_view>

#include "text/CodePage.h"

namespace quillmere::app {

// The longest caption given to the desktop, in characters; a longer one,
// such as a caption made of a very long query, is cut and ends in "…". The
// window logic keeps the caption whole.
inline constexpr size_t kMaxShownCaption = 200;

inline std::u16string ShownCaption(std::u16string_view caption) {
  if (caption.size() <= kMaxShownCaption) return std::u16string(caption);
  size_t cut = kMaxShownCaption;
  // A character outside the Basic Multilingual Plane goes whole or not at all.
  if (text::IsHighSurrogate(caption[cut - 1])) --cut;
  return std::u16string(caption.substr(0, cut)) + u"\u2026";
}

// Client area of the main window: 592 x 196 pixels. It is not resizable.
inline constexpr float kMainClientWidth = 8880.0f;
inline constexpr float kMainClientHeight = 2940.0f;
// What the main window's layout takes off the window's size for its view.
inline constexpr float kMainWidthMargin = 30.0f;
inline constexpr float kMainHeightMargin = 0.0f;

// Client area of a results window: 701 x 480 pixels, resizable.
inline constexpr float kResultsClientWidth = 10515.0f;
inline constexpr float kResultsClientHeight = 7200.0f;
inline constexpr float kResultsWidthMargin = 80.0f;
inline constexpr float kResultsHeightMargin = 320.0f;

}  // namespace quillmere::app
