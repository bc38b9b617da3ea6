#include "publishing/snapshot_publisher.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "toolkit/toolkit.h"
#include "publishing/app_lock.h"
#include "publishing/atomic_write.h"
#include "publishing/bundle_copy.h"
#include "publishing/channel_moves.h"
#include "publishing/patch_maker.h"
#include "publishing/signed_manifest_writer.h"
#include "publishing/zip_writer.h"
#include "qelvo/errors.h"

namespace qelvo::publishing {
namespace {

// Removes the staging directory unless the snapshot made it into place.
class StagingGuard {
 public:
  explicit StagingGuard(std::filesystem::path directory) : directory_(std::move(directory)) {}
  ~StagingGuard() {
    std::error_code ignored;
    if (!directory_.empty()) std::filesystem::remove_all(directory_, ignored);
  }
  StagingGuard(const StagingGuard&) = delete;
  StagingGuard& operator=(const StagingGuard&) = delete;
  void release() { directory_.clear(); }

 private:
  std::filesystem::path directory_;
};

std::expected<std::int64_t, std::string> nextBuild(const DeployRoot& root, const std::string& app) {
  auto snapshots = root.snapshots(app);
  if (!snapshots) return std::unexpected(snapshots.error().message);
  std::int64_t highest = 0;
  for (const auto& snapshot : *snapshots) highest = std::max(highest, snapshot.build);
  return highest + 1;
}

// The newest `count` snapshots of the app, to make patches from.
std::vector<PatchSource> patchSources(const DeployRoot& root, const std::string& app,
                                      std::size_t count) {
  auto snapshots = root.snapshots(app);
  if (!snapshots || count == 0) return {};
  std::sort(snapshots->begin(), snapshots->end(),
            [](const SnapshotRecord& a, const SnapshotRecord& b) { return a.build > b.build; });
  std::vector<PatchSource> sources;
  for (const auto& snapshot : *snapshots) {
    if (sources.size() == count) break;
    auto source = patchSourceOf(snapshot.id, root.snapshotDirectory(app, snapshot.id) / kFilesDirectoryName);
    if (source) sources.push_back(std::move(*source));
  }
  return sources;
}

// The manifest text of `items`, signed once per key with `claims`.
std::expected<std::string, std::string> manifestText(const std::vector<ManifestItem>& items,
                                                     const std::vector<RsaSigner>& signers,
                                                     const ReleaseClaimsToSign& claims) {
  try {
    auto manifest = Manifest::fromItems(items);
    if (signers.empty()) return manifest.encode();
    const auto header = claimsProtectedHeader(claims);
    std::vector<SignatureEntry> signatures;
    for (const auto& signer : signers) {
      signatures.push_back(signPayload(signer, manifest._payload, header));
    }
    return encodeSignedManifest(manifest._payload, signatures);
  } catch (const std::exception& error) {  // EncodingError for a file name that is not UTF-8
    return std::unexpected(std::string("Could not build the manifest: ") + error.what());
  }
}

std::expected<void, std::string> check(const PublishRequest& request, const std::string& id) {
  if (!DeployRoot::isValidName(request.app))
    return std::unexpected("Invalid app id: " + request.app);
  if (!DeployRoot::isValidName(id)) return std::unexpected("Invalid snapshot id: " + id);
  if (request.channel && !DeployRoot::isValidName(*request.channel)) {
    return std::unexpected("Invalid channel name: " + *request.channel);
  }
  if (request.rolloutPercent && !request.channel) {
    return std::unexpected("A rollout needs a channel");
  }
  if (request.rolloutPercent && (*request.rolloutPercent < 0 || *request.rolloutPercent > 100)) {
    return std::unexpected("The rollout percent must lie in 0...100");
  }
  return {};
}

// Builds the snapshot in `staging`: files/, the manifest, the archive, snapshot.json.
std::expected<PublishedSnapshot, std::string> assemble(const DeployRoot& root,
                                                       const std::filesystem::path& staging,
                                                       const PublishRequest& request,
                                                       SnapshotRecord record) {
  const auto files = staging / kFilesDirectoryName;
  QELVO_TRY(auto fileCount, copyBundleFiles(request.source, files, request.sourceIsSnapshot));
  std::vector<ManifestItem> items;
  try {
    items = manifestItemsOf(files);
  } catch (const std::exception& error) {
    return std::unexpected(std::string("Could not build the manifest: ") + error.what());
  }
  QELVO_TRY(auto patchCount,
            addPatches(items, files, patchSources(root, request.app, request.patchFromLast)));
  const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
  ReleaseClaimsToSign claims{.app = request.app,
                             .snapshot = record.id,
                             .sequence = record.build,
                             .created = now};
  if (request.expiresAfter) claims.expires = now + request.expiresAfter->count();
  QELVO_TRY(auto manifest, manifestText(items, request.signers, claims));
  QELVO_TRY_VOID(writeFileAtomically(files / kManifestName, manifest));
  const auto archive = staging / kArchiveName;
  QELVO_TRY_VOID(writeBundleArchive(files, archive));
  QELVO_TRY_VOID(flushFile(archive));
  QELVO_TRY(auto recordText, encodeSnapshotRecord(record));
  QELVO_TRY_VOID(writeFileAtomically(staging / kSnapshotRecordName, recordText));
  std::error_code error;
  auto archiveBytes = std::filesystem::file_size(archive, error);
  return PublishedSnapshot{std::move(record), fileCount, error ? 0 : archiveBytes, std::nullopt,
                           patchCount};
}

}  // namespace

std::expected<PublishedSnapshot, std::string> publishSnapshot(const DeployRoot& root,
                                                              const PublishRequest& request) {
  if (!DeployRoot::isValidName(request.app)) return std::unexpected("Invalid app id: " + request.app);
  QELVO_TRY(auto lock, AppLock::acquire(root.appDirectory(request.app)));
  return publishSnapshotLocked(root, lock, request);
}

bool isSignedSnapshot(const DeployRoot& root, const std::string& app, const std::string& id) {
  std::ifstream in(root.snapshotDirectory(app, id) / kFilesDirectoryName / kManifestName);
  std::ostringstream text;
  text << in.rdbuf();
  auto document = nlohmann::json::parse(text.str(), nullptr, false);
  return document.is_object() && document.contains("signatures") &&
         document["signatures"].is_array() && !document["signatures"].empty();
}

std::expected<PublishedSnapshot, std::string> publishSnapshotLocked(const DeployRoot& root,
                                                                    const AppLock& lock,
                                                                    const PublishRequest& request) {
  const std::string id = request.snapshotId.value_or(platform::randomUuid());
  QELVO_TRY_VOID(check(request, id));

  const auto target = root.snapshotDirectory(request.app, id);
  std::error_code error;
  if (std::filesystem::exists(std::filesystem::symlink_status(target, error))) {
    return std::unexpected("App " + request.app + " already has a snapshot " + id);
  }
  if (request.rolloutPercent && *request.rolloutPercent < 100) {
    // Refused before anything is written: a rollout keeps the channel's snapshot for
    // the other devices, so there must be one.
    if (auto current = root.readChannel(request.app, *request.channel); !current) {
      return std::unexpected("App " + request.app + " has no channel " + *request.channel +
                             " to roll out on: publish to it without a rollout first");
    }
  }
  SnapshotRecord record{id, 0, request.compatibleBinaryVersions};
  if (request.build) {
    record.build = *request.build;
  } else {
    QELVO_TRY(record.build, nextBuild(root, request.app));
  }
  std::filesystem::create_directories(target.parent_path(), error);
  if (error)
    return std::unexpected("Could not create " + target.parent_path().string() + ": " +
                           error.message());

  QELVO_TRY(auto staging, makeStagingDirectory(target));
  StagingGuard guard(staging);
  QELVO_TRY(auto published, assemble(root, staging, request, std::move(record)));
  QELVO_TRY_VOID(renameNoReplace(staging, target));
  guard.release();

  if (request.channel && request.rolloutPercent) {
    QELVO_TRY(published.channel, startRollout(root, lock, request.app, *request.channel, id,
                                              *request.rolloutPercent));
  } else if (request.channel) {
    QELVO_TRY(published.channel, moveChannel(root, lock, request.app, *request.channel, id));
  }
  return published;
}

std::expected<RsaSigner, std::string> readSigningKey(const std::filesystem::path& file) {
  // A signing key that others can read is as good as published.
  struct stat status {};
  if (::stat(file.c_str(), &status) == 0 && (status.st_mode & 077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
    return std::unexpected(file.string() + " can be read by other users (mode " + mode +
                           "): make it readable by its owner only (chmod 600)");
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::unexpected("Could not read the key file " + file.string());
  std::ostringstream text;
  text << in.rdbuf();
  auto signer = RsaSigner::fromPem(text.str());
  if (!signer) return std::unexpected(file.string() + " is not an RSA private key in PEM form");
  return std::move(*signer);
}

}  // namespace qelvo::publishing
