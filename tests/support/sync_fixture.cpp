#include "support/sync_fixture.h"

#include <algorithm>
#include <thread>

#include "base/sync_errors.h"

namespace qelvo::test {

SyncError SyncTest::syncError(LiveUpdateManager& manager, const std::string& appId) {
  // The shared state (and the error in it) outlives the handler. Otherwise the sync's
  // worker may drop the last reference to the error while it is copied here, ordered
  // only by std::exception_ptr's reference count, which ThreadSanitizer cannot see in
  // the uninstrumented standard library: a false report.
  auto future = manager.sync(appId).share();
  try {
    future.get();
  } catch (const SyncError& error) {
    return error;
  } catch (const std::exception& error) {
    ADD_FAILURE() << "another error: " << error.what();
  }
  ADD_FAILURE() << "the sync succeeded";
  return metadataErrorForTests();
}

SyncError SyncTest::metadataErrorForTests() {
  return metadataError("", FailStep::check, "no error");
}

bool SyncTest::isCancelledDownload(const SyncError& error) {
  const auto* client = networkReason(error);
  if (error.failStep != FailStep::download || !client) return false;
  const auto* network = std::get_if<NetworkClientError::NetworkError>(&client->value());
  return network && network->error && network->error->get<CancellationError>();
}

std::vector<std::string> SyncTest::transferred(const std::string& snapshotId,
                                               const std::string& appId) const {
  const std::string base = "/bundles/" + appId + "/" + snapshotId + "/";
  std::vector<std::string> hrefs;
  for (const auto& request : server_.http().requests()) {
    if (request.path.starts_with(base) && request.path != base + kManifestFile) {
      hrefs.push_back(request.path.substr(base.size()));
    }
  }
  std::sort(hrefs.begin(), hrefs.end());
  return hrefs;
}

std::vector<std::string> SyncTest::leftInTmp() const {
  // The work area itself stays; what syncs left in it does not.
  std::vector<std::string> names;
  auto list = [&names](const std::filesystem::path& directory, const std::string& prefix) {
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(directory, ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
      auto name = it->path().filename().string();
      // In tmp itself only the library's own names count: the host's files are its own.
      if (prefix.empty() && (name == "qelvo-work" || !(name.starts_with("qelvo") ||
                                                        name.starts_with(".qelvo")))) {
        continue;
      }
      names.push_back(prefix + name);
    }
  };
  list(host_.tmp(), "");
  list(host_.tmp() / "qelvo-work", "qelvo-work/");
  std::sort(names.begin(), names.end());
  return names;
}

// A body being received: archives arrive in tmp/, the files of a file-by-file download
// in their own directories of the staging tree.
bool SyncTest::downloadUnderway() const {
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(host_.tmp(), ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code sizeError;
    if (it->path().filename().string().starts_with("qelvo-download-") &&
        std::filesystem::file_size(it->path(), sizeError) > 0 && !sizeError) {
      return true;
    }
  }
  return false;
}

void SyncTest::offerArchive(const std::string& id, const std::string& bytes) {
  const std::string path = "/bundles/app/" + id + ".zip";
  server_.serve(path, bytes);
  server_.offer("app", id, 2, server_.http().origin() + path);
}

void SyncTest::offerManifestText(const std::string& id, const std::string& manifestText,
                                 const Files& files) {
  const std::string base = "/bundles/app/" + id + "/";
  for (const auto& [href, content] : files) server_.serve(base + href, content);
  server_.serve(base + kManifestFile, manifestText);
  server_.offer("app", id, 2, server_.http().origin() + base + kManifestFile);
}

void SyncTest::expectCurrent(const LiveUpdateManager& manager, const std::string& id,
                             const Files& files) const {
  EXPECT_EQ(manager.latestAppDirectory("app"), snapshotDir(id));
  EXPECT_EQ(filesIn(snapshotDir(id)), files);
  EXPECT_TRUE(leftInTmp().empty()) << leftInTmp().front();
}

Files bundle(const std::string& version) {
  std::string binary(70000, '\0');
  for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>(i * 31 + 7);
  return {{"index.html", "<html>" + version + "</html>"},
          {"js/app.js", "console.log('same');"},
          {"a/b/c.js", "nested " + version},
          {"a/b/d.css", "body {}"},
          {"assets/logo.bin", binary + version}};
}

bool eventually(const std::function<bool()>& condition, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace qelvo::test
