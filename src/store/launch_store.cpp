#include "store/launch_store.h"

#include <utility>

#include "base/output.h"
#include "store/app_store.h"

namespace qelvo {
namespace {

LaunchRecord decodeStored(const std::optional<std::string>& bytes) {
  if (!bytes) return {};
  auto record = decodeLaunch(*bytes);
  if (!record) {
    printLine("Error getting launch record");
    return {};
  }
  return std::move(*record);
}

}  // namespace

LaunchRecord getLaunch(const KeyValueSuite& store, const std::string& appId) {
  auto bytes = store.data(launchKey(appId));
  if (!bytes) {
    printLine(bytes.error().description);
    return {};
  }
  return decodeStored(*bytes);
}

std::expected<bool, Error> updateAppAndLaunch(KeyValueSuite& store, const std::string& appId,
                                              const AppLaunchChange& change) {
  std::optional<EncodingError> encodingError;
  auto stored = updateAppAndData(
      store, appId, launchKey(appId),
      [&](std::optional<QelWebApp>& app, std::optional<std::string>& data) {
        const auto stored = decodeStored(data);
        auto launch = stored;
        if (!change(app, launch)) return false;
        if (launch == stored) {
          data.reset();  // unchanged: left as it is (never stored, when it is empty)
          return true;
        }
        auto json = encodeLaunch(launch);
        if (!json) {
          printLine("Error saving launch record");
          encodingError = std::move(json.error());
          return false;
        }
        data = std::move(*json);
        return true;
      });
  if (encodingError) return std::unexpected(std::move(*encodingError));
  if (!stored) return std::unexpected(std::move(stored.error()));
  return *stored;
}

bool updateAppSeeingLaunch(KeyValueSuite& store, const std::string& appId,
                           const AppChangeSeeingLaunch& change) {
  auto stored =
      updateAppAndLaunch(store, appId, [&](std::optional<QelWebApp>& app, LaunchRecord& launch) {
        // The launch record is only read: unchanged, it is not written back.
        return change(app, std::as_const(launch)) && app.has_value();
      });
  return stored.value_or(false);
}

}  // namespace qelvo
