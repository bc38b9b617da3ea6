// SyncError: why one application's sync failed, in which step, and for which app.
//
//   manager->sync(appId, [](std::expected<SyncResult, SyncError> outcome) {
//     if (!outcome) std::cerr << outcome.error().errorDescription();
//   });
//
// `errorDescription()` renders the whole error, for example:
//   Failure occured during download step.
//   Network Error - The operation couldn’t be completed. (QelvoLiveUpdates.NetworkClientError error 0.)
// Only the library constructs SyncError values; the fields may be changed by the host.
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

// One file of a bundle that failed the integrity check.
struct IntegrityViolation {
  struct InvalidSha {
    std::string expectedSha;  // the manifest's integrity text, verbatim
    std::string actualSha;    // "sha256-" + Base64 of the file's digest
    friend bool operator==(const InvalidSha&, const InvalidSha&) = default;
  };
  struct FileNotFound {
    friend bool operator==(const FileNotFound&, const FileNotFound&) = default;
  };
  struct FileNotInManifest {
    friend bool operator==(const FileNotInManifest&, const FileNotInManifest&) = default;
  };
  using Reason = std::variant<InvalidSha, FileNotFound, FileNotInManifest>;

  std::string href;  // relative to the snapshot directory
  Reason reason;

  friend bool operator==(const IntegrityViolation&, const IntegrityViolation&) = default;
};

// Why a signed bundle was refused.
struct SecureUpdateFailureReason {
  struct IntegrityValidationError {
    std::vector<IntegrityViolation> violations;
    friend bool operator==(const IntegrityValidationError&,
                           const IntegrityValidationError&) = default;
  };
  struct MissingManifest {
    friend bool operator==(const MissingManifest&, const MissingManifest&) = default;
  };
  struct InvalidManifest {
    friend bool operator==(const InvalidManifest&, const InvalidManifest&) = default;
  };
  struct SignatureValidationError {
    friend bool operator==(const SignatureValidationError&,
                           const SignatureValidationError&) = default;
  };
  using Value = std::variant<IntegrityValidationError, MissingManifest, InvalidManifest,
                             SignatureValidationError>;
  Value value;

  friend bool operator==(const SecureUpdateFailureReason&,
                         const SecureUpdateFailureReason&) = default;
};

class QELVO_EXPORT SyncError : public std::exception {
 public:
  enum class FailStep { check, download, unpack, update };

  // The cause of the failure, with its payload.
  struct Reason {
    struct FileManagerError {
      FileOperationError reason;
      friend bool operator==(const FileManagerError&, const FileManagerError&) = default;
    };
    struct NetworkError {
      NetworkClientError reason;
      friend bool operator==(const NetworkError&, const NetworkError&) = default;
    };
    struct MetadataError {
      std::string reason;
      friend bool operator==(const MetadataError&, const MetadataError&) = default;
    };
    struct SecureUpdateError {
      SecureUpdateFailureReason reason;
      friend bool operator==(const SecureUpdateError&, const SecureUpdateError&) = default;
    };
    using Value = std::variant<FileManagerError, NetworkError, MetadataError, SecureUpdateError>;

    static Reason fileManagerError(FileOperationError e) { return {FileManagerError{std::move(e)}}; }
    static Reason networkError(NetworkClientError e) { return {NetworkError{std::move(e)}}; }
    static Reason metadataError(std::string text) { return {MetadataError{std::move(text)}}; }
    static Reason secureUpdateError(SecureUpdateFailureReason r) {
      return {SecureUpdateError{std::move(r)}};
    }

    Value value;
    friend bool operator==(const Reason&, const Reason&) = default;
  };

  // "check", "download", "unpack" or "update".
  static std::string_view rawValue(FailStep step);
  // The step whose raw value is exactly `raw` (case-sensitive), if any.
  static std::optional<FailStep> failStepFromRawValue(std::string_view raw);

  std::string appId;
  FailStep failStep;
  Reason reason;

  // The full human-readable text of the error.
  std::string errorDescription() const;
  // The wait the deploy service asked for when it refused the request behind this
  // failure (Retry-After with 429 or 503, NetworkClientError::retryAfter); none when the
  // failure is not such a refusal. A host that syncs on a schedule waits at least that
  // long before its next sync.
  std::optional<std::chrono::seconds> retryAfter() const;
  const char* what() const noexcept override;

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
