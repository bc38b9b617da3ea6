#include "support/hostile_fixture.h"

#include "support/temp_dir.h"

namespace qelvo::test {

namespace fs = std::filesystem;

Files HostileSync::goodBundle() {
  return {{"index.html", "<html>good</html>"},
          {"js/app.js", "console.log('good');"},
          {"assets/logo.bin", std::string(64, 'L')}};
}

void HostileSync::startWith(Strategy strategy) { startWith(strategy, {manager_, "sync"}); }

void HostileSync::startWith(Strategy strategy, Device device) {
  device_ = std::move(device);
  store_ = openNamedStore(device_.suite);
  device_.manager->add(LiveUpdate("app", "production", false, strategy));
  auto zipped = goodBundle();
  if (device_.signer) zipped["live-update-manifest.json"] = signedManifestOf(zipped, *device_.signer);
  server_.offer("app", "snap-1", 1,
                strategy == Strategy::zip
                    ? server_.putZip("app", "snap-1", zipped)
                    : server_.putManifest("app", "snap-1", goodBundle(), device_.signer));
  device_.manager->sync("app").get();
  rememberDevice();
}

void HostileSync::rememberDevice() {
  before_ = containerContents();
  recordBefore_ = storedRecord();
  servedBefore_ = device_.manager->latestAppDirectory("app");
  servedFilesBefore_ = servedBefore_ ? filesIn(*servedBefore_) : Files{};
}

SyncError HostileSync::refusal() { return syncError(*device_.manager, "app"); }

void HostileSync::expectRefused(SyncError::FailStep step, const std::string& causeText) {
  auto error = refusal();
  EXPECT_EQ(error.failStep, step);
  EXPECT_NE(cause(error).find(causeText), std::string::npos) << cause(error);
  expectUnchanged();
}

std::optional<std::string> HostileSync::anyFailure() {
  auto future = device_.manager->sync("app").share();
  try {
    future.get();
  } catch (const SyncError& error) {
    return error.errorDescription();
  } catch (const std::exception& error) {
    return std::string(error.what());
  }
  return std::nullopt;
}

void HostileSync::expectUnchanged(bool cacheUnchanged) const {
  const std::string appCache = "Library/qelvo_apps/app";
  if (cacheUnchanged) {
    EXPECT_EQ(containerContents(), before_) << "nothing new, anywhere in the container";
  } else {
    auto outside = before_;
    std::erase_if(outside, [&](const auto& item) { return item.first.starts_with(appCache + "/"); });
    EXPECT_EQ(containerContents(appCache), outside) << "nothing new outside the app's cache";
  }
  EXPECT_TRUE(leftInTmp().empty()) << leftInTmp().front();
  EXPECT_EQ(storedRecord(), recordBefore_) << "the store is unchanged";
  EXPECT_EQ(device_.manager->latestAppDirectory("app"), servedBefore_);
  if (servedBefore_) {
    EXPECT_EQ(filesIn(*servedBefore_), servedFilesBefore_) << "the previous snapshot is still served";
  }
}

std::map<std::string, std::string> HostileSync::containerContents(const std::string& except) const {
  std::map<std::string, std::string> contents;
  const auto root = host_.container();
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    const auto relative = fs::relative(it->path(), root).generic_string();
    if (relative.starts_with("Library/Preferences") ||
        (!except.empty() && (relative == except || relative.starts_with(except + "/")))) {
      if (it->is_directory()) it.disable_recursion_pending();
      continue;
    }
    if (it->is_symlink()) {
      contents[relative] = "-> " + fs::read_symlink(it->path()).string();
    } else if (it->is_directory()) {
      contents[relative + "/"] = "";
    } else {
      contents[relative] = readFile(it->path());
    }
  }
  return contents;
}

std::string cause(const Error& error) {
  if (const auto* sync = error.get<SyncError>()) {
    const auto& reason = sync->reason.value;
    if (const auto* file = std::get_if<SyncError::Reason::FileManagerError>(&reason)) {
      return cause(file->reason);
    }
    if (const auto* network = std::get_if<SyncError::Reason::NetworkError>(&reason)) {
      return cause(network->reason);
    }
    if (const auto* metadata = std::get_if<SyncError::Reason::MetadataError>(&reason)) {
      return metadata->reason;
    }
    return sync->errorDescription();
  }
  if (const auto* client = error.get<NetworkClientError>()) {
    const auto& value = client->value();
    if (const auto* network = std::get_if<NetworkClientError::NetworkError>(&value)) {
      return network->error ? cause(*network->error) : "(no cause)";
    }
    if (const auto* invalid = std::get_if<NetworkClientError::InvalidResponse>(&value)) {
      return "HTTP status " + std::to_string(invalid->response.statusCode);
    }
    if (const auto* decoding = std::get_if<NetworkClientError::DecodingError>(&value)) {
      return decoding->error.description;
    }
    return client->localizedDescription();
  }
  if (const auto* file = error.get<FileOperationError>()) {
    if (const auto* platform = file->platformError()) return platform->description;
  }
  return error.localizedDescription();
}

std::string HostileSync::storedRecord() const {
  auto stored = store_->data("LiveUpdateApp-app");
  return stored && *stored ? **stored : std::string("(none)");
}

}  // namespace qelvo::test
