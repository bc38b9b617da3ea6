// The secure manager: the base manager with three steps replaced, so that a snapshot
// is only accepted when its manifest is signed with the configured key and its files
// match the manifest.
#include "qelvo/secure_live_update_manager.h"

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

#include "client/live_updates_client.h"
#include "client/service_operations.h"
#include "sync/progress_reporter.h"
#include "base/sync_errors.h"
#include "sync/sync_limits.h"
#include "base/try.h"
#include "retrieval/file_manager_util.h"
#include "retrieval/file_digest.h"
#include "secure/integrity.h"
#include "secure/public_key.h"
#include "secure/release_claims.h"
#include "secure/signed_manifest.h"
#include "secure/snapshot_fingerprint.h"
#include "store/app_store.h"
#include "store/verified_snapshots.h"

namespace qelvo {
namespace {

using FailStep = SyncError::FailStep;
using Failure = SecureUpdateFailureReason;

constexpr const char* kInvalidKey = "The key provided is not a valid RSA public key.";
constexpr const char* kManifestFileName = "live-update-manifest.json";

std::shared_ptr<const RsaPublicKey> keyFromText(const std::string& text) {
  auto key = RsaPublicKey::fromText(text);
  if (!key) throw ConfigurationError(kInvalidKey);
  return key;
}

std::shared_ptr<const RsaPublicKey> keyFromFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  if (!in || !(text << in.rdbuf())) throw ConfigurationError(kInvalidKey);
  return keyFromText(text.str());
}

SyncError secureFailure(const std::string& appId, FailStep step, Failure::Value failure) {
  return makeSyncError(appId, step, SyncError::Reason::secureUpdateError(Failure{std::move(failure)}));
}

// The manifest file's text; none when it cannot be read or is larger than `maxBytes`.
std::optional<std::string> readManifestFile(const std::filesystem::path& file,
                                            std::uint64_t maxBytes) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(file, ec);
  if (ec || size > maxBytes) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  std::string text(static_cast<std::size_t>(size), '\0');
  if (!in.read(text.data(), static_cast<std::streamsize>(size)) || in.peek() != EOF) {
    return std::nullopt;  // it changed while it was read
  }
  return text;
}

}  // namespace

SecureLiveUpdateManager::SecureLiveUpdateManager(const std::string& named,
                                                 const std::string& publicKey, int maxVersions)
    : SecureLiveUpdateManager(keyFromText(publicKey), named, maxVersions) {}

SecureLiveUpdateManager::SecureLiveUpdateManager(const std::string& named,
                                                 const std::filesystem::path& publicKeyUrl,
                                                 int maxVersions)
    : SecureLiveUpdateManager(keyFromFile(publicKeyUrl), named, maxVersions) {}

// The key is parsed before anything else is set up, so a bad key leaves nothing behind.
SecureLiveUpdateManager::SecureLiveUpdateManager(std::shared_ptr<const RsaPublicKey> key,
                                                 const std::string& named, int maxVersions)
    : LiveUpdateManager(openNamedStore(named), LiveUpdatesClient::live(),
                        std::make_shared<FileManagerUtil>()),
      publicKey_(std::move(key)) {
  setLogTag("SecureLiveUpdateManager");
  setMaxVersions(maxVersions);
}

SecureLiveUpdateManager::~SecureLiveUpdateManager() = default;

std::expected<LiveUpdateManager::UnpackResult, Error> SecureLiveUpdateManager::unpack(
    const SyncContext& context, const std::string& snapshotId) {
  const auto& appId = context.appId;
  QELVO_TRY(auto unpacked, LiveUpdateManager::unpack(context, snapshotId));
  const auto manifestFile = unpacked.snapshotDirectory / kManifestFileName;
  std::error_code ec;
  if (!std::filesystem::exists(manifestFile, ec)) {
    return std::unexpected(secureFailure(appId, FailStep::unpack, Failure::MissingManifest{}));
  }
  // Held to the bound of a fetched manifest before it is read: an archive may carry a
  // small compressed file that is huge once unpacked.
  auto text = readManifestFile(manifestFile, context.limits.maxManifestBytes);
  auto document = text ? SecureManifest::decode(*text)
                       : std::unexpected(DecodingError("", "unreadable or too large"));
  if (!document) {
    return std::unexpected(secureFailure(appId, FailStep::unpack, Failure::InvalidManifest{}));
  }
  const auto verified = firstVerifyingSignature(*document, *publicKey_, context.stop);
  if (context.stop.stop_requested()) return std::unexpected(CancellationError());
  if (!verified) {
    return std::unexpected(secureFailure(appId, FailStep::unpack, Failure::SignatureValidationError{}));
  }
  QELVO_TRY_VOID(checkReleaseClaims(context, *document, *verified, FailStep::unpack));
  if (context.progress) context.progress->phase(ProgressReporter::Phase::verify);
  auto violations = validateIntegrity(unpacked.snapshotDirectory, document->manifest, context.stop);
  if (context.stop.stop_requested()) return std::unexpected(CancellationError());
  if (!violations.empty()) {
    return std::unexpected(secureFailure(appId, FailStep::unpack,
                                         Failure::IntegrityValidationError{std::move(violations)}));
  }
  return unpacked;
}

std::expected<LiveUpdateManager::FetchedManifest, Error> SecureLiveUpdateManager::fetchManifest(
    const SyncContext& context, const Url& url) {
  const auto& appId = context.appId;
  // Client and decoding failures are handed on as they are, not as sync errors; only a
  // manifest over its size limit is reported like every other limit, as the download's.
  auto fetched =
      client().fetchManifest(url, context.stop, manifestExchangeLimits(context));
  if (!fetched && isBodyOverCap(fetched.error())) {
    return std::unexpected(syncErrorFromClient(appId, FailStep::download, fetched.error()));
  }
  if (!fetched) return std::unexpected(fetched.error());
  auto document = SecureManifest::decode(fetched->body);
  if (!document) return std::unexpected(document.error());
  const auto verified = firstVerifyingSignature(*document, *publicKey_, context.stop);
  if (context.stop.stop_requested()) return std::unexpected(CancellationError());
  if (!verified) {
    return std::unexpected(secureFailure(appId, FailStep::unpack, Failure::SignatureValidationError{}));
  }
  QELVO_TRY_VOID(checkReleaseClaims(context, *document, *verified, FailStep::download));
  return FetchedManifest{std::move(document->manifest), std::move(fetched->url)};
}

std::expected<void, Error> SecureLiveUpdateManager::writeManifest(
    const SyncContext& context, const std::filesystem::path& directory, const Manifest& manifest) {
  if (context.progress) context.progress->phase(ProgressReporter::Phase::verify);
  auto violations = validateIntegrity(directory, manifest, context.stop);
  if (context.stop.stop_requested()) return std::unexpected(CancellationError());
  if (!violations.empty()) {
    return std::unexpected(secureFailure(context.appId, FailStep::download,
                                         Failure::IntegrityValidationError{std::move(violations)}));
  }
  return LiveUpdateManager::writeManifest(context, directory, manifest);
}

std::uint64_t SecureLiveUpdateManager::fileSizeBound(std::uint64_t declaredSize,
                                                    const Limits& limits) const {
  return std::min(declaredSize, limits.maxFileBytes);
}

std::expected<void, Error> SecureLiveUpdateManager::checkReleaseClaims(
    const SyncContext& context, const SecureManifest& document, std::size_t signature,
    FailStep step) {
  auto claims = readReleaseClaims(document.signatures[signature].protectedHeader);
  if (!claims) return std::unexpected(metadataError(context.appId, step, claims.error()));
  const auto record = verifiedRecord(*userDefaults(), context.appId);
  const ClaimExpectations expected{.app = context.appId,
                                   .snapshot = context.snapshotId,
                                   .highestAccepted = record.highestSequence,
                                   .now = std::chrono::system_clock::now(),
                                   .required = claimsRequired_};
  if (auto refusal = claimsRefusal(*claims, expected)) {
    log(*refusal);
    return std::unexpected(metadataError(context.appId, step, *refusal));
  }
  verifiedSequences_.set(context.appId,
                         std::pair{context.snapshotId, *claims ? std::optional((*claims)->sequence)
                                                               : std::nullopt});
  return {};
}

bool SecureLiveUpdateManager::needsDownload(const std::string& appId,
                                            const std::string& snapshotId) const {
  if (LiveUpdateManager::needsDownload(appId, snapshotId)) return true;
  auto directory = fileManager().snapshotDirectory(appId, snapshotId);
  const auto record = verifiedRecord(*userDefaults(), appId);
  auto verified = record.snapshots.find(snapshotId);
  if (!directory || verified == record.snapshots.end() ||
      snapshotFingerprint(*directory) != verified->second.fingerprint) {
    return true;
  }
  // An older release than the newest applied is not selected from the cache: it is
  // fetched again, and applied only if a newer release of it says so.
  const auto& sequence = verified->second.sequence;
  return record.highestSequence && (!sequence || *sequence < *record.highestSequence);
}

bool SecureLiveUpdateManager::saveMetadata(QelWebApp app, Channel channel, Snapshot snapshot,
                                           Date date) {
  const auto appId = app.id;
  const auto snapshotId = snapshot.id;
  if (!LiveUpdateManager::saveMetadata(std::move(app), std::move(channel), std::move(snapshot),
                                       date)) {
    return false;
  }
  // Taken right after the snapshot was verified (or found unchanged since): what it is
  // compared with before the snapshot is served from the cache again.
  auto directory = fileManager().snapshotDirectory(appId, snapshotId);
  auto fingerprint = directory ? snapshotFingerprint(*directory) : std::nullopt;
  if (!fingerprint) return true;  // not recorded: the next sync verifies it again
  // The release sequence: the one just verified, or (applied from the cache) the one
  // recorded with it; the highest accepted only grows once a release is applied.
  std::optional<std::int64_t> sequence;
  if (auto verified = verifiedSequences_.get(appId); verified && verified->first == snapshotId) {
    sequence = verified->second;
  } else {
    const auto record = verifiedRecord(*userDefaults(), appId);
    if (auto known = record.snapshots.find(snapshotId); known != record.snapshots.end()) {
      sequence = known->second.sequence;
    }
  }
  std::set<std::string> kept;
  for (const auto& each : storedSnapshots(appId)) kept.insert(each.id);
  recordVerifiedSnapshot(*userDefaults(), appId, snapshotId, {*fingerprint, sequence}, kept);
  return true;
}

std::expected<void, Error> SecureLiveUpdateManager::acceptExistingSnapshot(
    const SyncContext& context, const std::filesystem::path& existing,
    const std::filesystem::path& staging) {
  // The manifest in `staging` has just been verified, and every file of `staging`
  // against it: the existing directory must hold the same manifest and pass the same
  // check.
  std::vector<IntegrityViolation> violations;
  auto verifiedText = readManifestFile(staging / kManifestFileName, context.limits.maxManifestBytes);
  auto verified = verifiedText ? Manifest::decode(*verifiedText)
                               : std::unexpected(DecodingError("", "unreadable"));
  if (!verified) {
    return std::unexpected(secureFailure(context.appId, FailStep::unpack, Failure::InvalidManifest{}));
  }
  auto existingText = readManifestFile(existing / kManifestFileName, context.limits.maxManifestBytes);
  if (existingText != verifiedText) {
    violations.push_back({kManifestFileName,
                          IntegrityViolation::InvalidSha{contentDigestText(*verifiedText),
                                                         existingText ? contentDigestText(*existingText)
                                                                      : std::string()}});
  }
  auto files = validateIntegrity(existing, *verified, context.stop);
  if (context.stop.stop_requested()) return std::unexpected(CancellationError());
  violations.insert(violations.end(), files.begin(), files.end());
  if (!violations.empty()) {
    return std::unexpected(secureFailure(context.appId, FailStep::unpack,
                                         Failure::IntegrityValidationError{std::move(violations)}));
  }
  return {};
}

}  // namespace qelvo
