// Patches of changed files: whatever a server makes of one (wrong, corrupt, longer than
// declared, endless, asking for a huge window, made for another file), the file served
// is the one the manifest names, fetched whole when the patch does not give it.
#include <gtest/gtest.h>

#include "publishing/patch_maker.h"
#include "publishing/signed_manifest_writer.h"
#include "support/hostile_fixture.h"
#include "support/signed_bundles.h"
#include "support/test_keys.h"

namespace qelvo::test {
namespace {

constexpr const char* kHref = "js/app.js";
constexpr const char* kPatchHref = ".patches/snap-1/js/app.js";

// Where the server serves snapshot `id`'s patch and whole app.js.
std::string patchPath(const std::string& id) { return "/bundles/app/" + id + "/" + kPatchHref; }
std::string wholePath(const std::string& id) { return "/bundles/app/" + id + "/" + kHref; }

// The manifest of `files` whose app.js lists `patch` (its base: snap-1's app.js).
std::string manifestWithPatch(const Files& files, const ManifestPatch& patch,
                              const publishing::RsaSigner* signer = nullptr) {
  std::vector<ManifestItem> items;
  for (const auto& [href, content] : files) {
    items.push_back(manifestItem(href, content));
    if (href == kHref) items.back().patches.push_back(patch);
  }
  auto manifest = Manifest::fromItems(items);
  if (!signer) return manifest.encode();
  return publishing::encodeSignedManifest(manifest._payload,
                                          {publishing::signPayload(*signer, manifest._payload)});
}

class HostilePatches : public HostileSync {
 protected:
  // snap-2: the good bundle with app.js grown; its patch from snap-1's app.js.
  static Files nextBundle() {
    auto files = goodBundle();
    // Larger than zstd's output buffer, so that a patch is decoded through its window.
    files[kHref] += "\n// " + std::string(200'000, 'x');
    return files;
  }

  static std::string goodPatch() {
    return *publishing::makeZstdPatch(goodBundle().at(kHref), nextBundle().at(kHref));
  }

  static ManifestPatch patchEntry(std::uint64_t size) {
    return {manifestItem(kHref, goodBundle().at(kHref)).integrity, kPatchHref, size,
            "zstd-patch"};
  }

  // Syncs `id` (snap-2's files) with this patch entry on a device that holds snap-1; the
  // device must then serve those files exactly, having fetched the whole file or not,
  // and keep no work behind. The device is back on snap-1 afterwards.
  void expectServed(const std::string& id, const ManifestPatch& entry, bool wholeFetched,
                    const publishing::RsaSigner* signer = nullptr,
                    std::shared_ptr<LiveUpdateManager> device = nullptr) {
    device = device ? device : manager_;
    offerManifestText(id, manifestWithPatch(nextBundle(), entry, signer), nextBundle());
    auto result = device->sync("app").get();
    ASSERT_EQ(result.snapshot->id, id);
    auto served = filesIn(*device->latestAppDirectory("app"));
    served.erase("live-update-manifest.json");
    EXPECT_EQ(served, nextBundle()) << id;
    EXPECT_EQ(server_.count("GET", wholePath(id)), wholeFetched ? 1u : 0u) << id;
    for (const auto& [path, content] : containerContents()) {
      EXPECT_FALSE(path.starts_with("tmp/qelvo-work/sync-")) << id << ": " << path;
    }
    server_.offer("app", "snap-1", 1, server_.http().origin() + "/bundles/app/snap-1/live-update-manifest.json");
    ASSERT_EQ(device->sync("app").get().snapshot->id, "snap-1");
  }
};

// Patches the server spoils, and patch entries that do not apply here (those are never
// fetched).
TEST_F(HostilePatches, AFileIsMadeFromItsPatchOrFetchedWholeWhateverThePatchIs) {
  startWith(Strategy::differential);
  const auto good = goodPatch();
  ASSERT_LT(good.size(), 200u);
  const auto otherBase = *publishing::makeZstdPatch("console.log('other');", nextBundle().at(kHref));
  auto corrupt = good;
  corrupt[corrupt.size() / 2] ^= 0x5a;
  const auto entry = patchEntry(good.size());
  auto forAnotherBase = entry;
  forAnotherBase.base = manifestItem(kHref, "something else").integrity;
  auto ofAnotherAlgorithm = entry;
  ofAnotherAlgorithm.algorithm = "bsdiff";
  auto outside = entry;
  outside.href = "../snap-1/js/app.js";

  struct Case {
    std::string id;
    std::optional<std::string> patch;  // what the server answers; none: an endless body
    int status;
    ManifestPatch entry;
    bool patchFetched;
    bool wholeFetched;
  };
  const std::vector<Case> cases = {
      {"good", good, 200, entry, true, false},
      {"corrupt", corrupt, 200, entry, true, true},
      {"longer-than-declared", good, 200, patchEntry(good.size() - 1), true, true},
      {"endless", std::nullopt, 200, entry, true, true},
      {"missing", "", 404, entry, true, true},
      {"from-another-file", otherBase, 200, patchEntry(otherBase.size()), true, true},
      {"cut-short", good.substr(0, good.size() / 2), 200, patchEntry(good.size() / 2), true, true},
      {"two-frames", good + good, 200, patchEntry(2 * good.size()), true, true},
      {"another-base", good, 200, forAnotherBase, false, true},
      {"another-algorithm", good, 200, ofAnotherAlgorithm, false, true},
      {"outside", good, 200, outside, false, true},
      {"larger-than-the-file", good, 200, patchEntry(nextBundle().at(kHref).size()), false, true},
  };
  for (const auto& c : cases) {
    if (c.patch) {
      server_.serve(patchPath(c.id), *c.patch, c.status);
    } else {
      server_.serveEndless(patchPath(c.id));
    }
    expectServed(c.id, c.entry, c.wholeFetched);
    EXPECT_EQ(server_.count("GET", patchPath(c.id)) > 0, c.patchFetched) << c.id;
  }

  // A patch asking for more window than the limit: fetched, not used.
  auto limits = manager_->limits();
  limits.maxPatchWindowBytes = 64 << 10;  // the patch's window covers the 200 KB file
  manager_->setLimits(limits);
  server_.serve(patchPath("window"), good);
  expectServed("window", entry, true);
}

TEST_F(HostilePatches, ASecureManagerVerifiesPatchedFilesAsAnyOther) {
  auto secure = makeSecureManager(server_);
  startWith(Strategy::differential, {secure, "secure", &testKey()});
  const auto good = goodPatch();
  server_.serve(patchPath("snap-2"), good);
  expectServed("snap-2", patchEntry(good.size()), false, &testKey(), secure);
}

}  // namespace
}  // namespace qelvo::test
