// A secure manager offered manifests and archives that are not what the key signed.
#include <gtest/gtest.h>

#include <ctime>
#include <tuple>

#include "publishing/signed_manifest_writer.h"
#include "qelvo/secure_live_update_manager.h"
#include "support/hostile_fixture.h"
#include "support/test_keys.h"
#include "support/zip_builder.h"

namespace qelvo::test {
namespace {

constexpr const char* kManifestFile = "live-update-manifest.json";

Files nextBundle() {
  return {{"index.html", "<html>next</html>"},
          {"js/app.js", "console.log('next');"},
          {"assets/logo.bin", std::string(64, 'N')}};
}

std::string payloadOf(const Files& files) { return Manifest::decode(manifestOf(files))->_payload; }

std::string zipOf(const Files& files) {
  TempDir dir;
  ZipBuilder builder;
  for (const auto& [href, content] : files) builder.file(href, content);
  builder.write(dir / "bundle.zip");
  return readFile(dir / "bundle.zip");
}

std::string flipped(std::string bytes, std::size_t bit) {
  bytes.at(bit / 8) = static_cast<char>(bytes.at(bit / 8) ^ (1 << (bit % 8)));
  return bytes;
}

class HostileSecure : public HostileSync {
 protected:
  void SetUp() override {
    configureDeployService({.baseUrl = server_.http().origin() + "/apps"});
    secure_ = std::make_shared<SecureLiveUpdateManager>("secure", testKey().publicKeyPem(), 3);
    secure_->setLoggingEnabled(false);
  }
  void start(Strategy strategy) { startWith(strategy, {secure_, "secure", &testKey()}); }

  // Offers `id` signed by the test key with `claims` in its protected header (none: the
  // header of a publisher that writes no claims), as an archive or as a manifest.
  void offerRelease(Strategy strategy, const std::string& id, const Files& files,
                    const std::optional<publishing::ReleaseClaimsToSign>& claims) {
    const auto header = claims ? publishing::claimsProtectedHeader(*claims)
                               : publishing::rs256ProtectedHeader();
    const auto manifest = publishing::encodeSignedManifest(
        payloadOf(files), {publishing::signPayload(testKey(), payloadOf(files), header)});
    if (strategy == Strategy::differential) return offerManifestText(id, manifest, files);
    auto zipped = files;
    zipped[kManifestFile] = manifest;
    offerArchive(id, zipOf(zipped));
  }

  // Release claims of "app" for `snapshot`, made now.
  static publishing::ReleaseClaimsToSign claimsFor(const std::string& snapshot,
                                                   std::int64_t sequence) {
    return {.app = "app", .snapshot = snapshot, .sequence = sequence, .created = std::time(nullptr)};
  }

  // What a compromised server tries once a release with claims (sequence 2) was applied:
  // each is refused with the claim that failed, the device unchanged.
  void refuseReleasesThatDoNotFit(Strategy strategy) {
    start(strategy);  // snap-1: signed by a publisher that writes no claims
    offerRelease(strategy, "snap-2", nextBundle(), claimsFor("snap-2", 2));
    ASSERT_NO_THROW(secure_->sync("app").get());
    rememberDevice();

    auto otherApp = claimsFor("x-3", 3);
    otherApp.app = "other";
    auto expired = claimsFor("x-6", 6);
    expired.expires = 1000;
    const std::vector<std::tuple<std::string, std::optional<publishing::ReleaseClaimsToSign>,
                                 std::string>>
        cases = {
            {"x-3", otherApp, "is for app other, not app"},
            {"x-4", claimsFor("elsewhere", 4), "is snapshot elsewhere, not the offered x-4"},
            {"replay-1", claimsFor("replay-1", 1), "has sequence 1, older than 2"},
            {"x-6", expired, "expired at 1970-01-01T00:16:40Z"},
            {"x-7", std::nullopt, "carries no release claims"},
        };
    const auto step = strategy == Strategy::zip ? FailStep::unpack : FailStep::download;
    for (const auto& [id, claims, text] : cases) {
      SCOPED_TRACE(id);
      offerRelease(strategy, id, goodBundle(), claims);
      expectRefused(step, text);
    }
    // The cached older snapshot, offered again without a newer release of it.
    server_.offer("app", "snap-1", 1, server_.http().origin() + "/bundles/app/snap-1" +
                                          (strategy == Strategy::zip ? ".zip" : "/live-update-manifest.json"));
    EXPECT_TRUE(anyFailure());
    expectUnchanged();
    // A newer release goes through.
    offerRelease(strategy, "snap-3", goodBundle(), claimsFor("snap-3", 3));
    EXPECT_EQ(secure_->sync("app").get().id(), "snap-3");
  }

  // Offers `id` and expects the sync to fail and leave the device as it was, or to
  // succeed with exactly `signedFiles` (a change the signature does not cover, such as an
  // unused bit of the Base64 text or of an archive header). Whether it failed.
  bool failsOrServesSigned(const std::function<void()>& offer, const Files& signedFiles,
                           const std::string& what) {
    offer();
    if (auto failure = anyFailure()) {
      expectUnchanged();
      return true;
    }
    auto served = filesIn(*secure_->latestAppDirectory("app"));
    served.erase(kManifestFile);
    EXPECT_EQ(served, signedFiles) << what;
    rememberDevice();
    return false;
  }

  std::shared_ptr<SecureLiveUpdateManager> secure_;
};

TEST_F(HostileSecure, FilesLargerThanTheirSignedSizeAreCutOff) {
  start(Strategy::differential);
  const auto files = nextBundle();
  offerManifestText("snap-2", signedManifestOf(files, testKey()), files);
  server_.serve("/bundles/app/snap-2/js/app.js", std::string(1 << 20, 'B'));
  auto error = refusal();
  EXPECT_EQ(error.failStep, FailStep::download);
  EXPECT_NE(cause(error).find("larger than 20 bytes"), std::string::npos) << cause(error);
  expectUnchanged();
}

TEST_F(HostileSecure, ASignatureOfAnotherManifestIsRefused) {
  start(Strategy::differential);
  // The signature is genuine, over the payload of the good bundle.
  const auto other = publishing::encodeSignedManifest(
      payloadOf(nextBundle()), {publishing::signPayload(testKey(), payloadOf(goodBundle()))});
  offerManifestText("snap-2", other, nextBundle());
  auto error = refusal();
  EXPECT_EQ(error.failStep, FailStep::unpack);
  EXPECT_NE(error.errorDescription().find("was not signed with the private key"), std::string::npos);
  expectUnchanged();
  EXPECT_EQ(server_.count("GET", "/bundles/app/snap-2/(index.html|js/.*|assets/.*)"), 0u);
}

TEST_F(HostileSecure, ASignatureOfAnotherManifestInAnArchiveIsRefused) {
  start(Strategy::zip);
  auto files = nextBundle();
  files[kManifestFile] = publishing::encodeSignedManifest(
      payloadOf(nextBundle()), {publishing::signPayload(testKey(), payloadOf(goodBundle()))});
  offerArchive("snap-2", zipOf(files));
  auto error = refusal();
  EXPECT_EQ(error.failStep, FailStep::unpack);
  EXPECT_NE(error.errorDescription().find("was not signed with the private key"), std::string::npos);
  expectUnchanged();
}

TEST_F(HostileSecure, UnsignedManifestsAreRefused) {
  start(Strategy::differential);
  offerManifestText("snap-2", manifestOf(nextBundle()), nextBundle());
  EXPECT_TRUE(anyFailure());
  expectUnchanged();
  offerManifestText("snap-3", publishing::encodeSignedManifest(payloadOf(nextBundle()), {}),
                    nextBundle());
  EXPECT_TRUE(anyFailure());
  expectUnchanged();
}

TEST_F(HostileSecure, UnsignedArchivesAreRefused) {
  start(Strategy::zip);
  auto files = nextBundle();
  offerArchive("snap-2", zipOf(files));  // no manifest at all
  EXPECT_NE(refusal().errorDescription().find("did not contain a live-update-manifest.json"),
            std::string::npos);
  expectUnchanged();
  files[kManifestFile] = manifestOf(nextBundle());  // a manifest without signatures
  offerArchive("snap-3", zipOf(files));
  EXPECT_NE(refusal().errorDescription().find("did not contain a valid"), std::string::npos);
  expectUnchanged();
}

// A signed archive is all or nothing: a file the signature does not list is refused
// wherever it hides (a nested file named like the manifest included), a manifest too
// large to read is not read, and a document of endless signatures is not verified.
TEST_F(HostileSecure, SignedArchivesAreAllOrNothing) {
  start(Strategy::zip);
  auto limits = secure_->limits();
  limits.maxManifestBytes = 64 * 1024;
  secure_->setLimits(limits);
  const auto signedManifest = signedManifestOf(nextBundle(), testKey());
  auto nested = nextBundle();
  nested[kManifestFile] = signedManifest;
  nested["js/live-update-manifest.json"] = "alert('not signed')";
  nested["payload-live-update-manifest.json"] = "not signed";
  auto huge = nextBundle();
  huge[kManifestFile] = signedManifest + std::string(100 * 1024, ' ');
  auto manySignatures = nextBundle();
  manySignatures[kManifestFile] = publishing::encodeSignedManifest(
      payloadOf(nextBundle()),
      std::vector<publishing::SignatureEntry>(
          1000, publishing::signPayload(otherTestKey(), payloadOf(nextBundle()))));
  const std::vector<std::pair<Files, std::string>> cases = {
      {nested, "js/live-update-manifest.json: File not included in manifest\npayload-live-update-manifest.json"},
      {huge, "did not contain a valid live-update-manifest.json"},
      {manySignatures, "did not contain a valid live-update-manifest.json"},
  };
  int n = 1;
  for (const auto& [files, text] : cases) {
    offerArchive("snap-" + std::to_string(++n), zipOf(files));
    auto error = refusal();
    EXPECT_EQ(error.failStep, FailStep::unpack);
    EXPECT_NE(error.errorDescription().find(text), std::string::npos) << error.errorDescription();
    expectUnchanged();
  }
}

TEST_F(HostileSecure, ReleasesThatDoNotFitTheirClaimsAreRefusedFromArchives) {
  refuseReleasesThatDoNotFit(Strategy::zip);
}

TEST_F(HostileSecure, ReleasesThatDoNotFitTheirClaimsAreRefusedFromManifests) {
  refuseReleasesThatDoNotFit(Strategy::differential);
}

TEST_F(HostileSecure, ManifestsWithoutClaimsAreRefusedWhenClaimsAreRequired) {
  secure_->requireReleaseClaims(true);
  secure_->add(LiveUpdate("app", "production", false, Strategy::differential));
  offerRelease(Strategy::differential, "snap-1", goodBundle(), std::nullopt);
  EXPECT_NE(metadataText(syncError(*secure_, "app")).find("carries no release claims, which are required"),
            std::string::npos);
  EXPECT_EQ(secure_->latestAppDirectory("app"), std::nullopt);
  offerRelease(Strategy::differential, "snap-2", goodBundle(), claimsFor("snap-2", 1));
  EXPECT_EQ(secure_->sync("app").get().id(), "snap-2");
}

TEST_F(HostileSecure, AFlippedBitInTheManifestOrAFileIsRefused) {
  start(Strategy::differential);
  const auto manifest = signedManifestOf(nextBundle(), testKey());
  const std::size_t bits = manifest.size() * 8;
  int failed = 0;
  int n = 0;
  for (std::size_t bit = 5; bit < bits; bit += bits / 48 + 1) {
    const auto id = "snap-" + std::to_string(++n + 1);
    failed += failsOrServesSigned(
        [&] { offerManifestText(id, flipped(manifest, bit), nextBundle()); }, nextBundle(),
        "bit " + std::to_string(bit));
    if (HasFailure()) return;
  }
  EXPECT_GE(failed, n - 1) << "only a bit the signature does not cover may pass";

  // A file that differs from its signed digest by one bit (and not in size).
  auto files = nextBundle();
  const auto url = server_.putManifest("app", "snap-x", files, &testKey());
  server_.serve("/bundles/app/snap-x/js/app.js", flipped(files.at("js/app.js"), 3));
  server_.offer("app", "snap-x", 9, url);
  EXPECT_NE(refusal().errorDescription().find("js/app.js: Invalid hash"), std::string::npos);
  expectUnchanged();
}

TEST_F(HostileSecure, AFlippedBitInASignedArchiveIsRefused) {
  start(Strategy::zip);
  auto files = nextBundle();
  files[kManifestFile] = signedManifestOf(nextBundle(), testKey());
  const auto archive = zipOf(files);
  const std::size_t bits = archive.size() * 8;
  int failed = 0;
  int n = 0;
  for (std::size_t bit = 3; bit < bits; bit += bits / 48 + 1) {
    const auto id = "snap-" + std::to_string(++n + 1);
    failed += failsOrServesSigned([&] { offerArchive(id, flipped(archive, bit)); }, nextBundle(),
                                  "bit " + std::to_string(bit));
    if (HasFailure()) return;
  }
  EXPECT_GT(failed, n / 2);
}

}  // namespace
}  // namespace qelvo::test
