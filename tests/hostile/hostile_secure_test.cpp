// A secure manager offered manifests and archives that are not what the key signed.
#include <gtest/gtest.h>

#include <ctime>

#include "publishing/signed_manifest_writer.h"
#include "support/hostile_fixture.h"
#include "support/signed_bundles.h"
#include "support/test_keys.h"

namespace qelvo::test {
namespace {

Files nextBundle() {
  return {{"index.html", "<html>next</html>"},
          {"js/app.js", "console.log('next');"},
          {"assets/logo.bin", std::string(64, 'N')}};
}

std::string flipped(std::string bytes, std::size_t bit) {
  bytes.at(bit / 8) = static_cast<char>(bytes.at(bit / 8) ^ (1 << (bit % 8)));
  return bytes;
}

// Release claims of "app" for `snapshot`, made now.
publishing::ReleaseClaimsToSign claimsFor(const std::string& snapshot, std::int64_t sequence) {
  return {.app = "app", .snapshot = snapshot, .sequence = sequence, .created = std::time(nullptr)};
}

// The manifest of `files` signed by the test key with `claims` in its protected header
// (none: the header of a publisher that writes no claims).
std::string releaseOf(const Files& files, const std::optional<publishing::ReleaseClaimsToSign>& claims) {
  const auto header = claims ? publishing::claimsProtectedHeader(*claims)
                             : publishing::rs256ProtectedHeader();
  return publishing::encodeSignedManifest(
      payloadOf(files), {publishing::signPayload(testKey(), payloadOf(files), header)});
}

class HostileSecure : public HostileSync {
 protected:
  void SetUp() override { secure_ = makeSecureManager(server_); }
  void start(Strategy strategy) { startWith(strategy, {secure_, "secure", &testKey()}); }

  // Offers `id` as `files` with this manifest text (none: no manifest at all, or one that
  // is not served), as an archive or as a manifest.
  void offerBundle(Strategy strategy, const std::string& id, const Files& files,
                   const std::optional<std::string>& manifest) {
    if (strategy == Strategy::zip) {
      return offerArchive(id, zipOf(manifest ? withManifestText(files, *manifest) : files));
    }
    if (manifest) return offerManifestText(id, *manifest, files);
    server_.offer("app", id, 2, server_.http().origin() + "/bundles/app/" + id + "/" + kManifestFile);
  }

  // What a compromised server tries once a release with claims (sequence 2) was applied:
  // a release without a valid signature, or whose claims do not fit. Each is refused at
  // `step` with the text that says why (for no step: the error met, passed on as it is),
  // the device unchanged, and no file of it fetched.
  struct Refused {
    std::string id;
    std::optional<std::string> manifest;
    std::optional<FailStep> step;
    std::string text;
  };
  void refuseReleasesThatDoNotFit(Strategy strategy) {
    start(strategy);  // snap-1: signed by a publisher that writes no claims
    offerBundle(strategy, "snap-2", nextBundle(), releaseOf(nextBundle(), claimsFor("snap-2", 2)));
    ASSERT_NO_THROW(secure_->sync("app").get());
    rememberDevice();

    auto otherApp = claimsFor("refused-3", 3);
    otherApp.app = "other";
    auto expired = claimsFor("refused-6", 6);
    expired.expires = 1000;
    const auto claimsStep = strategy == Strategy::zip ? FailStep::unpack : FailStep::download;
    const auto good = goodBundle();
    const std::string notSigned =
        "Failure occured during unpack step.\nSecure Update Failure - The signature of the "
        "live-update-manifest payload was not signed with the private key associated with the "
        "provided public key.";
    std::vector<Refused> cases = {
        {"refused-3", releaseOf(good, otherApp), claimsStep, "is for app other, not app"},
        {"refused-4", releaseOf(good, claimsFor("elsewhere", 4)), claimsStep,
         "is snapshot elsewhere, not the offered refused-4"},
        {"refused-1", releaseOf(good, claimsFor("refused-1", 1)), claimsStep,
         "has sequence 1, older than 2"},
        {"refused-6", releaseOf(good, expired), claimsStep, "expired at 1970-01-01T00:16:40Z"},
        {"refused-7", releaseOf(good, std::nullopt), claimsStep, "carries no release claims"},
        {"refused-8", publishing::encodeSignedManifest(payloadOf(good), {}), FailStep::unpack, notSigned},
        // A genuine signature, over the payload of another bundle.
        {"refused-9",
         publishing::encodeSignedManifest(
             payloadOf(good), {publishing::signPayload(testKey(), payloadOf(nextBundle()))}),
         FailStep::unpack, notSigned},
        // Signed, by another key.
        {"refused-12",
         publishing::encodeSignedManifest(
             payloadOf(good), {publishing::signPayload(otherTestKey(), payloadOf(good))}),
         FailStep::unpack, notSigned},
    };
    if (strategy == Strategy::zip) {
      const std::string bundleWithout =
          "Secure Update Failure - The live update bundle did not contain a ";
      cases.push_back({"refused-10", std::nullopt, FailStep::unpack,
                       bundleWithout + "live-update-manifest.json file."});
      cases.push_back({"refused-11", manifestOf(good), FailStep::unpack,
                       bundleWithout + "valid live-update-manifest.json file."});
    } else {
      // A manifest that is not a signed one, and one that cannot be fetched (an HTTP 404).
      cases.push_back({"refused-10", manifestOf(good), std::nullopt,
                       "No value associated with key \"signatures\"."});
      cases.push_back({"refused-11", std::nullopt, std::nullopt,
                       "The operation couldn\u2019t be completed. "
                       "(QelvoLiveUpdates.NetworkClientError error 0.)"});
    }
    for (const auto& [id, manifest, step, text] : cases) {
      SCOPED_TRACE(id);
      offerBundle(strategy, id, good, manifest);
      if (step) {
        expectRefused(*step, text);
      } else {
        EXPECT_EQ(anyFailure(), text);
        expectUnchanged();
      }
    }
    EXPECT_EQ(server_.count("GET", "/bundles/app/refused-[0-9]+/(?!live-update-manifest\\.json$).*"), 0u);
    // The cached older snapshot, offered again without a newer release of it.
    server_.offer("app", "snap-1", 1, server_.http().origin() + "/bundles/app/snap-1" +
                                          (strategy == Strategy::zip ? ".zip" : "/live-update-manifest.json"));
    EXPECT_TRUE(anyFailure());
    expectUnchanged();
    // A newer release goes through.
    offerBundle(strategy, "snap-3", good, releaseOf(good, claimsFor("snap-3", 3)));
    EXPECT_EQ(secure_->sync("app").get().id(), "snap-3");
  }

  // Offers `bytes` with one bit flipped, for bits spread over them, through `offer`. Each
  // sync must fail and leave the device as it was, or succeed with exactly the signed
  // files (a change the signature does not cover, such as an unused bit of the Base64
  // text or of an archive header). How many failed, of how many.
  std::pair<int, int> flipBits(
      const std::string& bytes, std::size_t first,
      const std::function<void(const std::string& id, const std::string& flipped)>& offer) {
    const std::size_t bits = bytes.size() * 8;
    int failed = 0;
    int n = 0;
    for (std::size_t bit = first; bit < bits && !HasFailure(); bit += bits / 48 + 1) {
      SCOPED_TRACE("bit " + std::to_string(bit));
      offer("snap-" + std::to_string(++n + 1), flipped(bytes, bit));
      if (anyFailure()) {
        expectUnchanged();
        ++failed;
        continue;
      }
      auto served = filesIn(*secure_->latestAppDirectory("app"));
      served.erase(kManifestFile);
      EXPECT_EQ(served, nextBundle());
      rememberDevice();
    }
    return {failed, n};
  }

  std::shared_ptr<SecureLiveUpdateManager> secure_;
};

TEST_F(HostileSecure, FilesLargerThanTheirSignedSizeAreCutOff) {
  start(Strategy::differential);
  const auto files = nextBundle();
  offerManifestText("snap-2", signedManifestOf(files, testKey()), files);
  server_.serve("/bundles/app/snap-2/js/app.js", std::string(1 << 20, 'B'));
  expectRefused(FailStep::download, "larger than 20 bytes");
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
  auto nested = withManifestText(nextBundle(), signedManifest);
  nested["js/live-update-manifest.json"] = "alert('not signed')";
  nested["payload-live-update-manifest.json"] = "not signed";
  const auto manySignatures = publishing::encodeSignedManifest(
      payloadOf(nextBundle()),
      std::vector<publishing::SignatureEntry>(
          1000, publishing::signPayload(otherTestKey(), payloadOf(nextBundle()))));
  const std::vector<std::pair<Files, std::string>> cases = {
      {nested, "js/live-update-manifest.json: File not included in manifest\npayload-live-update-manifest.json"},
      {withManifestText(nextBundle(), signedManifest + std::string(100 * 1024, ' ')),
       "did not contain a valid live-update-manifest.json"},
      {withManifestText(nextBundle(), manySignatures), "did not contain a valid live-update-manifest.json"},
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

TEST_F(HostileSecure, ReleasesThatDoNotFitTheirSignatureOrClaimsAreRefusedFromArchives) {
  refuseReleasesThatDoNotFit(Strategy::zip);
}

TEST_F(HostileSecure, ReleasesThatDoNotFitTheirSignatureOrClaimsAreRefusedFromManifests) {
  refuseReleasesThatDoNotFit(Strategy::differential);
}

TEST_F(HostileSecure, ManifestsWithoutClaimsAreRefusedWhenClaimsAreRequired) {
  secure_->requireReleaseClaims(true);
  secure_->add(LiveUpdate("app", "production", false, Strategy::differential));
  offerBundle(Strategy::differential, "snap-1", goodBundle(), releaseOf(goodBundle(), std::nullopt));
  EXPECT_NE(metadataText(syncError(*secure_, "app")).find("carries no release claims, which are required"),
            std::string::npos);
  EXPECT_EQ(secure_->latestAppDirectory("app"), std::nullopt);
  offerBundle(Strategy::differential, "snap-2", goodBundle(),
              releaseOf(goodBundle(), claimsFor("snap-2", 1)));
  EXPECT_EQ(secure_->sync("app").get().id(), "snap-2");
}

// (A file that differs from its signed digest is the secure sync tests' own case.)
TEST_F(HostileSecure, AFlippedBitInTheManifestIsRefused) {
  start(Strategy::differential);
  auto [failed, tried] = flipBits(signedManifestOf(nextBundle(), testKey()), 5,
                                  [&](const std::string& id, const std::string& manifest) {
                                    offerManifestText(id, manifest, nextBundle());
                                  });
  EXPECT_GE(failed, tried - 1) << "only a bit the signature does not cover may pass";
}

TEST_F(HostileSecure, AFlippedBitInASignedArchiveIsRefused) {
  start(Strategy::zip);
  auto [failed, tried] =
      flipBits(zipOf(withManifestText(nextBundle(), signedManifestOf(nextBundle(), testKey()))), 3,
               [&](const std::string& id, const std::string& archive) { offerArchive(id, archive); });
  EXPECT_GT(failed, tried / 2);
}

}  // namespace
}  // namespace qelvo::test
