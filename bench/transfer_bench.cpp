// Serves N small files from a loopback server and downloads them all at once through
// the standard client's transfer engine, each file moved into a destination directory
// as the library's differential download does.
//
//   qelvo_transfer_bench [file count ...] [--size BYTES] [--dir DIRECTORY]
//
// Defaults: 2000 and 10000 files of 1024 bytes, the host container under /tmp.
//
// Prints files/s, MB/s, the peak resident set (whole process, server included), the
// most descriptors open at once, and the TCP connections the server accepted.
#include <stdlib.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "client/live_updates_client.h"
#include "qelvo/configuration.h"
#include "support/loopback_server.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::size_t openDescriptors() {
  return static_cast<std::size_t>(
      std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

long peakResidentKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

struct Run {
  double seconds = 0;
  std::size_t failures = 0;
  std::size_t connections = 0;
  std::size_t peakDescriptors = 0;
};

Run downloadAll(qelvo::test::LoopbackServer& server, std::size_t files,
                const fs::path& destination) {
  fs::create_directories(destination);
  auto client = qelvo::LiveUpdatesClient::make(server.url("/apps"), {});
  std::mutex mutex;
  std::condition_variable allDone;
  std::size_t done = 0;
  std::size_t failures = 0;
  std::atomic<std::size_t> peak = openDescriptors();
  std::size_t connectionsBefore = server.connectionCount();

  auto start = Clock::now();
  for (std::size_t i = 0; i < files; ++i) {
    auto name = std::to_string(i);
    client->downloadFile(
        qelvo::HttpRequest{.url = server.url("/files/" + name)},
        [&, i, name](const fs::path& file) -> std::expected<void, qelvo::Error> {
          if (i % 64 == 0) {
            std::size_t now = openDescriptors();
            std::size_t seen = peak.load();
            while (now > seen && !peak.compare_exchange_weak(seen, now)) {
            }
          }
          std::error_code error;
          fs::rename(file, destination / name, error);
          if (error)
            return std::unexpected(qelvo::PlatformError("posix", error.value(), error.message()));
          return {};
        },
        {},
        [&](std::expected<void, qelvo::Error> outcome) {
          std::lock_guard lock(mutex);
          if (!outcome) ++failures;
          if (++done == files) allDone.notify_all();
        });
  }
  std::unique_lock lock(mutex);
  allDone.wait(lock, [&] { return done == files; });
  Run run;
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  run.failures = failures;
  run.connections = server.connectionCount() - connectionsBefore;
  run.peakDescriptors = peak.load();
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::size_t> counts;
  std::size_t fileSize = 1024;
  fs::path parent = "/tmp";
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if (argument == "--size" && i + 1 < argc) {
      fileSize = std::stoul(argv[++i]);
    } else if (argument == "--dir" && i + 1 < argc) {
      parent = argv[++i];
    } else {
      counts.push_back(std::stoul(argument));
    }
  }
  if (counts.empty()) counts = {2000, 10000};

  std::string pattern = (parent / "qelvo-transfer-bench-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return 1;
  fs::path container = pattern;
  qelvo::configureHost({.bundleIdentifier = "dev.qelvo.bench",
                        .shortVersionString = "1.0.0",
                        .containerRoot = container});

  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  std::printf("file size %zu B, files under %s, descriptor limit %llu, open at start %zu\n",
              fileSize, container.c_str(), static_cast<unsigned long long>(limit.rlim_cur),
              openDescriptors());

  int status = 0;
  {
    qelvo::test::LoopbackServer server({.threads = 16, .keepAlive = std::chrono::seconds(5)});
    const std::string body(fileSize, 'x');
    server.handle("GET", "/files/[0-9]+", [&body](const httplib::Request&, httplib::Response& res) {
      res.set_content(body, "application/octet-stream");
    });
    for (std::size_t files : counts) {
      auto destination = container / ("run-" + std::to_string(files));
      Run run = downloadAll(server, files, destination);
      std::printf(
          "%6zu files: %6.2f s, %8.0f files/s, %6.2f MB/s, peak RSS %ld KiB, "
          "peak descriptors %zu, connections %zu, failures %zu\n",
          files, run.seconds, files / run.seconds,
          static_cast<double>(files * fileSize) / run.seconds / 1e6, peakResidentKilobytes(),
          run.peakDescriptors, run.connections, run.failures);
      if (run.failures > 0) status = 1;
      fs::remove_all(destination);
    }
  }
  fs::remove_all(container);
  return status;
}
