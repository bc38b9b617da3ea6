// DeployRoot: the directory tree that qelvo-publish writes and qelvo-deploy-server
// serves. Everything in it is written whole and renamed in (see atomic_write.h), so a
// server reading while a publisher writes sees each file old or new, never half.
//
//   <root>/apps/<app>/channels/<channel>.json    {"snapshot":"<id>","previous":["<id>",..],
//                                                  "rollout"?:{"snapshot":"<id>","percent":N}}
//   <root>/apps/<app>/snapshots/<id>/snapshot.json  {"id","build","compatible_binary_versions"?}
//   <root>/apps/<app>/snapshots/<id>/bundle.zip     the archive of files/
//   <root>/apps/<app>/snapshots/<id>/files/...      the bundle as a device keeps it,
//                                                   live-update-manifest.json included
//   <root>/apps/<app>/.lock                          held while a publisher changes the app
//
//   DeployRoot root("/srv/deploy");
//   auto channel = root.readChannel("kiosk", "production");   // which snapshot it serves
//   auto snapshot = root.readSnapshot("kiosk", channel->snapshot);
//
// Names beginning with "." are reserved for work in progress and never name an app, a
// channel or a snapshot.
#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qelvo::publishing {

inline constexpr std::string_view kArchiveName = "bundle.zip";
inline constexpr std::string_view kFilesDirectoryName = "files";
inline constexpr std::string_view kSnapshotRecordName = "snapshot.json";
inline constexpr std::string_view kManifestName = "live-update-manifest.json";

// One published snapshot.
struct SnapshotRecord {
  std::string id;
  std::int64_t build = 0;
  // The host binary versions it runs with; absent when it runs with any.
  std::optional<std::vector<std::string>> compatibleBinaryVersions;

  friend bool operator==(const SnapshotRecord&, const SnapshotRecord&) = default;
};

// A snapshot offered to a share of the devices only (see rollout.h); the others keep
// the channel's snapshot.
struct Rollout {
  std::string snapshot;
  int percent = 0;  // 0 to 100

  friend bool operator==(const Rollout&, const Rollout&) = default;
};

// What a channel serves, and the snapshots it served before, most recent first. A
// record without "rollout" (every record written before rollouts existed) serves its
// snapshot to every device; a server that does not know rollouts does the same, so
// the snapshot under trial never reaches more devices than intended.
struct ChannelRecord {
  std::string snapshot;
  std::vector<std::string> previous;
  std::optional<Rollout> rollout{};

  friend bool operator==(const ChannelRecord&, const ChannelRecord&) = default;
};

// Why a record could not be read: it is not there, or it is there but unusable.
struct RootError {
  enum class Kind { missing, invalid };
  Kind kind;
  std::string message;
};

class DeployRoot {
 public:
  explicit DeployRoot(std::filesystem::path root) : root_(std::move(root)) {}

  // Whether `name` may name an app, a channel or a snapshot: one path component, not
  // beginning with ".".
  static bool isValidName(std::string_view name);

  const std::filesystem::path& path() const { return root_; }
  std::filesystem::path appDirectory(const std::string& app) const;
  std::filesystem::path channelFile(const std::string& app, const std::string& channel) const;
  std::filesystem::path snapshotsDirectory(const std::string& app) const;
  std::filesystem::path snapshotDirectory(const std::string& app, const std::string& id) const;

  bool hasApp(const std::string& app) const;
  std::expected<ChannelRecord, RootError> readChannel(const std::string& app,
                                                      const std::string& channel) const;
  std::expected<SnapshotRecord, RootError> readSnapshot(const std::string& app,
                                                        const std::string& id) const;
  // Every finished snapshot of the app, in no particular order.
  std::expected<std::vector<SnapshotRecord>, RootError> snapshots(const std::string& app) const;

  // Replaces the channel's record in one step.
  [[nodiscard]] std::expected<void, std::string> writeChannel(const std::string& app,
                                                              const std::string& channel,
                                                              const ChannelRecord& record) const;

 private:
  std::filesystem::path root_;
};

// The JSON text of snapshot.json; fails on text that is not valid UTF-8.
std::expected<std::string, std::string> encodeSnapshotRecord(const SnapshotRecord& record);

}  // namespace qelvo::publishing
