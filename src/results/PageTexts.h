// The fixed texts of the results page: the markers looked for in the site's
// page and the pieces written around what is cut out of it.
#pragma once

#include <string_view>

namespace quillmere::results {

inline constexpr std::u16string_view kResultsMarker = u"Torrent Name";
inline constexpr std::u16string_view kResultsEnd = u"</table>";
inline constexpr std::u16string_view kPagesMarker = u"Pages (";
inline constexpr std::u16string_view kPagesEnd = u"</td>";

inline constexpr std::u16string_view kRowHead = u"<tr bgcolor=\"#EAE7E3\"><td align=\"left\" colspan=\"8\">";
inline constexpr std::u16string_view kRowTail = u"</td></tr></table></body></html>";
inline constexpr std::u16string_view kPlainEnding = u"</table></body></html>";
inline constexpr std::u16string_view kNoMatchMessage = u"Your search did not result in any matches.";

// The head of every page written; it ends inside the open first cell of the
// program's table, which the results fragment continues.
inline constexpr std::u16string_view kPageTemplate =
    u"<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\"><html><head>"
    u"<title>Quillmere.</title><meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">"
    u"<style type=\"text/css\">BODY {MARGIN-TOP: 0em;OVERFLOW-Y: scroll;SCROLLBAR-FACE-COLOR: #e8e8e8;"
    u"BACKGROUND: #ffffff;COLOR: #000000;LINE-HEIGHT: 125%; FONT-FAMILY: Verdana, Arial, sans-serif;"
    u"SCROLLBAR-DARKSHADOW-COLOR: #99CCFF;SCROLLBAR-BASE-COLOR: #e0f0f0;CURSOR: default;font-size: 8pt;}"
    u"td { font-family: Arial, Helvetica, sans-serif;font-size: 8pt;}</style></head>"
    u"<body oncontextmenu=\"return false\" ondragstart=\"return false\" onselectstart=\"return false\" margin=0>"
    u"<table border=\"0\" width=\"100%\" cellspacing=\"0\" cellpadding=\"2\" style=\"border-collapse: collapse\" "
    u"bordercolor=\"black\"><tr bgcolor=\"#EAE7E3\"><td width=\"52%\" align=\"left\" colspan=\"2\">";

}  // namespace quillmere::results
