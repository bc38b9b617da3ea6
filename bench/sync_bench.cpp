// End-to-end syncs against a deploy server on 127.0.0.1, next to the same work done by
// standard tools against the same server in the same run:
//
//   zip           one archive of a 2,000-file / 30 MB bundle    vs  curl + unzip
//   differential  10,000 files, 1% changed, against the last    vs  cp -r of the previous
//                 snapshot                                           bundle + curl --parallel
//   full diff.    the 2,000-file bundle file by file            vs  curl --parallel
//
//   qelvo_sync_bench [--repeat N] [--dir DIRECTORY]
//
// The server runs in this process and serves bundles written into a fresh directory
// under DIRECTORY (default /tmp) on each run. Every sync (a host process using the
// public API), and every tool command, runs as a child process in a fresh directory,
// so its wall time and peak resident set (getrusage of that child and what it waited
// for: the server is not included) compare like with like. Bytes are the response
// bodies the server sent for the run. Wall time and bytes are the median of N runs
// (default 3), the two sides taking turns at going first, each started after a sync(2);
// peak RSS is the largest.
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "qelvo/configuration.h"
#include "qelvo/live_update_manager.h"
#include "qelvo/manifest.h"
#include "secure/file_digest.h"
#include "support/loopback_server.h"
#include "support/temp_dir.h"
#include "support/zip_builder.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Files = std::map<std::string, std::string>;  // href to content

constexpr const char* kManifestFile = "live-update-manifest.json";

// ---- Bundles -----------------------------------------------------------------------

// Web-like files: two thirds text that deflates well, one third incompressible
// "images", sizes spread around `meanSize`.
Files makeBundle(std::size_t count, std::size_t meanSize, std::uint64_t seed) {
  static const std::vector<std::string> words = {
      "function", "return", "const",  "let",    "=>",     "{",     "}",     "(",
      ")",        ";",      "this",   "value",  "render", "state", "props", "if",
      "else",     "await",  "import", "export", "div",    "class"};
  std::mt19937_64 random(seed);
  std::uniform_int_distribution<std::size_t> size(meanSize / 4, meanSize * 7 / 4);
  Files files;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t bytes = size(random);
    std::string content;
    content.reserve(bytes + 16);
    std::string href;
    if (i % 3 == 2) {
      href = "assets/img/" + std::to_string(i / 100) + "/image" + std::to_string(i) + ".bin";
      while (content.size() < bytes) content.push_back(static_cast<char>(random()));
    } else {
      href = "js/" + std::to_string(i / 100) + "/module" + std::to_string(i) + ".js";
      while (content.size() < bytes) {
        content += words[random() % words.size()];
        content += random() % 8 == 0 ? '\n' : ' ';
      }
    }
    content.resize(bytes);
    files[href] = std::move(content);
  }
  return files;
}

std::size_t totalBytes(const Files& files) {
  std::size_t total = 0;
  for (const auto& [href, content] : files) total += content.size();
  return total;
}

// Writes the files and their manifest into `directory`.
void writeBundle(const fs::path& directory, const Files& files) {
  std::vector<qelvo::ManifestItem> items;
  for (const auto& [href, content] : files) {
    qelvo::test::writeFile(directory / href, content);
    items.push_back({href, content.size(), qelvo::contentDigestText(content)});
  }
  qelvo::test::writeFile(directory / kManifestFile, qelvo::Manifest::fromItems(items).encode());
}

void writeZip(const fs::path& archive, const Files& files) {
  fs::create_directories(archive.parent_path());
  qelvo::test::ZipBuilder builder;
  for (const auto& [href, content] : files) builder.file(href, content);
  builder.write(archive);
}

// ---- The deploy server -------------------------------------------------------------

// Serves files under `root` by path, answers checks with the snapshot offered per app,
// and counts the body bytes it sends.
class DeployServer {
 public:
  explicit DeployServer(fs::path root)
      : root_(std::move(root)), http_({.threads = 64, .keepAlive = std::chrono::seconds(5)}) {
    http_.handle("POST", "/apps/([^/]+)/channels/check-device",
                 [this](const httplib::Request& request, httplib::Response& response) {
                   std::string body;
                   {
                     std::lock_guard lock(mutex_);
                     body = offers_[request.matches[1].str()];
                   }
                   send(response, body, "application/json");
                 });
    http_.handle(
        "GET", "/bundles/.*", [this](const httplib::Request& request, httplib::Response& response) {
          std::ifstream in(root_ / request.path.substr(1), std::ios::binary);
          if (request.path.find("..") != std::string::npos || !in) {
            response.status = 404;
            return;
          }
          std::string body((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
          send(response, body, "application/octet-stream");
        });
  }

  std::string origin() const { return http_.origin(); }
  std::string url(const std::string& path) const { return http_.origin() + path; }

  void offer(const std::string& appId, const std::string& snapshot, const std::string& path) {
    std::lock_guard lock(mutex_);
    offers_[appId] = R"({"data":{"available":true,"partial":false,"compatible":true,)"
                     R"("incompatibleUpdateAvailable":false,"snapshot":")" +
                     snapshot + R"(","build":1,"url":")" + url(path) + R"("}})";
  }

  // Body bytes sent since the last call.
  std::size_t takeBytesSent() { return bytesSent_.exchange(0); }

 private:
  void send(httplib::Response& response, const std::string& body, const char* type) {
    bytesSent_ += body.size();
    response.set_content(body, type);
  }

  fs::path root_;
  qelvo::test::LoopbackServer http_;
  std::mutex mutex_;
  std::map<std::string, std::string> offers_;
  std::atomic<std::size_t> bytesSent_{0};
};

// ---- Child processes ---------------------------------------------------------------

struct Measure {
  double seconds = 0;
  long peakKilobytes = 0;
  std::size_t bytes = 0;
};

// Runs `argv` to completion from this process; its wall time and its peak resident set
// (the largest of it and of the children it waited for). Nothing but the exit status
// when it cannot be started.
struct Completed {
  double seconds = 0;
  long peakKilobytes = 0;
  int status = 127;
};
Completed spawnAndWait(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const auto& argument : argv) args.push_back(const_cast<char*>(argument.c_str()));
  args.push_back(nullptr);
  const auto start = Clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return {};
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  return {std::chrono::duration<double>(Clock::now() - start).count(), usage.ru_maxrss,
          WIFEXITED(status) ? WEXITSTATUS(status) : 128};
}

// The launcher side: runs the command and writes "<seconds> <peak KiB>" to `report`.
// Linux charges a process with the peak resident set of the image it replaced at exec,
// so commands are started from this small, freshly executed launcher rather than from
// the bench, which holds every bundle in memory.
int measureAsChild(const std::string& report, std::vector<std::string> argv) {
  auto completed = spawnAndWait(argv);
  std::ofstream(report) << completed.seconds << ' ' << completed.peakKilobytes << '\n';
  return completed.status;
}

// This program, which the launcher and the library syncs run as.
const std::string& selfPath() {
  static const auto self = fs::read_symlink("/proc/self/exe").string();
  return self;
}

// Runs `argv` through the launcher; throws when it fails.
Measure runChild(const std::vector<std::string>& argv) {
  static int runs = 0;
  const auto report = fs::temp_directory_path() / ("qelvo-sync-bench-" + std::to_string(getpid()) +
                                                   "-" + std::to_string(runs++));
  // Each run starts with no dirty pages pending, so none pays for the writeback of
  // the run before it.
  ::sync();
  std::vector<std::string> launcher = {selfPath(), "--measure", report.string()};
  launcher.insert(launcher.end(), argv.begin(), argv.end());
  if (spawnAndWait(launcher).status != 0) {
    std::string command;
    for (const auto& argument : argv) command += argument + " ";
    throw std::runtime_error("failed: " + command.substr(0, 300));
  }
  Measure measure;
  std::ifstream(report) >> measure.seconds >> measure.peakKilobytes;
  fs::remove(report);
  return measure;
}

Measure runShell(const std::string& command) { return runChild({"sh", "-c", command}); }

// The child side of a library sync: a host with its own container syncing one app.
int syncAsChild(const std::string& origin, const fs::path& container, const std::string& appId,
                const std::string& strategy) {
  qelvo::configureHost({.bundleIdentifier = "dev.qelvo.bench",
                        .shortVersionString = "1.0.0",
                        .containerRoot = container});
  qelvo::configureDeployService({.baseUrl = origin + "/apps"});
  auto manager = std::make_shared<qelvo::LiveUpdateManager>("bench", 3, false);
  manager->add(qelvo::LiveUpdate(appId, "production", false,
                                 strategy == "zip" ? qelvo::LiveUpdate::Strategy::zip
                                                   : qelvo::LiveUpdate::Strategy::differential));
  try {
    manager->sync(appId).get();
  } catch (const qelvo::SyncError& error) {
    std::fprintf(stderr, "%s\n", error.errorDescription().c_str());
    return 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  return 0;
}

// ---- Scenarios ---------------------------------------------------------------------

std::string quoted(const std::string& text) { return "'" + text + "'"; }

// Checks that a run left the whole bundle behind: `count` regular files in `directory`.
void requireFiles(const fs::path& directory, std::size_t count) {
  std::size_t found = 0;
  for (const auto& entry : fs::recursive_directory_iterator(directory)) {
    if (entry.is_regular_file()) ++found;
  }
  if (found != count) {
    throw std::runtime_error(directory.string() + " holds " + std::to_string(found) +
                             " files, not " + std::to_string(count));
  }
}

// Where the library keeps snapshot `snapshot` of `appId` in `container`.
fs::path snapshotIn(const fs::path& container, const std::string& appId,
                    const std::string& snapshot) {
  return container / "Library" / "qelvo_apps" / appId / snapshot;
}

// A curl config that fetches every file of `hrefs` under `base` into `directory`.
fs::path curlConfig(const fs::path& file, const std::string& base,
                    const std::vector<std::string>& hrefs, const fs::path& directory) {
  std::ofstream out(file);
  out << "no-progress-meter\nshow-error\nfail\ncreate-dirs\n";
  for (const auto& href : hrefs) {
    out << "url = \"" << base << href << "\"\noutput = \"" << (directory / href).string() << "\"\n";
  }
  return file;
}

struct Result {
  std::vector<Measure> library;
  std::vector<Measure> tools;
};

Measure median(std::vector<Measure> runs) {
  Measure result;
  for (const auto& run : runs)
    result.peakKilobytes = std::max(result.peakKilobytes, run.peakKilobytes);
  std::sort(runs.begin(), runs.end(), [](auto& a, auto& b) { return a.seconds < b.seconds; });
  result.seconds = runs[runs.size() / 2].seconds;
  std::sort(runs.begin(), runs.end(), [](auto& a, auto& b) { return a.bytes < b.bytes; });
  result.bytes = runs[runs.size() / 2].bytes;
  return result;
}

void print(const std::string& name, const std::string& tools, const Result& result) {
  auto library = median(result.library);
  auto other = median(result.tools);
  auto row = [](const char* who, const Measure& m) {
    std::printf("  %-26s %9.3f s %9.1f MB %11.2f MB\n", who, m.seconds, m.peakKilobytes / 1024.0,
                m.bytes / 1e6);
  };
  std::printf("%s\n", name.c_str());
  row("qelvo sync", library);
  row(tools.c_str(), other);
  std::printf("  %-26s %9.2fx   %9.2fx   %11.2fx\n", "ratio qelvo / tools",
              library.seconds / other.seconds,
              static_cast<double>(library.peakKilobytes) / other.peakKilobytes,
              static_cast<double>(library.bytes) / other.bytes);
}

class Bench {
 public:
  Bench(fs::path work, int repeat)
      : work_(std::move(work)), repeat_(repeat), server_(work_ / "server") {}

  void prepare() {
    const auto served = work_ / "server" / "bundles";
    // Zip and full differential share one 2,000-file, 30 MB bundle.
    web_ = makeBundle(2000, 15000, 1);
    writeZip(served / "zipapp" / "web.zip", web_);
    writeBundle(served / "fullapp" / "web", web_);
    // The differential bundle and its successor with every hundredth file changed.
    large_ = makeBundle(10000, 2000, 2);
    auto next = large_;
    std::size_t i = 0;
    for (auto& [href, content] : next) {
      if (i++ % 100 == 0) {
        content += "\n// changed in v2\n";
        changed_.push_back(href);
      }
    }
    writeBundle(served / "diffapp" / "v1", large_);
    writeBundle(served / "diffapp" / "v2", next);
    std::printf(
        "bundles: zip %zu files / %.1f MB (archive %.1f MB); differential %zu files / "
        "%.1f MB, %zu changed\n\n",
        web_.size(), totalBytes(web_) / 1e6, fs::file_size(served / "zipapp" / "web.zip") / 1e6,
        large_.size(), totalBytes(large_) / 1e6, changed_.size());
  }

  Result zip() {
    server_.offer("zipapp", "web", "/bundles/zipapp/web.zip");
    return measure(
        [&](const fs::path& container) {
          auto measured = syncLibrary(container, "zipapp", "zip");
          requireFiles(snapshotIn(container, "zipapp", "web"), web_.size());
          return measured;
        },
        [&](const fs::path& out) {
          auto measured = runShell("curl -sS --fail -o " + quoted((out / "web.zip").string()) +
                                   " " + quoted(server_.url("/bundles/zipapp/web.zip")) +
                                   " && unzip -q " + quoted((out / "web.zip").string()) + " -d " +
                                   quoted((out / "web").string()) + " && rm " +
                                   quoted((out / "web.zip").string()));
          requireFiles(out / "web", web_.size());
          return measured;
        });
  }

  Result differential() {
    return measure(
        [&](const fs::path& container) {
          server_.offer("diffapp", "v1", "/bundles/diffapp/v1/live-update-manifest.json");
          syncLibrary(container, "diffapp", "differential");
          server_.offer("diffapp", "v2", "/bundles/diffapp/v2/live-update-manifest.json");
          server_.takeBytesSent();
          auto measured = syncLibrary(container, "diffapp", "differential");
          requireFiles(snapshotIn(container, "diffapp", "v2"), large_.size() + 1);
          return measured;
        },
        [&](const fs::path& out) {
          auto hrefs = changed_;
          hrefs.push_back(kManifestFile);
          auto config =
              curlConfig(out / "curl.cfg", server_.url("/bundles/diffapp/v2/"), hrefs, out / "v2");
          auto measured = runShell(
              "cp -r " + quoted((work_ / "server/bundles/diffapp/v1").string()) + " " +
              quoted((out / "v2").string()) + " && curl --parallel -K " + quoted(config.string()));
          requireFiles(out / "v2", large_.size() + 1);
          return measured;
        });
  }

  Result fullDifferential() {
    server_.offer("fullapp", "web", "/bundles/fullapp/web/live-update-manifest.json");
    return measure(
        [&](const fs::path& container) {
          auto measured = syncLibrary(container, "fullapp", "differential");
          requireFiles(snapshotIn(container, "fullapp", "web"), web_.size() + 1);
          return measured;
        },
        [&](const fs::path& out) {
          std::vector<std::string> hrefs{kManifestFile};
          for (const auto& [href, content] : web_) hrefs.push_back(href);
          auto config = curlConfig(out / "curl.cfg", server_.url("/bundles/fullapp/web/"), hrefs,
                                   out / "web");
          auto measured = runShell("curl --parallel -K " + quoted(config.string()));
          requireFiles(out / "web", web_.size() + 1);
          return measured;
        });
  }

 private:
  Measure syncLibrary(const fs::path& container, const std::string& appId,
                      const std::string& strategy) {
    return runChild({selfPath(), "--sync", server_.origin(), container.string(), appId, strategy});
  }

  // Runs each side `repeat_` times, taking turns at going first, each in a fresh
  // directory.
  template <class Library, class Tools>
  Result measure(Library library, Tools tools) {
    Result result;
    for (int i = 0; i < repeat_; ++i) {
      auto directory = work_ / ("run-" + std::to_string(run_++));
      fs::create_directories(directory / "tools");
      auto runLibrary = [&] {
        server_.takeBytesSent();
        auto ours = library(directory / "container");
        ours.bytes = server_.takeBytesSent();
        result.library.push_back(ours);
      };
      auto runTools = [&] {
        server_.takeBytesSent();
        auto theirs = tools(directory / "tools");
        theirs.bytes = server_.takeBytesSent();
        result.tools.push_back(theirs);
      };
      if (i % 2 == 0) {
        runLibrary();
        runTools();
      } else {
        runTools();
        runLibrary();
      }
      fs::remove_all(directory);
    }
    return result;
  }

  fs::path work_;
  int repeat_;
  DeployServer server_;
  Files web_;
  Files large_;
  std::vector<std::string> changed_;
  int run_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc == 6 && std::string(argv[1]) == "--sync") {
    return syncAsChild(argv[2], argv[3], argv[4], argv[5]);
  }
  if (argc > 3 && std::string(argv[1]) == "--measure") {
    return measureAsChild(argv[2], std::vector<std::string>(argv + 3, argv + argc));
  }
  int repeat = 3;
  fs::path parent = "/tmp";
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string option = argv[i];
    if (option == "--repeat") repeat = std::max(1, std::stoi(argv[i + 1]));
    if (option == "--dir") parent = argv[i + 1];
  }
  std::string pattern = (parent / "qelvo-sync-bench-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return 1;
  const fs::path work = pattern;

  int status = 0;
  try {
    Bench bench(work, repeat);
    bench.prepare();
    std::printf("%-28s %11s %12s %14s\n", "median of runs", "wall", "peak RSS", "bytes sent");
    print("zip, 2,000 files / 30 MB", "curl + unzip", bench.zip());
    print("differential, 10,000 files, 1% changed", "cp -r + curl --parallel",
          bench.differential());
    print("full differential, 2,000 files", "curl --parallel", bench.fullDifferential());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    status = 1;
  }
  fs::remove_all(work);
  return status;
}
