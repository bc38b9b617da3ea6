#include <gtest/gtest.h>
#include <sys/stat.h>

#include "publishing/signed_manifest_writer.h"
#include "support/signed_bundles.h"
#include "support/sync_fixture.h"
#include "support/temp_dir.h"
#include "support/test_keys.h"

namespace qelvo::test {
namespace {

namespace fs = std::filesystem;

const std::string kSecureFailure = "Secure Update Failure -";
const std::string kInvalid =
    " The live update bundle did not contain a valid live-update-manifest.json file.";
const std::string kIntegrity =
    " The integrity checks specified for the files included in live-update-manifest.json failed "
    "for the following files in the bundle:\n";

std::string failure(const std::string& step, const std::string& detail) {
  return "Failure occured during " + step + " step.\n" + kSecureFailure + detail;
}

std::string invalidHash(const std::string& href, const std::string& expected,
                        const std::string& actual) {
  return href + ": Invalid hash - Expected " + manifestItem(href, expected).integrity +
         " but got " + manifestItem(href, actual).integrity + "\n";
}

// The violation lines of listed files, in the order in which their manifest's items are
// visited (the order of the report).
std::string inManifestOrder(const Files& listed, const std::map<std::string, std::string>& lines) {
  std::string text;
  const auto manifest = Manifest::decode(manifestOf(listed));
  for (const auto& item : manifest->payload) {
    if (auto line = lines.find(item.href); line != lines.end()) text += line->second;
  }
  return text;
}

class SecureSync : public SyncTest {
 protected:
  void SetUp() override { secure_ = makeSecureManager(server_); }

  SyncError secureError() { return syncError(*secure_, "app"); }
  void expectCurrent(const std::string& id, const Files& files) {
    SyncTest::expectCurrent(*secure_, id, files);
  }

  std::shared_ptr<SecureLiveUpdateManager> secure_;
};

class SecureZipSync : public SecureSync {
 protected:
  void SetUp() override {
    SecureSync::SetUp();
    secure_->add(LiveUpdate("app", "production", false, Strategy::zip));
  }
  void offerZip(const std::string& id, const Files& zipFiles) {
    server_.offer("app", id, 1, server_.putZip("app", id, zipFiles));
  }
};

TEST_F(SecureZipSync, ASignedBundleIsServedFromCacheOnlyWhileItIsAsVerified) {
  const auto signedFiles =
      withManifestText(bundle("v1"), signedManifestOf(bundle("v1"), testKey()));
  offerZip("snap-1", signedFiles);
  auto result = secure_->sync("app").get();
  EXPECT_EQ(result.source, SyncResult::Source(SyncResult::Download{}));
  expectCurrent("snap-1", signedFiles);
  auto again = secure_->sync("app").get();
  EXPECT_EQ(again.source, SyncResult::Source(SyncResult::Cache{false}));

  // Changed on disk since it was verified: downloaded and verified again, not served.
  writeFile(snapshotDir("snap-1") / "extra.js", "added later");
  auto changed = secure_->sync("app").get();
  EXPECT_EQ(changed.source, SyncResult::Source(SyncResult::Download{}));
  expectCurrent("snap-1", signedFiles);
  EXPECT_EQ(server_.count("GET", "/bundles/app/snap-1.zip"), 2u);
}

// The cache is shared by the managers of a container: a plain manager offered an
// unsigned bundle under the id of one a secure manager verified takes the directory as
// it is, and a secure manager never takes a directory another manager filled unless it
// holds exactly the files it verified.
TEST_F(SecureZipSync, APlainManagerCannotChangeWhatASecureManagerServes) {
  auto plain = makeTestManager(server_.client(), "plain");
  plain->add(LiveUpdate("app", "production", false, Strategy::zip));
  const auto signedV1 = withManifestText(bundle("v1"), signedManifestOf(bundle("v1"), testKey()));
  offerZip("snap-1", signedV1);
  secure_->sync("app").get();

  auto unsignedV1 = bundle("v1");
  unsignedV1["js/app.js"] = "console.log('not what was signed');";
  server_.offer("app", "snap-1", 1, server_.putZip("app", "unsigned-1", unsignedV1));
  plain->sync("app").get();
  expectCurrent("snap-1", signedV1);
  EXPECT_EQ(plain->latestAppDirectory("app"), snapshotDir("snap-1"));
  offerZip("snap-1", signedV1);
  EXPECT_EQ(secure_->sync("app").get().source, SyncResult::Source(SyncResult::Cache{false}));

  // The other way round: the plain manager's files stay, the secure manager refuses them.
  server_.offer("app", "snap-2", 2, server_.putZip("app", "unsigned-2", bundle("v2")));
  plain->sync("app").get();
  offerZip("snap-2", withManifestText(bundle("v2b"), signedManifestOf(bundle("v2b"), testKey())));
  auto error = secureError();
  EXPECT_EQ(error.failStep, FailStep::unpack);
  EXPECT_NE(error.errorDescription().find("live-update-manifest.json"), std::string::npos);
  EXPECT_EQ(filesIn(snapshotDir("snap-2")), bundle("v2"));
  expectCurrent("snap-1", signedV1);
}

// Signed bundles whose files do not match their manifest, each reported in full. (Those
// without a signature the key verifies are the hostile secure table's.)
TEST_F(SecureZipSync, RefusedBundlesLeaveThePreviousSnapshotCurrent) {
  const auto v1 = withManifestText(bundle("v1"), signedManifestOf(bundle("v1"), testKey()));
  offerZip("snap-1", v1);
  secure_->sync("app").get();
  const auto synced = secure_->lastSync("app");

  const auto files = bundle("v2");
  const auto signedByUs = signedManifestOf(files, testKey());
  auto tampered = withManifestText(files, signedByUs);
  tampered["js/app.js"] = "console.log('evil');";
  auto extra = withManifestText(files, signedByUs);
  extra["assets/extra.png"] = "png";
  extra[".hidden"] = "h";
  auto missingFile = withManifestText(files, signedByUs);
  missingFile.erase("index.html");
  auto everything = withManifestText(files, signedByUs);
  everything.erase("index.html");
  everything["js/app.js"] = "changed";
  everything["zzz.txt"] = "z";

  std::map<std::string, std::string> changedLines;  // v2's files checked against v1's manifest
  for (const auto& [href, content] : bundle("v1")) {
    if (files.at(href) != content) changedLines[href] = invalidHash(href, content, files.at(href));
  }

  const std::vector<std::pair<Files, std::string>> cases = {
      {withManifestText(files, signedManifestOf(bundle("v1"), testKey())),
       kIntegrity + inManifestOrder(bundle("v1"), changedLines)},
      {tampered,
       kIntegrity + invalidHash("js/app.js", files.at("js/app.js"), tampered["js/app.js"])},
      {extra, kIntegrity + ".hidden: File not included in manifest\n" +
                  "assets/extra.png: File not included in manifest\n"},
      {missingFile, kIntegrity + "index.html: File not found\n"},
      {everything,
       kIntegrity +
           inManifestOrder(
               files, {{"index.html", "index.html: File not found\n"},
                       {"js/app.js", invalidHash("js/app.js", files.at("js/app.js"), "changed")}}) +
           "zzz.txt: File not included in manifest\n"},
      {withManifestText(files, "{not json"), kInvalid},
  };
  int n = 1;
  for (const auto& [zipFiles, detail] : cases) {
    const std::string id = "snap-" + std::to_string(++n);
    offerZip(id, zipFiles);
    auto error = secureError();
    EXPECT_EQ(error.failStep, FailStep::unpack) << id;
    EXPECT_EQ(error.errorDescription(), failure("unpack", detail)) << id;
    expectCurrent("snap-1", v1);
    EXPECT_EQ(secure_->lastSync("app"), synced) << "nothing recorded";
  }
}

class SecureDifferentialSync : public SecureSync {
 protected:
  // Trusts the test key through a key file, as a host that ships one does.
  void SetUp() override {
    SecureSync::SetUp();
    writeFile(keys_ / "key.pem", testKey().publicKeyPkcs1Pem());
    secure_ = std::make_shared<SecureLiveUpdateManager>("from-file", keys_ / "key.pem", 3);
    secure_->setLoggingEnabled(false);
    secure_->add(LiveUpdate("app", "production", false, Strategy::differential));
  }
  void offerSigned(const std::string& id, const Files& files,
                   const publishing::RsaSigner& signer = testKey()) {
    server_.offer("app", id, 1, server_.putManifest("app", id, files, &signer));
  }
  TempDir keys_;
};

TEST_F(SecureDifferentialSync, FilesThatDoNotMatchTheManifestAreRefused) {
  offerSigned("snap-1", bundle("v1"));
  secure_->sync("app").get();
  auto next = bundle("v1");
  next["index.html"] = "<html>v2</html>";

  // A served file other than the signed manifest says (of the same size: a larger one
  // is cut off at its size before any digest is taken).
  offerSigned("snap-2", next);
  server_.serve("/bundles/app/snap-2/index.html", "<html>ev</html>");
  auto error = secureError();
  EXPECT_EQ(error.failStep, FailStep::download);
  EXPECT_EQ(error.errorDescription(),
            failure("download", kIntegrity + invalidHash("index.html", "<html>v2</html>",
                                                         "<html>ev</html>")));
  EXPECT_FALSE(fs::exists(snapshotDir("snap-2")));
  EXPECT_TRUE(leftInTmp().empty());

  // An unchanged file copied from a previous snapshot that was altered on disk.
  writeFile(snapshotDir("snap-1") / "js/app.js", "altered");
  offerSigned("snap-3", next);
  error = secureError();
  EXPECT_EQ(
      error.errorDescription(),
      failure("download", kIntegrity + invalidHash("js/app.js", next.at("js/app.js"), "altered")));
  EXPECT_EQ(transferred("snap-3"), std::vector<std::string>{"index.html"});
  EXPECT_FALSE(fs::exists(snapshotDir("snap-3")));
  EXPECT_EQ(secure_->latestAppDirectory("app"), snapshotDir("snap-1"));
  EXPECT_TRUE(leftInTmp().empty());
}

// Snapshots that share their unchanged files (Limits::shareUnchangedFiles): hard links to
// the previous snapshot's read-only files, and fingerprints that keep holding while later
// snapshots link those files and earlier ones are trimmed.
TEST_F(SecureDifferentialSync, SharedUnchangedFilesAreReadOnlyAndEverySnapshotKeepsVerifying) {
  auto limits = secure_->limits();
  limits.shareUnchangedFiles = true;
  secure_->setLimits(limits);
  auto syncTo = [&](const std::string& id, const Files& files) {
    offerSigned(id, files);
    return secure_->sync("app").get().source;
  };
  auto statusOf = [](const fs::path& file) {
    struct stat status {};
    EXPECT_EQ(::lstat(file.c_str(), &status), 0) << file;
    return status;
  };
  const Files v1 = {{"index.html", "<h1>v1</h1>"},
                    {"js/app.js", std::string(30000, 'a')},
                    {"img/logo.bin", std::string(5000, 'L')}};
  Files v2 = v1;
  v2["index.html"] = "<h1>v2</h1>";
  const SyncResult::Source downloaded = SyncResult::Download{};
  ASSERT_EQ(syncTo("snap-1", v1), downloaded);
  ASSERT_EQ(syncTo("snap-2", v2), downloaded);
  EXPECT_EQ(transferred("snap-2"), std::vector<std::string>{"index.html"});
  EXPECT_EQ(filesIn(snapshotDir("snap-2")), withManifestFile(v2));

  // One inode for both versions of an unchanged file, and nothing writable in either.
  for (const auto* href : {"js/app.js", "img/logo.bin"}) {
    EXPECT_EQ(statusOf(snapshotDir("snap-1") / href).st_ino,
              statusOf(snapshotDir("snap-2") / href).st_ino)
        << href;
  }
  for (const auto& [id, files] : {std::pair{"snap-1", v1}, std::pair{"snap-2", v2}}) {
    for (const auto& [href, content] : withManifestFile(files)) {
      EXPECT_EQ(statusOf(snapshotDir(id) / href).st_mode & 07777, 0444u) << id << " " << href;
    }
  }

  // The link made for snap-2 changed nothing in snap-1: it is served from the cache as
  // it was verified, and so is snap-2 afterwards.
  const SyncResult::Source cached = SyncResult::Cache{true};
  EXPECT_EQ(syncTo("snap-1", v1), cached);
  EXPECT_EQ(syncTo("snap-2", v2), cached);

  // Trimming snap-1 removes its names only: snap-2 keeps its bytes and its fingerprint.
  secure_->setMaxVersions(0);
  secure_->cleanVersions("app");
  ASSERT_FALSE(fs::exists(snapshotDir("snap-1")));
  EXPECT_EQ(filesIn(snapshotDir("snap-2")), withManifestFile(v2));
  EXPECT_EQ(secure_->sync("app").get().source, SyncResult::Source(SyncResult::Cache{false}));
  EXPECT_EQ(server_.count("GET", "/bundles/app/snap-2/.*"), 2u)
      << "the manifest and index.html, once";
  EXPECT_TRUE(leftInTmp().empty());
}

}  // namespace
}  // namespace qelvo::test
