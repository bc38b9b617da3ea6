#include "cli_options.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <set>

#include "common/arguments.h"
#include "qelvo/url.h"
#include "toolkit/toolkit.h"

namespace qelvo::cli {

const char* const kUsage =
    "usage: qelvo-live-update [options] sync APP_ID:CHANNEL[:zip|differential]... "
    "[--existing-cache APP_ID=DIR]...\n"
    "       qelvo-live-update [options] dir APP_ID:CHANNEL[:STRATEGY]\n"
    "       qelvo-live-update [options] last-sync [APP_ID:CHANNEL[:STRATEGY]]\n"
    "       qelvo-live-update [options] clean [APP_ID:CHANNEL[:STRATEGY]...]\n"
    "       qelvo-live-update [options] reset [--retain-cache]\n"
    "       qelvo-live-update [options] launch APP_ID:CHANNEL[:STRATEGY]\n"
    "       qelvo-live-update [options] ready APP_ID:CHANNEL[:STRATEGY] ATTEMPT\n"
    "       qelvo-live-update [options] bad APP_ID:CHANNEL[:STRATEGY] [REASON]\n"
    "       qelvo-live-update [options] status APP_ID:CHANNEL[:STRATEGY]...\n"
    "       qelvo-live-update [options] watch APP_ID:CHANNEL[:STRATEGY]... [--interval S]\n"
    "                         [--jitter S] [--first-sync-within S] [--retry-min S]\n"
    "                         [--retry-max S] [--on-update CMD] [--seed N]\n"
    "                         [--existing-cache APP_ID=DIR]...\n"
    "options: --bundle-id ID  --bundle-version V  --data-dir DIR  --server URL  --ca-file FILE\n"
    "         --name NAME  --max-versions N  --public-key FILE (with --name)\n"
    "         --require-claims (with --public-key)  --quiet\n"
    "         --share-unchanged (hard links for unchanged files, snapshots read-only)\n";

namespace {

using Error = std::unexpected<std::string>;

std::optional<Command> commandNamed(const std::string& word) {
  static const std::map<std::string, Command> commands = {{"sync", Command::sync},
                                                          {"dir", Command::dir},
                                                          {"last-sync", Command::lastSync},
                                                          {"clean", Command::clean},
                                                          {"reset", Command::reset},
                                                          {"launch", Command::launch},
                                                          {"ready", Command::ready},
                                                          {"bad", Command::bad},
                                                          {"status", Command::status},
                                                          {"watch", Command::watch}};
  auto found = commands.find(word);
  return found == commands.end() ? std::nullopt : std::optional(found->second);
}

std::expected<void, std::string> checkServer(const std::string& text) {
  auto url = Url::parse(text);
  if (!url || (url->scheme() != "http" && url->scheme() != "https") || url->host().empty()) {
    return Error("--server takes an http or https URL");
  }
  auto path = url->path();
  if (!path.ends_with("/apps")) return Error("the path of --server must end in /apps");
  return {};
}

std::expected<void, std::string> readGlobals(const tools::ParsedArguments& args,
                                             CliOptions& options) {
  if (auto value = args.last("bundle-id")) options.bundleId = *value;
  if (auto value = args.last("bundle-version")) options.bundleVersion = *value;
  if (auto value = args.last("data-dir")) options.dataDir = *value;
  if (auto value = args.last("ca-file")) options.caFile = *value;
  if (auto value = args.last("public-key")) options.publicKey = *value;
  options.name = args.last("name");
  options.quiet = args.has("quiet");
  options.requireClaims = args.has("require-claims");
  options.shareUnchanged = args.has("share-unchanged");
  if (auto value = args.last("server")) {
    if (auto checked = checkServer(*value); !checked) return checked;
    options.server = *value;
  }
  if (auto value = args.last("max-versions")) {
    auto number = tools::parseInteger(*value);
    if (!number || *number < INT_MIN || *number > INT_MAX)
      return Error("--max-versions takes an integer");
    options.maxVersions = static_cast<int>(*number);
  }
  if (options.bundleId.empty()) return Error("--bundle-id must not be empty");
  if (options.publicKey && !options.name) return Error("--public-key needs --name");
  if (options.requireClaims && !options.publicKey) {
    return Error("--require-claims needs --public-key");
  }
  return {};
}

std::expected<void, std::string> readExistingCaches(const tools::ParsedArguments& args,
                                                    CliOptions& options) {
  for (const auto& value : args.all("existing-cache")) {
    auto equals = value.find('=');
    if (equals == std::string::npos || equals == 0 || equals + 1 == value.size()) {
      return Error("--existing-cache takes APP_ID=DIR");
    }
    auto appId = value.substr(0, equals);
    bool differential = false;
    for (const auto& app : options.apps) {
      differential |= app.appId == appId && app.strategy == LiveUpdate::Strategy::differential;
    }
    if (!differential)
      return Error("--existing-cache names " + appId +
                   ", which is not a differential app of this sync");
    options.existingCaches[appId] = value.substr(equals + 1);
  }
  return {};
}

// How many SPECs each command takes, and its own options.
std::expected<void, std::string> checkCommand(const tools::ParsedArguments& args,
                                              const CliOptions& options) {
  const auto count = options.apps.size();
  const auto command = options.command;
  if (command == Command::sync && count == 0)
    return Error("sync needs at least one APP_ID:CHANNEL");
  if (command == Command::dir && count != 1) return Error("dir takes one APP_ID:CHANNEL");
  if (command == Command::lastSync && count > 1)
    return Error("last-sync takes at most one APP_ID:CHANNEL");
  if (command == Command::reset && count != 0) return Error("reset takes no APP_ID:CHANNEL");
  if (command == Command::launch && count != 1) return Error("launch takes one APP_ID:CHANNEL");
  if (command == Command::status && count == 0)
    return Error("status needs at least one APP_ID:CHANNEL");
  if (command == Command::watch && count == 0)
    return Error("watch needs at least one APP_ID:CHANNEL");
  if (command != Command::sync && command != Command::watch && args.has("existing-cache"))
    return Error("--existing-cache belongs to sync and watch");
  for (const char* option : {"interval", "jitter", "retry-min", "retry-max", "first-sync-within",
                             "seed", "on-update"}) {
    if (command != Command::watch && args.has(option))
      return Error(std::string("--") + option + " belongs to watch");
  }
  if (command != Command::reset && args.has("retain-cache"))
    return Error("--retain-cache belongs to reset");
  std::set<std::string> seen;
  for (const auto& app : options.apps) {
    if (!seen.insert(app.appId).second) return Error("app " + app.appId + " is named twice");
  }
  return {};
}

// The words of `ready` and `bad` after their APP_SPEC (an attempt id, a reason) go into
// the options; the APP_SPEC words of any command are returned.
std::expected<std::vector<std::string>, std::string> takeLaunchWords(
    const std::vector<std::string>& words, CliOptions& options) {
  std::vector<std::string> specs(words.begin() + 1, words.end());
  if (options.command == Command::ready) {
    if (specs.size() != 2) return Error("ready takes APP_ID:CHANNEL ATTEMPT");
    options.attemptId = specs.back();
    specs.pop_back();
  } else if (options.command == Command::bad) {
    if (specs.empty() || specs.size() > 2) return Error("bad takes APP_ID:CHANNEL [REASON]");
    if (specs.size() == 2) {
      options.reason = specs.back();
      specs.pop_back();
    }
  }
  return specs;
}

// "--NAME SECONDS": a number of seconds, fractions allowed ("0.25"), up to 30 days.
std::expected<std::optional<WatchDuration>, std::string> readSeconds(
    const tools::ParsedArguments& args, const std::string& name, bool zeroAllowed) {
  auto value = args.last(name);
  if (!value) return std::nullopt;
  double seconds = 0;
  const char* end = value->data() + value->size();
  auto [stop, error] = std::from_chars(value->data(), end, seconds);
  constexpr double kLongest = 30.0 * 24 * 60 * 60;
  auto milliseconds = std::llround(seconds * 1000);
  if (value->empty() || error != std::errc() || stop != end || !(seconds >= 0) ||
      seconds > kLongest || (milliseconds < 1 && !zeroAllowed)) {
    return Error("--" + name + " takes a number of seconds " +
                 (zeroAllowed ? "from 0" : "from 0.001") + " to 2592000 (30 days)");
  }
  return WatchDuration(milliseconds);
}

std::expected<void, std::string> readWatchOptions(const tools::ParsedArguments& args,
                                                  CliOptions& options) {
  auto& timing = options.timing;
  QELVO_TRY(auto interval, readSeconds(args, "interval", false));
  QELVO_TRY(auto jitter, readSeconds(args, "jitter", true));
  QELVO_TRY(auto retryMin, readSeconds(args, "retry-min", false));
  QELVO_TRY(auto retryMax, readSeconds(args, "retry-max", false));
  QELVO_TRY(timing.firstWithin, readSeconds(args, "first-sync-within", true));
  if (interval) timing.interval = *interval;
  // A tenth of the interval unless given: 90 s for the default 15 minutes.
  timing.jitter = jitter.value_or(timing.interval / 10);
  if (retryMin) timing.retryMin = *retryMin;
  if (retryMax) timing.retryMax = *retryMax;
  if (timing.jitter > timing.interval) return Error("--jitter must not exceed --interval");
  if (timing.retryMax < timing.retryMin)
    return Error("--retry-max must not be below --retry-min");
  if (auto seed = args.last("seed")) {
    auto number = tools::parseInteger(*seed);
    if (!number || *number < 0) return Error("--seed takes a non-negative integer");
    options.seed = static_cast<std::uint64_t>(*number);
  }
  options.onUpdate = args.last("on-update").value_or("");
  return {};
}

}  // namespace

std::expected<AppSpec, std::string> parseAppSpec(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    auto colon = text.find(':', start);
    parts.push_back(text.substr(start, colon - start));
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  if (parts.size() < 2 || parts.size() > 3 || parts[0].empty() || parts[1].empty()) {
    return Error("expected APP_ID:CHANNEL[:zip|differential], got " + text);
  }
  AppSpec spec{parts[0], parts[1]};
  if (parts.size() == 3) {
    if (parts[2] == "differential") {
      spec.strategy = LiveUpdate::Strategy::differential;
    } else if (parts[2] != "zip") {
      return Error("the strategy of " + text + " must be zip or differential");
    }
  }
  return spec;
}

std::expected<CliOptions, std::string> parseCliOptions(int argc, const char* const* argv) {
  auto args = tools::parseArguments(
      argc, argv,
      {.withValue = {"bundle-id", "bundle-version", "data-dir", "server", "ca-file", "name",
                     "max-versions", "public-key", "existing-cache", "interval", "jitter",
                     "retry-min", "retry-max", "first-sync-within", "seed", "on-update"},
       .flags = {"quiet", "retain-cache", "require-claims", "share-unchanged", "help"}});
  if (!args) return Error(args.error());
  if (args->has("help")) {
    CliOptions help;
    help.help = true;
    return help;
  }
  if (args->words.empty()) return Error("no command");
  auto command = commandNamed(args->words.front());
  if (!command) return Error("unknown command " + args->words.front());

  CliOptions options;
  options.command = *command;
  options.retainCache = args->has("retain-cache");
  if (auto globals = readGlobals(*args, options); !globals) return Error(globals.error());
  auto specs = takeLaunchWords(args->words, options);
  if (!specs) return Error(specs.error());
  for (const auto& word : *specs) {
    auto spec = parseAppSpec(word);
    if (!spec) return Error(spec.error());
    options.apps.push_back(std::move(*spec));
  }
  if (auto checked = checkCommand(*args, options); !checked) return Error(checked.error());
  if (auto caches = readExistingCaches(*args, options); !caches) return Error(caches.error());
  if (auto watch = readWatchOptions(*args, options); !watch) return Error(watch.error());
  return options;
}

}  // namespace qelvo::cli
