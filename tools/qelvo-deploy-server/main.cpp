// qelvo-deploy-server: serves a deploy root (written by qelvo-publish) to devices.
//
//   qelvo-deploy-server --root DIR [--listen HOST:PORT] [--prefix /PATH]
//                       [--tls-cert FILE --tls-key FILE] [--public-origin URL]
//                       [--files-url URL] [--max-connections N] [--event-loops N]
//
// Prints "listening on <base URL>" once it accepts requests (with --listen HOST:0, the
// port it picked), then one access-log line per request. SIGINT or SIGTERM stops it:
// it stops accepting, lets answers in progress finish, and exits.
#include <signal.h>
#include <sys/resource.h>

#include <cstdlib>
#include <iostream>
#include <thread>

#include "common/arguments.h"
#include "deploy_server/deploy_server.h"
#include "toolkit/toolkit.h"

namespace {

constexpr const char* kUsage =
    "usage: qelvo-deploy-server --root DIR [--listen HOST:PORT] [--prefix /PATH]\n"
    "                           [--tls-cert FILE --tls-key FILE] [--public-origin URL]\n"
    "                           [--files-url URL] [--max-connections N] [--event-loops N]\n";
constexpr const char* kDefaultListen = "127.0.0.1:8787";

int usage(const std::string& message) {
  std::cerr << "qelvo-deploy-server: " << message << "\n" << kUsage;
  return 2;
}

// "HOST:PORT", with the host in brackets when it is an IPv6 address.
bool splitListen(const std::string& text, qelvo::deploy::DeployServerOptions& options) {
  auto colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  auto port = qelvo::tools::parseInteger(text.substr(colon + 1));
  if (!port || *port < 0 || *port > 65535) return false;
  std::string host = text.substr(0, colon);
  if (host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  options.host = host;
  options.port = static_cast<int>(*port);
  return !host.empty();
}

}  // namespace

int main(int argc, char** argv) {
  auto args = qelvo::tools::parseArguments(
      argc, argv,
      {.withValue = {"root", "listen", "prefix", "tls-cert", "tls-key", "public-origin",
                     "files-url", "max-connections", "event-loops"},
       .flags = {"help"}});
  if (!args) return usage(args.error());
  if (args->has("help")) {
    std::cout << kUsage;
    return EXIT_SUCCESS;
  }
  if (!args->words.empty()) return usage("unexpected argument " + args->words.front());
  auto root = args->last("root");
  if (!root) return usage("--root is required");

  qelvo::deploy::DeployServerOptions options{.root = *root};
  if (!splitListen(args->last("listen").value_or(kDefaultListen), options)) {
    return usage("--listen takes HOST:PORT");
  }
  options.prefix = args->last("prefix").value_or("");
  if (auto cert = args->last("tls-cert")) options.tlsCertificate = *cert;
  if (auto key = args->last("tls-key")) options.tlsKey = *key;
  options.publicOrigin = args->last("public-origin");
  options.filesUrl = args->last("files-url");
  if (auto text = args->last("max-connections")) {
    auto count = qelvo::tools::parseInteger(*text);
    if (!count || *count < 1) return usage("--max-connections takes a positive number");
    options.limits.maxConnections = static_cast<std::size_t>(*count);
  }
  if (auto text = args->last("event-loops")) {
    auto count = qelvo::tools::parseInteger(*text);
    if (!count || *count < 1 || *count > 256) return usage("--event-loops takes a number from 1 to 256");
    options.limits.eventLoops = static_cast<std::size_t>(*count);
  }
  // Every connection is a descriptor: take all that the system grants.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }

  // Signals are taken by one thread that stops the server; every other thread blocks them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  try {
    qelvo::deploy::DeployServer server(std::move(options));
    std::thread([&server, stopSignals] {
      int received = 0;
      sigwait(&stopSignals, &received);
      server.stop();
    }).detach();
    qelvo::printLine("listening on " + server.appsUrl());
    server.run();
  } catch (const std::exception& error) {
    std::cerr << "qelvo-deploy-server: " << error.what() << "\n";
    return EXIT_FAILURE;
  }
  return EXIT_SUCCESS;
}
