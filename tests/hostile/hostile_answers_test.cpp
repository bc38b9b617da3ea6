// Answers of the deploy service that are malformed, oversized, endless, slow or
// circular.
#include <gtest/gtest.h>

#include <tuple>

#include "support/hostile_fixture.h"
#include "support/zip_builder.h"

namespace qelvo::test {
namespace {

using namespace std::chrono_literals;

std::string available(const std::string& extra) {
  return R"({"data":{"available":true,"partial":false,"compatible":true,)"
         R"("incompatibleUpdateAvailable":false)" + extra + "}}";
}

// What a parser meets on the wire, and offers that lack what a download needs; the
// client's own tests hold the wrong types and keys.
TEST_F(HostileSync, MalformedOrIncompleteCheckAnswersFailTheirStep) {
  startWith(Strategy::zip);
  const std::string invalidOffer = "CheckResponse does not contain valid snapshot or buildId";
  const std::string invalidUrl = "Invalid url received from Braxo for download location";
  const std::vector<std::tuple<std::string, FailStep, std::string>> cases = {
      {"", FailStep::check, ""},
      {"not json", FailStep::check, ""},
      {available(R"(,"snapshot":"snap-2","build":"2"})").substr(0, 40), FailStep::check, ""},
      {available(R"(,"snapshot":7,"build":2)"), FailStep::check, ""},
      {available(R"(,"snapshot":"s","build":1e400)"), FailStep::check, ""},
      {available(R"(,"snapshot":"s","build":99999999999999999999999)"), FailStep::check, ""},
      {std::string(1000, '{'), FailStep::check, ""},
      {available(R"(,"snapshot":"snap-2","url":"http://127.0.0.1:1/x.zip")"), FailStep::check,
       invalidOffer},
      {available(R"(,"snapshot":"snap-2","build":2)"), FailStep::download, invalidUrl},
      {available(R"(,"snapshot":"snap-2","build":2,"url":"")"), FailStep::download, invalidUrl},
      {available(R"(,"snapshot":"snap-2","build":2,"url":"not a url")"), FailStep::download,
       invalidUrl},
  };
  for (const auto& [body, step, text] : cases) {
    SCOPED_TRACE(body.substr(0, 80));
    server_.answerCheck("app", 200, body);
    auto error = refusal();
    EXPECT_EQ(error.failStep, step);
    if (!text.empty()) {
      EXPECT_EQ(metadataText(error), text);
    }
    expectUnchanged();
  }
}

TEST_F(HostileSync, OversizedAndEndlessCheckAnswersAreCutOffAtTheLimit) {
  startWith(Strategy::zip);
  // Valid JSON, padded past the 1 MiB default.
  server_.answerCheck("app", 200,
                      available(R"(,"padding":")" + std::string(1 << 20, ' ') + "\""));
  expectRefused(FailStep::check, "larger than 1048576 bytes");
  server_.answerCheckEndlessly("app");
  expectRefused(FailStep::check, "larger than 1048576 bytes");
}

TEST_F(HostileSync, MalformedAndOversizedManifestsFailTheDownload) {
  startWith(Strategy::differential);
  const std::string malformed = "'Manifest' data was malformed - ";
  // One of each kind; the manifest's own tests hold the full lists.
  for (const std::string text : {R"()", R"({"payload":7})", R"({"payload":"not base64!"})",
                                 R"({"payload":"W3siaHJlZiI6MX1d"})" /* [{"href":1}] */}) {
    offerManifestText("snap-2", text);
    auto error = refusal();
    EXPECT_EQ(error.failStep, FailStep::download) << text;
    EXPECT_TRUE(metadataText(error).starts_with(malformed)) << metadataText(error);
    expectUnchanged();
  }

  // A manifest without end (one too large is a row of the totals' table below).
  auto limits = manager_->limits();
  limits.maxManifestBytes = 4096;
  manager_->setLimits(limits);
  server_.serveEndless("/bundles/app/snap-3/live-update-manifest.json");
  server_.offer("app", "snap-3", 3,
                server_.http().origin() + "/bundles/app/snap-3/live-update-manifest.json");
  expectRefused(FailStep::download, "larger than 4096 bytes");
}

TEST_F(HostileSync, FilesLargerThanTheFileBoundAreCutOff) {
  startWith(Strategy::differential);
  auto limits = manager_->limits();
  limits.maxFileBytes = 1000;
  manager_->setLimits(limits);
  // The declared size is not the bound of a plain manager: 10 bytes declared, 20 sent.
  Files files = {{"index.html", "<html>2</html>"}, {"big.js", std::string(10, 'b')}};
  offerManifestText("snap-2", manifestOf(files), files);
  server_.serve("/bundles/app/snap-2/big.js", std::string(20, 'B'));
  EXPECT_NO_THROW(manager_->sync("app").get());
  rememberDevice();

  files["big.js"] = std::string(10, 'c');  // changed, so fetched again
  offerManifestText("snap-3", manifestOf(files), files);
  server_.serve("/bundles/app/snap-3/big.js", std::string(1 << 20, 'B'));  // announced
  expectRefused(FailStep::download, "larger than 1000 bytes");
  server_.serveEndless("/bundles/app/snap-3/big.js");  // never announced, never ending
  expectRefused(FailStep::download, "larger than 1000 bytes");
}

// What a file-by-file download would write is measured before anything is fetched: the
// manifest's own size, the files it lists, their declared total, and the free space of
// the cache.
TEST_F(HostileSync, ManifestsBeyondTheTotalsOrTheFreeSpaceFetchNothing) {
  startWith(Strategy::differential);
  Files files = {{"index.html", "<html>2</html>"}, {"a.js", "aaaa"}, {"b.js", "bbbb"}};
  const std::vector<std::pair<std::function<void(LiveUpdateManager::Limits&)>, std::string>> cases = {
      {[](auto& limits) { limits.maxManifestBytes = 100; }, "larger than 100 bytes"},
      {[](auto& limits) { limits.maxArchiveEntries = 2; }, "lists 3 files, more than 2"},
      {[](auto& limits) { limits.maxUnpackedBytes = 16; }, "add up to more than 16 bytes"},
      {[](auto& limits) { limits.freeSpaceReserve = std::uint64_t{1} << 62; },
       "Not enough free space for the bundle"},
  };
  for (const auto& [change, text] : cases) {
    auto limits = LiveUpdateManager::Limits{};
    change(limits);
    manager_->setLimits(limits);
    offerManifestText("snap-2", manifestOf(files), files);
    expectRefused(FailStep::download, text);
  }
  EXPECT_EQ(server_.count("GET", "/bundles/app/snap-2/(?!live-update-manifest).*"), 0u);
}

TEST_F(HostileSync, AnArchiveThatCannotFitIsNotFetched) {
  startWith(Strategy::zip);
  auto limits = manager_->limits();
  limits.freeSpaceReserve = std::uint64_t{1} << 62;
  manager_->setLimits(limits);
  offerArchive("snap-2", zipOf(ZipBuilder().file("index.html", "<html>2</html>")));
  expectRefused(FailStep::download, "Not enough free space for the archive");
  EXPECT_EQ(server_.count("GET", "/bundles/app/snap-2.zip"), 0u);
}

// Transfers that stall, crawl or outlast the sync. (How soon they end is the benchmarks'
// business: a test only asks that they end, with the error that says why.)
class HostilePace : public HostileSync {};

TEST_F(HostilePace, SilentServersFailAfterTheIdleTimeout) {
  startWith(Strategy::differential);
  auto limits = manager_->limits();
  limits.idleTimeout = 1s;
  manager_->setLimits(limits);

  // A connection accepted and never answered. (A check would take a few seconds more:
  // libcurl averages the speed over seconds, and its request body counts.)
  Files files = {{"index.html", "<html>2</html>"}};
  offerManifestText("snap-2", manifestOf(files), files);
  server_.serve("/bundles/app/snap-2/live-update-manifest.json", manifestOf(files), 200, 1h);
  expectRefused(FailStep::download, "Operation too slow");
}

// A server that keeps a transfer alive a byte at a time, too slowly to ever finish, ends
// it once its pace stays under the minimum rate for the window: the check, a file, the
// manifest. A caller that joined the sync gets the same error.
TEST_F(HostilePace, TricklingAnswersFailBelowTheMinimumRate) {
  startWith(Strategy::differential);
  auto limits = manager_->limits();
  limits.idleTimeout = 2s;
  limits.minTransferRate = 100;
  manager_->setLimits(limits);

  Files files = {{"index.html", "<html>2</html>"}, {"slow.js", std::string(1000, 's')}};
  offerManifestText("snap-2", manifestOf(files), files);
  server_.serveTrickle("/bundles/app/snap-2/slow.js", files.at("slow.js"), 100ms);  // 10 B/s
  auto joined = manager_->sync("app").share();
  expectRefused(FailStep::download, "Operation too slow");
  EXPECT_THROW(joined.get(), SyncError);

  server_.serveTrickle("/bundles/app/snap-2/live-update-manifest.json", manifestOf(files), 100ms);
  expectRefused(FailStep::download, "Operation too slow");

  // The check answer itself.
  server_.answerCheckTrickle("app", std::string(10000, ' '), 100ms);
  expectRefused(FailStep::check, "Operation too slow");
}

// A transfer that keeps a real pace but would take longer than the sync may: cut off at
// the sync's maximum duration.
TEST_F(HostilePace, ASyncEndsAtItsMaximumDuration) {
  startWith(Strategy::zip);
  auto limits = manager_->limits();
  limits.maxSyncDuration = 2s;
  limits.minTransferRate = 100;
  manager_->setLimits(limits);
  server_.serveTrickle("/bundles/app/long.zip", std::string(20000, 'z'), 1ms);  // ~1 kB/s
  server_.offer("app", "snap-2", 2, server_.http().origin() + "/bundles/app/long.zip");
  expectRefused(FailStep::download, "maximum duration");
}

// Two files that redirect to each other. (The client's own tests follow a manifest's
// redirects; an archive is fetched as a file is.)
TEST_F(HostileSync, RedirectLoopsFailTheDownload) {
  startWith(Strategy::differential);
  Files files = {{"index.html", "<html>2</html>"}, {"a.js", "a"}, {"b.js", "b"}};
  offerManifestText("snap-2", manifestOf(files), files);
  server_.redirect("/bundles/app/snap-2/a.js", "/bundles/app/snap-2/b.js");
  server_.redirect("/bundles/app/snap-2/b.js", "/bundles/app/snap-2/a.js");
  expectRefused(FailStep::download, "redirect");
}

}  // namespace
}  // namespace qelvo::test
