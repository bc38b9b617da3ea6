/// @file
/// LiveUpdate: the host's registration of one embedded web application.
///
/// @code
///   qelvo::LiveUpdate app("a1b2c3", "production", /*syncOnAdd=*/false,
///                         qelvo::LiveUpdate::Strategy::differential);
///   manager->add(app);
/// @endcode
///
/// Its JSON form ("appId", "channel", "syncOnAdd", "strategy") is part of the public
/// interface: `toJson` writes all four keys; `fromJson` requires all four and accepts
/// only the strategies "zip" and "differential".
#pragma once

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>

#include "qelvo/export.h"
#include "qelvo/errors.h"

namespace qelvo {

/// The registration of one web application (see above): a plain value.
struct QELVO_EXPORT LiveUpdate {
  /// How a new snapshot is downloaded: as one ZIP archive, or file by file against its manifest,
  /// copying the files that did not change from the previous snapshot.
  enum class Strategy { zip, differential };

  std::string appId;  ///< the deploy service's id of the application
  std::string channel;  ///< the deploy channel it follows
  bool syncOnAdd;  ///< whether `add` starts a sync
  Strategy strategy;  ///< how snapshots are downloaded

  /// A registration with these fields, taken as given.
  LiveUpdate(std::string appId, std::string channel, bool syncOnAdd, Strategy strategy)
      : appId(std::move(appId)), channel(std::move(channel)), syncOnAdd(syncOnAdd),
        strategy(strategy) {}

  friend bool operator==(const LiveUpdate&, const LiveUpdate&) = default;

  /// "zip" or "differential".
  static std::string_view rawValue(Strategy strategy);

  /// Compact JSON with the four keys. Throws EncodingError when `appId` or `channel`
  /// is not valid UTF-8.
  std::string toJson() const;
  /// Fails with a DecodingError naming the offending key when a key is missing, has the
  /// wrong type, or "strategy" is not exactly "zip" or "differential".
  static std::expected<LiveUpdate, DecodingError> fromJson(std::string_view json);
};

}  // namespace qelvo

template <>
/// Hashes all four fields, as equality compares them.
struct QELVO_EXPORT std::hash<qelvo::LiveUpdate> {
  std::size_t operator()(const qelvo::LiveUpdate& u) const noexcept;  ///< never throws
};
