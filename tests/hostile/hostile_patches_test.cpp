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

TEST_F(HostilePatches, AFileIsMadeFromItsPatchOrFetchedWholeWhateverThePatchIs) {
  startWith(Strategy::differential);
  const auto good = goodPatch();
  ASSERT_LT(good.size(), 200u);
  const auto otherBase = *publishing::makeZstdPatch("console.log('other');", nextBundle().at(kHref));
  auto corrupt = good;
  corrupt[corrupt.size() / 2] ^= 0x5a;

  struct Case {
    std::string id;
    std::string patch;  // what the server answers; none: an endless body
    int status;
    std::uint64_t declared;
    bool wholeFetched;
  };
  const std::vector<Case> cases = {
      {"good", good, 200, good.size(), false},
      {"corrupt", corrupt, 200, good.size(), true},
      {"longer-than-declared", good, 200, good.size() - 1, true},
      {"endless", "", 200, good.size(), true},
      {"missing", "", 404, good.size(), true},
      {"from-another-file", otherBase, 200, otherBase.size(), true},
      {"cut-short", good.substr(0, good.size() / 2), 200, good.size() / 2, true},
      {"two-frames", good + good, 200, 2 * good.size(), true},
  };
  for (const auto& c : cases) {
    if (c.id == "endless") {
      server_.serveEndless(patchPath(c.id));
    } else {
      server_.serve(patchPath(c.id), c.patch, c.status);
    }
    expectServed(c.id, patchEntry(c.declared), c.wholeFetched);
  }
}

TEST_F(HostilePatches, PatchesThatDoNotApplyHereAreNotUsed) {
  startWith(Strategy::differential);
  const auto good = goodPatch();
  auto otherBase = patchEntry(good.size());
  otherBase.base = manifestItem(kHref, "something else").integrity;
  auto otherAlgorithm = patchEntry(good.size());
  otherAlgorithm.algorithm = "bsdiff";
  auto outside = patchEntry(good.size());
  outside.href = "../snap-1/js/app.js";
  auto larger = patchEntry(nextBundle().at(kHref).size());
  for (const auto& [entry, id] : {std::pair{otherBase, "another-base"}, {otherAlgorithm, "another-algorithm"},
                                  {outside, "outside"}, {larger, "larger-than-the-file"}}) {
    server_.serve(patchPath(id), good);
    expectServed(id, entry, true);
  }
  EXPECT_EQ(server_.count("GET", ".*\\.patches.*"), 0u);

  // A patch asking for more window than the limit: fetched, not used.
  auto limits = manager_->limits();
  limits.maxPatchWindowBytes = 64 << 10;  // the patch's window covers the 200 KB file
  manager_->setLimits(limits);
  server_.serve(patchPath("window"), good);
  expectServed("window", patchEntry(good.size()), true);
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
