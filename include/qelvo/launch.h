/// @file
/// The launch guard: a snapshot that syncs fine but does not start is given up by itself,
/// and the app returns to the last snapshot that did start (or to the host's embedded
/// copy), without waiting for the deploy service.
///
/// Opt-in: a host that never calls `beginLaunch` sees no change at all.
///
/// @code
///   auto attempt = manager->beginLaunch("shop");  // recorded on disk before it returns
///   webView.load(attempt.directory ? *attempt.directory / "index.html" : embeddedIndex);
///   // once the web app says it is up (its own "ready" message, not a page-load event):
///   manager->confirmLaunch("shop", attempt.id);
///   // or, on an error the host knows is fatal:
///   manager->reportBadLaunch("shop", attempt.id, "TypeError: app is undefined");
/// @endcode
///
/// Every launch is one attempt with an id of its own; only the latest attempt of an app
/// can be confirmed or reported, so a late message of an earlier page never counts for
/// a later bundle. No clock is involved: an attempt may be confirmed however long the
/// start takes. A snapshot whose launches go unconfirmed `maxUnconfirmedLaunches()` times
/// in a row (the process died, or the host never confirmed), or whose launch is reported
/// bad, is marked failed: the channel returns to the last confirmed snapshot, syncs never
/// apply or download the failed one again, and `launchState` says when and why.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qelvo/export.h"
#include "qelvo/records.h"

namespace qelvo {

/// What `beginLaunch` hands the host: what to load, and the id to confirm or report.
struct LaunchAttempt {
  std::string id;  ///< names the attempt for `confirmLaunch` and `reportBadLaunch`
  std::optional<std::string> snapshotId;           ///< none: the host's embedded copy
  std::optional<std::filesystem::path> directory;  ///< the snapshot's directory; none: embedded
  std::optional<std::string> rolledBackFrom;       ///< the snapshot this launch gave up, if any

  friend bool operator==(const LaunchAttempt&, const LaunchAttempt&) = default;
};

/// A snapshot that failed to launch on this device: never applied again.
struct FailedSnapshot {
  std::string snapshotId;  ///< the snapshot given up
  Date failedAt;  ///< when it was given up
  std::string reason;  ///< why: the host's reason, or the unconfirmed launches

  friend bool operator==(const FailedSnapshot&, const FailedSnapshot&) = default;
};

/// What the launch guard knows of one application.
struct QELVO_EXPORT LaunchState {
  /// What became of an attempt: not (yet) confirmed, confirmed, or reported bad.
  enum class Status { started, confirmed, bad };
  /// "started", "confirmed" or "bad".
  static std::string_view rawValue(Status status);
  /// One launch attempt as recorded.
  struct Attempt {
    std::string id;  ///< the id `beginLaunch` handed out
    std::optional<std::string> snapshotId;  ///< none: the host's embedded copy
    Date started;  ///< when `beginLaunch` recorded it
    Status status = Status::started;  ///< what became of it
    /// Launches of `snapshotId` in a row, this one included, that were never confirmed.
    int unconfirmedLaunches = 0;

    friend bool operator==(const Attempt&, const Attempt&) = default;
  };

  std::optional<std::string> currentSnapshot;    ///< what the next launch loads
  std::optional<std::string> confirmedSnapshot;  ///< the last one confirmed: where rollbacks go
  std::vector<FailedSnapshot> failedSnapshots;   ///< oldest first
  std::optional<Attempt> lastAttempt;  ///< the application's latest attempt, if any

  friend bool operator==(const LaunchState&, const LaunchState&) = default;
};

}  // namespace qelvo
