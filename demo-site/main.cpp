// quillmere-demo-site: the stand-in index site.
//
//   quillmere-demo-site [--port N] [--catalogue FILE] [--quiet]
//
// Serves the site's pages on 127.0.0.1 until it is interrupted.
#include <httplib.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>
#include <thread>

#include "Catalogue.h"
#include "Server.h"

namespace {

constexpr int kUsageError = 2;

int Usage(std::string_view problem) {
  if (!problem.empty()) {
    std::cerr << "quillmere-demo-site: " << problem << '\n';
  }
  std::cerr << "usage: quillmere-demo-site [--port N] [--catalogue FILE] [--quiet]\n"
               "Serves the stand-in index site on 127.0.0.1 (default port "
            << quillmere::demosite::kDefaultPort << ").\n";
  return kUsageError;
}

// The catalogue ships beside the executable; a build tree also has the copy
// in the source tree to fall back on.
std::string DefaultCataloguePath() {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const auto beside = self.parent_path() / "catalogue.tsv";
    if (std::filesystem::exists(beside, ec)) {
      return beside.string();
    }
  }
  return QUILLMERE_DEMO_SITE_CATALOGUE;
}

}  // namespace

int main(int argc, char** argv) {
  int port = quillmere::demosite::kDefaultPort;
  std::string cataloguePath;
  bool quiet = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--port" && i + 1 < argc) {
      char* end = nullptr;
      const long value = std::strtol(argv[++i], &end, 10);
      if (*argv[i] == '\0' || *end != '\0' || value < 0 || value > 65535) {
        return Usage("--port wants a number from 0 to 65535");
      }
      port = static_cast<int>(value);
    } else if (arg == "--catalogue" && i + 1 < argc) {
      cataloguePath = argv[++i];
    } else if (arg == "--quiet") {
      quiet = true;
    } else if (arg == "--help" || arg == "-h") {
      Usage("");
      return 0;
    } else {
      return Usage("unknown argument " + std::string(arg));
    }
  }
  if (cataloguePath.empty()) {
    cataloguePath = DefaultCataloguePath();
  }

  std::string error;
  const auto catalogue = quillmere::demosite::Catalogue::Load(cataloguePath, &error);
  if (!catalogue) {
    std::cerr << "quillmere-demo-site: " << error << '\n';
    return 1;
  }

  // Interrupts are taken by one thread that stops the server, so that the
  // server's own threads never run a signal handler.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  httplib::Server server;
  const int asked = port;
  if (port == 0) {
    port = server.bind_to_any_port("127.0.0.1");
  } else if (!server.bind_to_port("127.0.0.1", port)) {
    port = -1;
  }
  if (port < 0) {
    std::cerr << "quillmere-demo-site: cannot listen on 127.0.0.1:" << asked << '\n';
    return 1;
  }
  const std::string base = "http://127.0.0.1:" + std::to_string(port) + "/";
  quillmere::demosite::MountSite(server, *catalogue, base + "announce");
  if (!quiet) {
    server.set_logger([](const httplib::Request& req, const httplib::Response& res) {
      std::printf("%s %s %d\n", req.method.c_str(), req.target.c_str(), res.status);
      std::fflush(stdout);
    });
  }

  std::atomic<bool> stopping = false;
  std::thread stopper([&server, &stopping, stopSignals] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    if (!stopping.exchange(true)) {
      server.stop();
    }
  });

  std::printf("quillmere-demo-site: %zu torrents on %s\n", catalogue->Entries().size(), base.c_str());
  std::fflush(stdout);
  const bool listened = server.listen_after_bind();

  // Wake the signal thread if the server ended by itself.
  if (!stopping.exchange(true)) {
    pthread_kill(stopper.native_handle(), SIGTERM);
  }
  stopper.join();
  return listened ? 0 : 1;
}
