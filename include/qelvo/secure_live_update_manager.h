/// @file
/// SecureLiveUpdateManager: a LiveUpdateManager that accepts only bundles signed by the
/// holder of one RSA private key (RSASSA-PKCS1-v1_5 with SHA-256), and whose files all
/// match the SHA-256 integrity values of their signed manifest.
///
/// @code
///   auto manager = std::make_shared<qelvo::SecureLiveUpdateManager>(
///       "kiosk", std::filesystem::path("/etc/kiosk/update-key.pem"), 3);
///   manager->add(qelvo::LiveUpdate("a1b2c3", "production", false,
///                                  qelvo::LiveUpdate::Strategy::differential));
///   manager->sync("a1b2c3").get();  // throws SyncError when the bundle is not signed
/// @endcode
///
/// The key is PEM text: a header line, Base64 lines, a footer line. Both the PKCS #1
/// ("BEGIN RSA PUBLIC KEY") and the SubjectPublicKeyInfo ("BEGIN PUBLIC KEY") forms are
/// accepted. Construction throws ConfigurationError "The key provided is not a valid RSA
/// public key." for an unreadable file or anything that is not an RSA public key.
/// (Pass a std::string for key text and a std::filesystem::path for a key file.)
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <utility>
#include <memory>
#include <string>

#include "qelvo/export.h"
#include "qelvo/live_update_manager.h"

namespace qelvo {

class RsaPublicKey;
struct SecureManifest;

/// A manager that accepts only signed bundles (see above); otherwise a LiveUpdateManager in every
/// way, threads included.
class QELVO_EXPORT SecureLiveUpdateManager : public LiveUpdateManager {
 public:
  /// A manager on the metadata suite `named` that trusts the RSA public key in PEM text
  /// `publicKey`. Throws ConfigurationError for a key that is not one, or as LiveUpdateManager's
  /// constructor does.
  SecureLiveUpdateManager(const std::string& named, const std::string& publicKey, int maxVersions);
  /// The same, with the key read from the PEM file `publicKeyUrl` (ConfigurationError when it
  /// cannot be read).
  SecureLiveUpdateManager(const std::string& named, const std::filesystem::path& publicKeyUrl,
                          int maxVersions);
  ~SecureLiveUpdateManager() override;

  /// Release claims (the app, snapshot id, release sequence and expiry a signature covers;
  /// see docs/protocol.md) are checked whenever a signed manifest carries them: a release for
  /// another app or snapshot, older than the newest one applied, or expired, is refused.
  /// A manifest without claims is accepted until a release of the app with claims has been
  /// applied, or always refused once `requireReleaseClaims(true)` is set.
  void requireReleaseClaims(bool required) { claimsRequired_ = required; }
  bool releaseClaimsRequired() const { return claimsRequired_; }  ///< as last set; false by default

 protected:
  /// Unpacks the archive as the base manager does, then verifies its signed manifest, its
  /// release claims and every file against it (failing at step `unpack`).
  std::expected<UnpackResult, Error> unpack(const SyncContext& context,
                                            const std::string& snapshotId) override;
  /// Fetches the signed manifest and verifies it: no verifying signature fails at step
  /// `unpack`, refused release claims at step `download`; the client's and the decoder's
  /// errors are handed on as they are.
  std::expected<FetchedManifest, Error> fetchManifest(const SyncContext& context,
                                                      const Url& url) override;
  /// Verifies every file in `directory` against the manifest's integrity values (a failure:
  /// step `download`), then writes the manifest as the base manager does.
  std::expected<void, Error> writeManifest(const SyncContext& context,
                                           const std::filesystem::path& directory,
                                           const Manifest& manifest) override;
  /// A file larger than its signed manifest says cannot pass integrity: it is cut off as
  /// soon as it passes that size.
  std::uint64_t fileSizeBound(std::uint64_t declaredSize, const Limits& limits) const override;
  /// A cached snapshot is served again only while its directory is exactly as it was
  /// right after this manager verified it (a fingerprint of its entries, recorded then);
  /// otherwise it is downloaded and verified again.
  bool needsDownload(const std::string& appId, const std::string& snapshotId) const override;
  /// Records as the base manager does, and with it the fingerprint of the verified directory and
  /// the release sequence applied.
  bool saveMetadata(QelWebApp app, Channel channel, Snapshot snapshot, Date date) override;
  /// A directory another manager records is served only when it holds exactly the
  /// files just verified in `staging`.
  std::expected<void, Error> acceptExistingSnapshot(const SyncContext& context,
                                                    const std::filesystem::path& existing,
                                                    const std::filesystem::path& staging) override;

 private:
  SecureLiveUpdateManager(std::shared_ptr<const RsaPublicKey> key, const std::string& named,
                          int maxVersions);

  /// The refusal of the release that `document`'s signature `signature` vouches for, at
  /// `step`, when its claims do not fit the offered snapshot; remembers its sequence for
  /// when it is applied otherwise.
  std::expected<void, Error> checkReleaseClaims(const SyncContext& context,
                                                const SecureManifest& document,
                                                std::size_t signature, SyncError::FailStep step);

  std::shared_ptr<const RsaPublicKey> publicKey_;
  std::atomic<bool> claimsRequired_ = false;
  /// Per application: the snapshot last verified and its release sequence, recorded
  /// with it once it is applied.
  ConcurrentDictionary<std::string, std::pair<std::string, std::optional<std::int64_t>>>
      verifiedSequences_{"qelvo.liveupdates.verifiedsequences"};
};

}  // namespace qelvo
