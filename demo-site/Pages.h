// The stand-in site's pages. Every page is built as 16-bit text and handed
// out in windows-1252, the encoding the site declares.
#pragma once

#include <string>
#include <string_view>

#include "Catalogue.h"

namespace quillmere::demosite {

inline constexpr int kRowsPerPage = 25;
inline constexpr std::string_view kHtmlContentType = "text/html; charset=windows-1252";

struct Page {
  int status = 200;
  std::string body;  // windows-1252
};

// A query parameter as the server decoded it from the address: UTF-8 when the
// bytes are valid UTF-8 (what browsers send), windows-1252 otherwise (what a
// client on that code page sends).
std::u16string DecodeQueryBytes(std::string_view bytes);

// Escapes bytes for the query part of an address: everything but letters,
// digits and "-_.~" becomes %XX, a space becomes "+".
std::string UrlEscape(std::string_view bytes);

// Escapes text for HTML element content and double-quoted attributes. Control
// characters are dropped: they can only come from a bad query.
std::u16string HtmlEscape(std::u16string_view text);

// "3.72 GB" and so on, in units of 1024.
std::string FormatSize(uint64_t bytes);

// The page number asked for, between 1 and `pageCount`: anything that is not
// a plain number gives page 1, and a number past the end gives the last page.
int ClampPage(std::string_view pageParam, int pageCount);

// `rawQuery` is the "query" parameter as received, so that the page links
// can carry it on exactly.
Page SearchPage(const Catalogue& catalogue, std::string_view rawQuery, std::string_view pageParam);
Page DirectoryPage(const Catalogue& catalogue);
Page CategoryPage(const Catalogue& catalogue, std::string_view categoryParam, std::string_view pageParam);
Page DetailsPage(const Catalogue& catalogue, std::string_view idParam);
Page HomePage(const Catalogue& catalogue);
Page NotFoundPage(std::string_view path);

}  // namespace quillmere::demosite
