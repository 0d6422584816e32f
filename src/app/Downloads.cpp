#include "app/Downloads.h"

#include <algorithm>
#include <filesystem>
#include <utility>

namespace quillmere::app {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The length of `text` cut to at most `limit` bytes without splitting a UTF-8
// sequence.
size_t CutOnCharBoundary(std::string_view text, size_t limit) {
  if (text.size() <= limit) return text.size();
  size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return cut;
}

// Splits "name.ext" into "name" and ".ext". A leading dot starts no extension,
// and neither does a last dot that would leave an extension longer than the
// name can afford.
std::pair<std::string_view, std::string_view> SplitExtension(std::string_view name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || name.size() - dot > 32) return {name, {}};
  return {name.substr(0, dot), name.substr(dot)};
}

// Joins stem + suffix + extension, cutting the stem so that the whole stays
// within the limit.
std::string FitName(std::string_view stem, std::string_view suffix, std::string_view ext) {
  const size_t room = kMaxFileNameBytes - std::min(kMaxFileNameBytes, suffix.size() + ext.size());
  std::string name(stem.substr(0, CutOnCharBoundary(stem, room)));
  name += suffix;
  name += ext;
  return name;
}

}  // namespace

std::string SafeDownloadName(std::string_view suggested) {
  std::string name;
  name.reserve(suggested.size());
  for (char c : suggested) {
    const unsigned char u = static_cast<unsigned char>(c);
    name += (c == '/' || c == '\\' || u < 0x20 || u == 0x7F) ? '_' : c;
  }
  size_t first = 0;
  size_t last = name.size();
  while (first < last && IsBlank(name[first])) ++first;
  while (last > first && IsBlank(name[last - 1])) --last;
  name = name.substr(first, last - first);
  if (name.empty() || name == "." || name == "..") return std::string(kFallbackDownloadName);
  if (name.size() > kMaxFileNameBytes) {
    auto [stem, ext] = SplitExtension(name);
    name = FitName(stem, "", ext);
  }
  return name;
}

std::string DownloadFolder(const std::optional<std::string>& environmentDir,
                           const std::optional<std::string>& settingsDir, const std::string& homeDir) {
  if (environmentDir && !environmentDir->empty()) return *environmentDir;
  if (settingsDir && !settingsDir->empty()) return *settingsDir;
  std::string folder = homeDir;
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder + "Downloads";
}

std::string UniqueDownloadPath(const std::string& folder, const std::string& name,
                               const std::function<bool(const std::string& path)>& exists) {
  std::string prefix = folder;
  if (prefix.empty() || prefix.back() != '/') prefix += '/';
  if (!exists(prefix + name)) return prefix + name;
  auto [stem, ext] = SplitExtension(name);
  for (unsigned n = 1; n <= kMaxNumberedNames; ++n) {
    std::string candidate = prefix + FitName(stem, " (" + std::to_string(n) + ")", ext);
    if (!exists(candidate)) return candidate;
  }
  return {};
}

Notice SavedNotice(const std::string& path, bool torrent, bool opened, const std::string& error) {
  const std::filesystem::path saved(path);
  const std::string name = saved.filename().string(), folder = saved.parent_path().string();
  if (!torrent) return {"download", "Download saved", name + " is in " + folder, folder};
  if (opened) return {"download", "Torrent saved and opened", name + " is in " + folder, folder};
  return {"download", "Torrent saved, but not opened",
          "It could not be handed to a torrent application (" + error + "). The file is saved as " + path, folder};
}

Notice FailedNotice(const std::string& path, const std::string& error) {
  const std::string name = path.empty() ? "A download" : std::filesystem::path(path).filename().string();
  return {"download-failed", "Download failed", name + " could not be saved: " + error, {}};
}

Notice MagnetNotice(const std::string& error) {
  return {"magnet", "Magnet link not opened", "It could not be handed to a torrent application (" + error + ").", {}};
}

Notice TooLargeNotice() {
  return {"download-failed", "Download stopped", "Stopped at 100 MiB: a torrent file is never that large.", {}};
}

Notice RefusedNotice(int count) {
  const std::string body = count == 1 ? "The page tried to open 1 more link; it was refused."
                                      : "The page tried to open " + std::to_string(count) +
                                            " more links; they were refused.";
  return {"refused", "Links refused", body, {}};
}

}  // namespace quillmere::app
