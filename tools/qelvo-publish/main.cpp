// qelvo-publish: publishes a directory of web files into a deploy root, and moves
// channels between snapshots.
//
//   qelvo-publish publish --root DIR --app APP [--channel CH [--rollout PERCENT]]
//                         [--snapshot ID] [--build N] [--key PEM [--expires-in DAYS]]...
//                         [--binary-version V]... [--patch-from-last N] SOURCE_DIR
//   qelvo-publish rollout --root DIR --app APP --channel CH --percent PERCENT
//   qelvo-publish rollback --root DIR --app APP --channel CH [--to ID] [--key PEM]...
//
// Prints one JSON line describing what it did. Exit 0 on success, 1 on failure, 2 on
// bad usage.
#include <chrono>
#include <cstdlib>
#include <expected>
#include <functional>
#include <iostream>
#include <optional>
#include <set>
#include <string>

#include "common/arguments.h"
#include "publish_report.h"
#include "publishing/channel_moves.h"
#include "publishing/snapshot_publisher.h"

namespace {

using qelvo::publishing::DeployRoot;

constexpr const char* kUsage =
    "usage: qelvo-publish publish --root DIR --app APP [--channel CH [--rollout PERCENT]]\n"
    "                             [--snapshot ID] [--build N] [--key PEM]... [--expires-in DAYS]\n"
    "                             [--binary-version V]... [--patch-from-last N] SOURCE_DIR\n"
    "       qelvo-publish rollout --root DIR --app APP --channel CH --percent PERCENT\n"
    "       qelvo-publish rollback --root DIR --app APP --channel CH [--to ID] [--key PEM]...\n";

int usage(const std::string& message) {
  std::cerr << "qelvo-publish: " << message << "\n" << kUsage;
  return 2;
}

int failure(const std::string& message) {
  std::cerr << "qelvo-publish: " << message << "\n";
  return EXIT_FAILURE;
}

// A whole number of percent, 0 to 100.
std::optional<int> parsePercent(const std::string& text) {
  auto value = qelvo::tools::parseInteger(text);
  if (!value || *value < 0 || *value > 100) return std::nullopt;
  return static_cast<int>(*value);
}

// The keys given with --key, for signing.
std::expected<std::vector<qelvo::publishing::RsaSigner>, std::string> signersOf(
    const qelvo::tools::ParsedArguments& args) {
  std::vector<qelvo::publishing::RsaSigner> signers;
  for (const auto& keyFile : args.all("key")) {
    auto signer = qelvo::publishing::readSigningKey(keyFile);
    if (!signer) return std::unexpected(signer.error());
    signers.push_back(std::move(*signer));
  }
  return signers;
}

int publish(const qelvo::tools::ParsedArguments& args, const DeployRoot& root) {
  if (args.words.size() != 2) return usage("publish takes one SOURCE_DIR");
  qelvo::publishing::PublishRequest request{.app = *args.last("app"), .source = args.words[1]};
  request.snapshotId = args.last("snapshot");
  request.channel = args.last("channel");
  if (auto build = args.last("build")) {
    request.build = qelvo::tools::parseInteger(*build);
    if (!request.build) return usage("--build takes an integer");
  }
  if (auto rollout = args.last("rollout")) {
    if (!request.channel) return usage("--rollout needs --channel");
    request.rolloutPercent = parsePercent(*rollout);
    if (!request.rolloutPercent) return usage("--rollout takes a percent from 0 to 100");
  }
  if (args.has("binary-version")) request.compatibleBinaryVersions = args.all("binary-version");
  if (auto days = args.last("expires-in")) {
    auto count = qelvo::tools::parseInteger(*days);
    if (!count || *count <= 0) return usage("--expires-in takes a number of days");
    request.expiresAfter = std::chrono::days(*count);
  }
  if (auto count = args.last("patch-from-last")) {
    auto snapshots = qelvo::tools::parseInteger(*count);
    if (!snapshots || *snapshots < 0 || *snapshots > 16) {
      return usage("--patch-from-last takes a number of snapshots from 0 to 16");
    }
    request.patchFromLast = static_cast<std::size_t>(*snapshots);
  }
  auto signers = signersOf(args);
  if (!signers) return failure(signers.error());
  request.signers = std::move(*signers);
  auto published = qelvo::publishing::publishSnapshot(root, request);
  if (!published) return failure(published.error());
  std::cout << qelvo::publishing::publishReport(request, *published) << std::endl;
  return EXIT_SUCCESS;
}

using ChannelChange = std::function<std::expected<qelvo::publishing::ChannelRecord, std::string>(
    const qelvo::publishing::AppLock&, const std::string& app, const std::string& channel)>;

// Changes the channel of --app and --channel under the app's lock and reports it.
int changeChannel(const qelvo::tools::ParsedArguments& args, const DeployRoot& root,
                  const ChannelChange& change) {
  auto app = *args.last("app");
  auto channel = *args.last("channel");
  if (!root.hasApp(app)) return failure("No app " + app + " in " + root.path().string());
  auto lock = qelvo::publishing::AppLock::acquire(root.appDirectory(app));
  if (!lock) return failure(lock.error());
  auto record = change(*lock, app, channel);
  if (!record) return failure(record.error());
  std::cout << qelvo::publishing::channelReport(app, channel, *record) << std::endl;
  return EXIT_SUCCESS;
}

// Going back to a signed snapshot makes a new release of its files, signed again with a
// higher sequence: devices refuse an older signed release as a replay, so the snapshot
// itself cannot be offered again.
int rollback(const qelvo::tools::ParsedArguments& args, const DeployRoot& root) {
  if (args.words.size() != 1) return usage("rollback takes no argument");
  if (!args.last("channel")) return usage("rollback needs --channel");
  auto signers = signersOf(args);
  if (!signers) return failure(signers.error());
  return changeChannel(args, root, [&](const auto& lock, const auto& app, const auto& channel)
                                       -> std::expected<qelvo::publishing::ChannelRecord, std::string> {
    auto target = qelvo::publishing::rollbackRecord(root, app, channel, args.last("to"));
    if (!target) return target;
    auto current = root.readChannel(app, channel);
    const bool goesBack = !current || current->snapshot != target->snapshot;
    if (!goesBack || !qelvo::publishing::isSignedSnapshot(root, app, target->snapshot)) {
      return qelvo::publishing::rollbackChannel(root, lock, app, channel, args.last("to"));
    }
    if (signers->empty()) {
      return std::unexpected("Snapshot " + target->snapshot +
                             " is signed: going back to it makes a new release of its files, "
                             "signed again; give the signing keys with --key");
    }
    auto old = root.readSnapshot(app, target->snapshot);
    if (!old) return std::unexpected(old.error().message);
    auto released = qelvo::publishing::publishSnapshotLocked(
        root, lock,
        {.app = app,
         .source = root.snapshotDirectory(app, target->snapshot) / qelvo::publishing::kFilesDirectoryName,
         .signers = std::move(*signers),
         .sourceIsSnapshot = true,
         .compatibleBinaryVersions = old->compatibleBinaryVersions});
    if (!released) return std::unexpected(released.error());
    return qelvo::publishing::rollbackChannel(root, lock, app, channel, args.last("to"),
                                              released->record.id);
  });
}

int rollout(const qelvo::tools::ParsedArguments& args, const DeployRoot& root) {
  if (args.words.size() != 1) return usage("rollout takes no argument");
  if (!args.last("channel")) return usage("rollout needs --channel");
  auto percentText = args.last("percent");
  if (!percentText) return usage("rollout needs --percent");
  auto percent = parsePercent(*percentText);
  if (!percent) return usage("--percent takes a percent from 0 to 100");
  return changeChannel(args, root, [&](const auto& lock, const auto& app, const auto& channel) {
    return qelvo::publishing::widenRollout(root, lock, app, channel, *percent);
  });
}

// The options each command accepts besides --root and --app.
bool onlyOptionsOf(const qelvo::tools::ParsedArguments& args,
                   const std::set<std::string>& allowed) {
  for (const auto& [name, values] : args.options) {
    if (name != "root" && name != "app" && !allowed.contains(name)) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  auto args = qelvo::tools::parseArguments(
      argc, argv,
      {.withValue = {"root", "app", "channel", "snapshot", "build", "key", "binary-version", "to",
                     "rollout", "percent", "expires-in", "patch-from-last"},
       .flags = {"help"}});
  if (!args) return usage(args.error());
  if (args->has("help")) {
    std::cout << kUsage;
    return EXIT_SUCCESS;
  }
  if (args->words.empty()) return usage("no command");
  auto root = args->last("root");
  if (!root) return usage("--root is required");
  if (!args->last("app")) return usage("--app is required");
  const auto& command = args->words.front();
  if (command == "publish") {
    if (!onlyOptionsOf(*args, {"channel", "snapshot", "build", "key", "binary-version", "rollout",
                               "expires-in", "patch-from-last"})) {
      return usage(
          "publish takes --channel, --rollout, --snapshot, --build, --key, --expires-in, "
          "--binary-version and --patch-from-last");
    }
    return publish(*args, DeployRoot(*root));
  }
  if (command == "rollback") {
    if (!onlyOptionsOf(*args, {"channel", "to", "key"})) {
      return usage("rollback takes --channel, --to and --key");
    }
    return rollback(*args, DeployRoot(*root));
  }
  if (command == "rollout") {
    if (!onlyOptionsOf(*args, {"channel", "percent"})) {
      return usage("rollout takes --channel and --percent");
    }
    return rollout(*args, DeployRoot(*root));
  }
  return usage("unknown command " + command);
}
