#include "publishing/deploy_root.h"

#include <fstream>
#include <sstream>

#include "toolkit/toolkit.h"
#include "publishing/atomic_write.h"

namespace qelvo::publishing {
namespace {

using json::Json;

std::expected<std::string, RootError> readText(const std::filesystem::path& file) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(file, error)) {
    return std::unexpected(RootError{RootError::Kind::missing, "No such file: " + file.string()});
  }
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in || in.bad()) {
    return std::unexpected(RootError{RootError::Kind::invalid, "Could not read " + file.string()});
  }
  return text.str();
}

RootError invalid(const std::filesystem::path& file, const DecodingError& error) {
  std::string where = error.codingPath.empty() ? "" : " at " + error.codingPath;
  return {RootError::Kind::invalid,
          file.string() + " is not valid" + where + ": " + error.description};
}

json::Decoded<SnapshotRecord> decodeSnapshot(std::string_view text) {
  QELVO_TRY(Json document, json::parse(text));
  QELVO_TRY(const Json* object, json::asObject(document, ""));
  SnapshotRecord record;
  QELVO_TRY(record.id, json::required<std::string>(*object, "id", ""));
  QELVO_TRY(record.build, json::required<std::int64_t>(*object, "build", ""));
  QELVO_TRY(record.compatibleBinaryVersions,
            json::optional<std::vector<std::string>>(*object, "compatible_binary_versions", ""));
  return record;
}

json::Decoded<Rollout> decodeRollout(const Json& value) {
  QELVO_TRY(const Json* object, json::asObject(value, "rollout"));
  Rollout rollout;
  QELVO_TRY(rollout.snapshot, json::required<std::string>(*object, "snapshot", "rollout"));
  QELVO_TRY(auto percent, json::required<std::int64_t>(*object, "percent", "rollout"));
  if (percent < 0 || percent > 100) {
    return std::unexpected(DecodingError{"rollout.percent", "The percent must lie in 0...100"});
  }
  rollout.percent = static_cast<int>(percent);
  return rollout;
}

json::Decoded<ChannelRecord> decodeChannel(std::string_view text) {
  QELVO_TRY(Json document, json::parse(text));
  QELVO_TRY(const Json* object, json::asObject(document, ""));
  ChannelRecord record;
  QELVO_TRY(record.snapshot, json::required<std::string>(*object, "snapshot", ""));
  QELVO_TRY(auto previous, json::optional<std::vector<std::string>>(*object, "previous", ""));
  record.previous = previous.value_or(std::vector<std::string>{});
  if (const Json* rollout = json::optionalMember(*object, "rollout")) {
    QELVO_TRY(record.rollout, decodeRollout(*rollout));
  }
  return record;
}

}  // namespace

bool DeployRoot::isValidName(std::string_view name) {
  return isSafePathComponent(name) && name.front() != '.';
}

std::filesystem::path DeployRoot::appDirectory(const std::string& app) const {
  return root_ / "apps" / app;
}

std::filesystem::path DeployRoot::channelFile(const std::string& app,
                                              const std::string& channel) const {
  return appDirectory(app) / "channels" / (channel + ".json");
}

std::filesystem::path DeployRoot::snapshotsDirectory(const std::string& app) const {
  return appDirectory(app) / "snapshots";
}

std::filesystem::path DeployRoot::snapshotDirectory(const std::string& app,
                                                    const std::string& id) const {
  return snapshotsDirectory(app) / id;
}

bool DeployRoot::hasApp(const std::string& app) const {
  std::error_code error;
  return isValidName(app) && std::filesystem::is_directory(appDirectory(app), error);
}

std::expected<ChannelRecord, RootError> DeployRoot::readChannel(const std::string& app,
                                                                const std::string& channel) const {
  if (!isValidName(app) || !isValidName(channel)) {
    return std::unexpected(RootError{RootError::Kind::missing, "No channel " + channel});
  }
  auto file = channelFile(app, channel);
  QELVO_TRY(auto text, readText(file));
  auto record = decodeChannel(text);
  if (!record) return std::unexpected(invalid(file, record.error()));
  return std::move(*record);
}

std::expected<SnapshotRecord, RootError> DeployRoot::readSnapshot(const std::string& app,
                                                                  const std::string& id) const {
  if (!isValidName(app) || !isValidName(id)) {
    return std::unexpected(RootError{RootError::Kind::missing, "No snapshot " + id});
  }
  auto file = snapshotDirectory(app, id) / kSnapshotRecordName;
  QELVO_TRY(auto text, readText(file));
  auto record = decodeSnapshot(text);
  if (!record) return std::unexpected(invalid(file, record.error()));
  if (record->id != id) {
    return std::unexpected(
        RootError{RootError::Kind::invalid, file.string() + " names snapshot " + record->id});
  }
  return std::move(*record);
}

std::expected<std::vector<SnapshotRecord>, RootError> DeployRoot::snapshots(
    const std::string& app) const {
  std::vector<SnapshotRecord> records;
  std::error_code error;
  for (std::filesystem::directory_iterator it(snapshotsDirectory(app), error), end;
       !error && it != end; it.increment(error)) {
    auto name = it->path().filename().string();
    if (!isValidName(name)) continue;  // work in progress
    QELVO_TRY(auto record, readSnapshot(app, name));
    records.push_back(std::move(record));
  }
  if (error && error != std::errc::no_such_file_or_directory) {
    return std::unexpected(RootError{RootError::Kind::invalid, "Could not list the snapshots of " +
                                                                   app + ": " + error.message()});
  }
  return records;
}

std::expected<void, std::string> DeployRoot::writeChannel(const std::string& app,
                                                          const std::string& channel,
                                                          const ChannelRecord& record) const {
  auto file = channelFile(app, channel);
  std::error_code error;
  std::filesystem::create_directories(file.parent_path(), error);
  if (error)
    return std::unexpected("Could not create " + file.parent_path().string() + ": " +
                           error.message());
  Json document = {{"snapshot", record.snapshot}, {"previous", record.previous}};
  if (record.rollout) {
    document["rollout"] = {{"snapshot", record.rollout->snapshot},
                           {"percent", record.rollout->percent}};
  }
  auto text = json::dump(document);
  if (!text) return std::unexpected(text.error().description);
  return writeFileAtomically(file, *text + "\n");
}

std::expected<std::string, std::string> encodeSnapshotRecord(const SnapshotRecord& record) {
  Json document = {{"id", record.id}, {"build", record.build}};
  if (record.compatibleBinaryVersions) {
    document["compatible_binary_versions"] = *record.compatibleBinaryVersions;
  }
  auto text = json::dump(document);
  if (!text) return std::unexpected(text.error().description);
  return *text + "\n";
}

}  // namespace qelvo::publishing
