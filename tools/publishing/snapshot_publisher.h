// Publishing a directory of web files as a new snapshot of an app: the files, their
// manifest (signed once per key when keys are given), the archive devices download,
// and snapshot.json. The snapshot is assembled beside its final place and renamed in,
// then the channel, when one is named, is moved to it.
//
//   auto published = publishSnapshot(DeployRoot("/srv/deploy"),
//                                     {.app = "kiosk", .source = "dist", .channel = "production"});
//   if (published) std::cout << published->record.id;
#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "publishing/app_lock.h"
#include "publishing/deploy_root.h"
#include "publishing/rsa_signer.h"

namespace qelvo::publishing {

struct PublishRequest {
  std::string app{};
  std::filesystem::path source{};
  // A fresh UUID when absent.
  std::optional<std::string> snapshotId{};
  // One more than the app's highest build when absent.
  std::optional<std::int64_t> build{};
  // One signature per key; an unsigned manifest without keys. Each signature carries the
  // release's claims (app, snapshot id, build as its sequence, creation time, and the
  // expiry below, if any).
  std::vector<RsaSigner> signers{};
  // Signed releases expire this long after they are made (none when absent).
  std::optional<std::chrono::seconds> expiresAfter{};
  // The source is the files/ directory of an existing snapshot (a new release of its
  // files): its manifest is left out and written again.
  bool sourceIsSnapshot = false;
  // Patches are made against the app's newest this many snapshots (0: none).
  std::size_t patchFromLast = 2;
  // The host binary versions the snapshot runs with; any when absent.
  std::optional<std::vector<std::string>> compatibleBinaryVersions{};
  // Moved to the new snapshot when given.
  std::optional<std::string> channel{};
  // With a channel: offers the new snapshot to this share (0 to 100) of the channel's
  // devices only, the others keeping the channel's snapshot (see channel_moves.h).
  std::optional<int> rolloutPercent{};
};

struct PublishedSnapshot {
  SnapshotRecord record;
  std::size_t fileCount = 0;  // bundle files, the manifest not counted
  std::uintmax_t archiveBytes = 0;
  std::optional<ChannelRecord> channel;  // the channel's record after the move
  std::size_t patchCount = 0;            // patches from older snapshots, kept beside the files
};

// Publishes, or says why nothing was published (the root is then unchanged, except
// that a failed channel move leaves the finished snapshot in place).
[[nodiscard]] std::expected<PublishedSnapshot, std::string> publishSnapshot(
    const DeployRoot& root, const PublishRequest& request);

// `publishSnapshot` under the app's lock, which the caller already holds.
[[nodiscard]] std::expected<PublishedSnapshot, std::string> publishSnapshotLocked(
    const DeployRoot& root, const AppLock& lock, const PublishRequest& request);

// Whether snapshot `id` of `app` carries a signed manifest.
bool isSignedSnapshot(const DeployRoot& root, const std::string& app, const std::string& id);

// The private key in a PEM file, for signing.
[[nodiscard]] std::expected<RsaSigner, std::string> readSigningKey(
    const std::filesystem::path& file);

}  // namespace qelvo::publishing
