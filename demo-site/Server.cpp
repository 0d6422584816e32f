#include "Server.h"

#include <algorithm>
#include <cctype>

#include "LockImage.h"
#include "Pages.h"
#include "Torrent.h"
#include "text/CodePage.h"

namespace quillmere::demosite {

namespace {

std::string AsciiLower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// A parameter of the request. A client that keeps the site's "&amp;" in an
// address it rewrote sends "amp;id" for "id"; both are taken.
std::string Param(const httplib::Request& req, const std::string& name) {
  if (req.has_param(name.c_str())) {
    return req.get_param_value(name.c_str());
  }
  const std::string alias = "amp;" + name;
  if (req.has_param(alias.c_str())) {
    return req.get_param_value(alias.c_str());
  }
  return {};
}

void Send(httplib::Response& res, const Page& page) {
  res.status = page.status;
  res.set_content(page.body, std::string(kHtmlContentType).c_str());
}

void SendTorrent(const httplib::Request& req, httplib::Response& res, const Catalogue& catalogue,
                 const std::string& announceUrl) {
  const std::string idParam = Param(req, "id");
  const bool digits = !idParam.empty() && idParam.size() <= 9 &&
                      std::all_of(idParam.begin(), idParam.end(), [](char c) { return c >= '0' && c <= '9'; });
  const Entry* entry = digits ? catalogue.FindEntry(std::stoi(idParam)) : nullptr;
  if (!entry) {
    Send(res, NotFoundPage(req.path + "?id=" + idParam.substr(0, 40)));
    return;
  }
  const TorrentFile torrent = MakeTorrent(*entry, announceUrl);
  res.status = 200;
  // The catalogue only admits printable ASCII file names without quotes, so
  // the name needs no escaping here.
  res.set_header("Content-Disposition", "attachment; filename=\"" + entry->fileName + ".torrent\"");
  res.set_content(torrent.bytes, "application/x-bittorrent");
}

std::string StatusText(int status) {
  switch (status) {
    case 400: return "The request could not be understood.";
    case 404: return "There is nothing at this address.";
    case 405: return "This site only answers GET requests.";
    case 413: return "The request is too large.";
    case 414: return "The address is too long. Try a shorter search.";
    default: return "The site could not answer this request.";
  }
}

}  // namespace

void MountSite(httplib::Server& server, const Catalogue& catalogue, std::string announceUrl) {
  server.Get(R"([\s\S]*)", [&catalogue, announceUrl = std::move(announceUrl)](const httplib::Request& req,
                                                                              httplib::Response& res) {
    // Addresses of the site are matched regardless of letter case, as its
    // links are written in more than one.
    const std::string path = AsciiLower(req.path);
    if (path == "/" || path == "/index.asp") {
      Send(res, HomePage(catalogue));
    } else if (path == "/search.asp") {
      if (AsciiLower(Param(req, "mode")) == "torrentdetails") {
        Send(res, DetailsPage(catalogue, Param(req, "id")));
      } else {
        Send(res, SearchPage(catalogue, Param(req, "query"), Param(req, "page")));
      }
    } else if (path == "/directory.asp") {
      if (AsciiLower(Param(req, "mode")) == "sub") {
        Send(res, CategoryPage(catalogue, Param(req, "cat"), Param(req, "page")));
      } else {
        Send(res, DirectoryPage(catalogue));
      }
    } else if (path == "/download.asp") {
      SendTorrent(req, res, catalogue, announceUrl);
    } else if (path == "/images/downloadlock.gif") {
      res.set_header("Cache-Control", "max-age=86400");
      res.set_content(std::string(DownloadLockGif()), "image/gif");
    } else if (path == "/announce") {
      // Torrent clients that try the announce address learn why it fails.
      res.set_content("d14:failure reason34:this stand-in site tracks no peerse", "text/plain");
    } else {
      Send(res, NotFoundPage(req.path));
    }
  });

  // Requests that never reach a handler (an address too long to read, a
  // method the site does not serve) still get a small page.
  server.set_error_handler(httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& res) {
    if (!res.body.empty()) {
      return httplib::Server::HandlerResponse::Unhandled;
    }
    const std::string body =
        "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">\n<html><head><title>Error " +
        std::to_string(res.status) +
        "</title><meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1252\"></head>\n"
        "<body><h1>Error " +
        std::to_string(res.status) + "</h1><p>" + StatusText(res.status) +
        " <a href=\"/index.asp\">Home page</a></p></body></html>\n";
    res.set_content(body, std::string(kHtmlContentType).c_str());
    return httplib::Server::HandlerResponse::Handled;
  }));

  // Lets scripts tell the stand-in site from another program on its port.
  server.set_post_routing_handler([](const httplib::Request&, httplib::Response& res) {
    res.set_header("Server", "quillmere-demo-site");
  });

  server.set_read_timeout(5, 0);
  server.set_write_timeout(5, 0);
  server.set_payload_max_length(64 * 1024);
}

}  // namespace quillmere::demosite
