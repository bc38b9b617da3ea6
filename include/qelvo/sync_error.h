/// @file
/// SyncError: why one application's sync failed, in which step, and for which app.
///
/// @code
///   manager->sync(appId, [](std::expected<SyncResult, SyncError> outcome) {
///     if (!outcome) std::cerr << outcome.error().errorDescription();
///   });
/// @endcode
///
/// `errorDescription()` renders the whole error, for example:
/// @code
///   Failure occured during download step.
///   Network Error - The operation couldn’t be completed. (QelvoLiveUpdates.NetworkClientError error 0.)
/// @endcode
/// Only the library constructs SyncError values; the fields may be changed by the host.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "qelvo/export.h"
#include "qelvo/errors.h"

namespace qelvo {

namespace detail {
struct SyncErrorFactory;
}

/// One file of a bundle that failed the integrity check.
struct IntegrityViolation {
  /// Its digest differs from the manifest's integrity value.
  struct InvalidSha {
    std::string expectedSha;  ///< the manifest's integrity text, verbatim
    std::string actualSha;    ///< "sha256-" + Base64 of the file's digest
    friend bool operator==(const InvalidSha&, const InvalidSha&) = default;
  };
  /// The manifest lists it, but the bundle does not hold it.
  struct FileNotFound {
    friend bool operator==(const FileNotFound&, const FileNotFound&) = default;
  };
  /// The bundle holds it, but the manifest does not list it.
  struct FileNotInManifest {
    friend bool operator==(const FileNotInManifest&, const FileNotInManifest&) = default;
  };
  /// What was wrong with it.
  using Reason = std::variant<InvalidSha, FileNotFound, FileNotInManifest>;

  std::string href;  ///< relative to the snapshot directory
  Reason reason;  ///< what was wrong with the file

  friend bool operator==(const IntegrityViolation&, const IntegrityViolation&) = default;
};

/// Why a signed bundle was refused.
struct SecureUpdateFailureReason {
  /// Files failed the integrity check.
  struct IntegrityValidationError {
    std::vector<IntegrityViolation> violations;  ///< every file that failed, one entry each
    friend bool operator==(const IntegrityValidationError&,
                           const IntegrityValidationError&) = default;
  };
  /// The bundle has no manifest.
  struct MissingManifest {
    friend bool operator==(const MissingManifest&, const MissingManifest&) = default;
  };
  /// The manifest is not a signed manifest that decodes.
  struct InvalidManifest {
    friend bool operator==(const InvalidManifest&, const InvalidManifest&) = default;
  };
  /// No signature of the manifest verifies with the key.
  struct SignatureValidationError {
    friend bool operator==(const SignatureValidationError&,
                           const SignatureValidationError&) = default;
  };
  /// The case and its payload.
  using Value = std::variant<IntegrityValidationError, MissingManifest, InvalidManifest,
                             SignatureValidationError>;
  Value value;  ///< the case

  friend bool operator==(const SecureUpdateFailureReason&,
                         const SecureUpdateFailureReason&) = default;
};

/// Why one application's sync failed (see above). A plain value: copyable, comparable, and safe to
/// hand between threads.
class QELVO_EXPORT SyncError : public std::exception {
 public:
  /// The step of the sync that failed: asking the deploy service, downloading, unpacking or
  /// verifying into the cache, or recording the snapshot as current.
  enum class FailStep { check, download, unpack, update };

  /// The cause of the failure, with its payload.
  struct Reason {
    /// The filesystem layer failed.
    struct FileManagerError {
      FileOperationError reason;  ///< its error
      friend bool operator==(const FileManagerError&, const FileManagerError&) = default;
    };
    /// The deploy service could not be reached, or refused.
    struct NetworkError {
      NetworkClientError reason;  ///< the client's error
      friend bool operator==(const NetworkError&, const NetworkError&) = default;
    };
    /// What the service answered, or what the manager has recorded, does not allow the sync.
    struct MetadataError {
      std::string reason;  ///< the text of the failure
      friend bool operator==(const MetadataError&, const MetadataError&) = default;
    };
    /// A secure manager refused the bundle.
    struct SecureUpdateError {
      SecureUpdateFailureReason reason;  ///< why
      friend bool operator==(const SecureUpdateError&, const SecureUpdateError&) = default;
    };
    /// The case.
    using Value = std::variant<FileManagerError, NetworkError, MetadataError, SecureUpdateError>;

    ///@{
    /// A reason of the case named, carrying its payload.
    static Reason fileManagerError(FileOperationError e) { return {FileManagerError{std::move(e)}}; }
    static Reason networkError(NetworkClientError e) { return {NetworkError{std::move(e)}}; }
    static Reason metadataError(std::string text) { return {MetadataError{std::move(text)}}; }
    static Reason secureUpdateError(SecureUpdateFailureReason r) {
      return {SecureUpdateError{std::move(r)}};
    }
    ///@}

    Value value;  ///< the case and its payload
    friend bool operator==(const Reason&, const Reason&) = default;
  };

  /// "check", "download", "unpack" or "update".
  static std::string_view rawValue(FailStep step);
  /// The step whose raw value is exactly `raw` (case-sensitive), if any.
  static std::optional<FailStep> failStepFromRawValue(std::string_view raw);

  std::string appId;  ///< the application whose sync failed
  FailStep failStep;  ///< where it failed
  Reason reason;  ///< why it failed

  /// The full human-readable text of the error.
  std::string errorDescription() const;
  /// The wait the deploy service asked for when it refused the request behind this
  /// failure (Retry-After with 429 or 503, NetworkClientError::retryAfter); none when the
  /// failure is not such a refusal. A host that syncs on a schedule waits at least that
  /// long before its next sync.
  std::optional<std::chrono::seconds> retryAfter() const;
  const char* what() const noexcept override;  ///< `errorDescription()`

  friend bool operator==(const SyncError& a, const SyncError& b) {
    return a.appId == b.appId && a.failStep == b.failStep && a.reason == b.reason;
  }

 private:
  friend struct detail::SyncErrorFactory;
  SyncError(std::string appId, FailStep step, Reason reason)
      : appId(std::move(appId)), failStep(step), reason(std::move(reason)) {}
  mutable std::string whatText_;
};

}  // namespace qelvo
