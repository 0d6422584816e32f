// What a results window says, in its own chrome above the page, about the
// fetch that fills it: that it is searching, why the fetch failed, or that the
// site has moved. The page itself stays as the window logic writes it.
#pragma once

#include <string>
#include <string_view>

#include "net/FetchReport.h"

namespace quillmere::app {

enum class NoticeState { Idle, Searching, Failed, Moved };

// What the fetch was for: a search whose page the program writes, or a
// download that the view started itself.
enum class FetchPurpose { Search, Download };

struct WindowNotice {
  NoticeState state = NoticeState::Idle;
  std::u16string text;
  bool tryAgain = false;     // the same address can be fetched again
  bool siteAddress = false;  // the site's address may be wrong
  std::string movedTo;       // Moved: the address the site now answers at, "scheme://host:port"
  std::string movedHost;     // Moved: that address as the text names it
};

// "scheme://host:port" of an absolute address, the port always written; empty
// when it is not one.
std::string Origin(std::string_view url);

// The notice for a fetch of `url`: while it runs when `report` is null, else
// once it has ended so, having returned a page (`gotPage`) or not. A search
// that the site (at `siteBaseUrl`) sent elsewhere by redirects is told that
// the site has moved.
WindowNotice FetchNotice(FetchPurpose purpose, std::string_view url, const ModINET::FetchReport* report, bool gotPage,
                         std::string_view siteBaseUrl);

// Why the program stopped the page of a results window, which is shown again
// without its scripts.
enum class PageStop { Memory, Busy };
WindowNotice StoppedNotice(PageStop why);

// A link of `scheme`, which neither the view nor the desktop's magnet handler
// takes, that the page was kept from following.
WindowNotice RefusedLinkNotice(std::string_view scheme);

}  // namespace quillmere::app
