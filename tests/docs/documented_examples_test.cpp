// docs/protocol.md and docs/cli.md show what the tools really write and say: this test
// publishes a tiny signed app twice with qelvo-publish, serves it with
// qelvo-deploy-server on 127.0.0.1, asks it as a device does, keeps it up to date with
// qelvo-live-update, and compares what it got with the documents' examples (see
// doc_examples.h for the volatile values it replaces).
#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "base/base64.h"
#include "client/check_types.h"
#include "client/download_request.h"
#include "doc_examples.h"
#include "publishing/rsa_signer.h"
#include "qelvo/url.h"
#include "support/built_program.h"
#include "support/background_process.h"
#include "support/temp_dir.h"
#include "support/test_host.h"
#include "support/test_keys.h"
#include "support/tool_run.h"

namespace qelvo::test {
namespace {

using Json = nlohmann::ordered_json;
namespace fs = std::filesystem;

// The moment every file of the root is set to, so that ETag and Last-Modified are fixed,
// and the one release claims are moved to: 2026-01-01 00:00:00 UTC.
constexpr std::int64_t kFixedTime = 1767225600;
const std::string kDeviceId = "6C1F7E0A-3B2D-4E5F-8A9B-0C1D2E3F4A5B";

// A script of a few KiB whose versions differ in one line, so that the second snapshot
// carries a patch from the first.
std::string appScript(int version) {
  std::string text = "// sample kiosk script\n";
  for (int line = 0; line < 200; ++line) {
    const auto value = line == 120 ? "version " + std::to_string(version)
                                   : "label number " + std::to_string(line);
    text += "export const label" + std::to_string(line) + " = \"" + value + "\";\n";
  }
  return text;
}

std::string pretty(const std::string& jsonText) { return Json::parse(jsonText).dump(2); }

std::string statusLine(int status) {
  static const std::map<int, std::string> reasons = {
      {200, "OK"},        {206, "Partial Content"},       {304, "Not Modified"},
      {404, "Not Found"}, {416, "Range Not Satisfiable"}};
  return "HTTP/1.1 " + std::to_string(status) + " " + reasons.at(status);
}

// An answer as the documents show it: its status, the headers named, and a JSON body
// indented (on the wire it is one line).
std::string answerText(const httplib::Result& answer, const std::vector<std::string>& headers,
                       bool withBody) {
  if (!answer) {
    return "no answer (httplib error " + std::to_string(static_cast<int>(answer.error())) + ")";
  }
  std::string text = statusLine(answer->status);
  for (const auto& name : headers) {
    if (answer->has_header(name)) text += "\n" + name + ": " + answer->get_header_value(name);
  }
  if (withBody) text += "\n\n" + pretty(answer->body);
  return text;
}

void setTimes(const fs::path& root) {
  const auto fixed = std::chrono::file_clock::from_sys(
      std::chrono::sys_seconds(std::chrono::seconds(kFixedTime)));
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    fs::last_write_time(entry, fixed);
  }
}

// The release claims of a protected header (unpadded Base64url), their times moved so
// that "created" is the fixed time and "expires" keeps its distance from it.
Json fixedClaims(const std::string& protectedHeader) {
  std::string text = protectedHeader;
  std::replace(text.begin(), text.end(), '-', '+');
  std::replace(text.begin(), text.end(), '_', '/');
  text.append((4 - text.size() % 4) % 4, '=');
  auto claims = Json::parse(base64Decode(text).value_or("{}"));
  if (claims.contains("expires")) {
    claims["expires"] = kFixedTime + (claims["expires"].get<std::int64_t>() -
                                      claims["created"].get<std::int64_t>());
  }
  if (claims.contains("created")) claims["created"] = kFixedTime;
  return claims;
}

// A signed manifest with fixed claims times and signatures, its protected headers
// encoded again from the fixed claims (signatures would need the test's key).
Json fixedSignedManifest(const std::string& text) {
  auto document = Json::parse(text);
  for (auto& signature : document["signatures"]) {
    signature["protected"] = publishing::base64UrlEncode(
        fixedClaims(signature["protected"].get<std::string>()).dump());
    signature["signature"] = "<signature>";
  }
  return document;
}

// The publisher, deploy server and device of the examples, in one temporary directory.
struct ToolsRun {
  ToolsRun() {
    writePrivateFile(dir / "release-key.pem", testKey().privateKeyPem());
    writeFile(dir / "dist/index.html",
              "<!doctype html>\n<title>Kiosk</title>\n"
              "<script type=\"module\" src=\"js/app.js\"></script>\n");
    writeFile(dir / "dist/js/app.js", appScript(1));
    normalize.literal((dir / "root").string(), "/srv/qelvo-deploy");
    normalize.literal((dir / "device").string(), "/var/lib/qelvo-live-update/kiosk");
    normalize.literal((dir / "dist").string(), "dist");
    normalize.literal((dir / "release-key.pem").string(), "release-key.pem");
  }

  // A publisher's line, its archive size fixed: deflate gives a byte more or less for the
  // signatures and times of each run.
  std::string publishLine(std::vector<std::string> args) {
    static const std::regex archiveBytes(R"("archive_bytes":[0-9]+)");
    return std::regex_replace(normalize(publish(std::move(args)).out), archiveBytes,
                              R"("archive_bytes":2048)");
  }
  ToolRun publish(std::vector<std::string> args) {
    std::vector<std::string> all{args.front(), "--root", (dir / "root").string(), "--app",
                                 "kiosk"};
    all.insert(all.end(), args.begin() + 1, args.end());
    auto run = runTool(QELVO_PUBLISH_TOOL, all);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return run;
  }
  std::vector<std::string> publishArgs(const std::string& snapshot, const std::string& build) {
    return {"publish", "--channel", "production", "--snapshot", snapshot, "--build", build,
            "--key", (dir / "release-key.pem").string(), "--expires-in", "30",
            (dir / "dist").string()};
  }
  ToolRun device(std::vector<std::string> args) {
    std::vector<std::string> all{"--data-dir", (dir / "device").string(), "--server", appsUrl,
                                 "--bundle-id", "com.example.kiosk", "--quiet"};
    all.insert(all.end(), args.begin(), args.end());
    return runTool(QELVO_LIVE_UPDATE_TOOL, all);
  }

  void startServer() {
    server = std::make_unique<BackgroundProcess>(
        builtProgramCommand({QELVO_DEPLOY_SERVER_TOOL, "--root", (dir / "root").string(),
                             "--listen", "127.0.0.1:0"}),
        dir / "server.log");
    ASSERT_TRUE(server->waitForOutput("listening on "));
    std::smatch url;
    const auto output = server->output();
    ASSERT_TRUE(std::regex_search(output, url,
                                  std::regex("listening on (http://127.0.0.1:([0-9]+)/apps)")));
    appsUrl = url[1];
    port = std::stoi(url[2]);
    normalize.literal("127.0.0.1:" + std::string(url[2]), "127.0.0.1:8787");
  }

  TempDir dir;
  Normalizer normalize;
  std::unique_ptr<BackgroundProcess> server;
  std::string appsUrl;
  int port = 0;
};

}  // namespace

TEST(DocumentedExamples, MatchWhatTheToolsDo) {
  ToolsRun tools;
  auto& normalize = tools.normalize;
  std::map<std::string, std::string> protocol, cli;
  const fs::path root = tools.dir / "root";

  cli["publish-output"] = tools.publishLine(tools.publishArgs("v1", "1"));
  tools.startServer();
  auto first = tools.device({"sync", "kiosk:production:differential"});
  ASSERT_EQ(first.exitCode, 0) << first.out << first.err;

  writeFile(tools.dir / "dist/js/app.js", appScript(2));
  tools.publish(tools.publishArgs("v2", "2"));
  setTimes(root);

  const auto files = root / "apps/kiosk/snapshots/v2/files";
  const auto manifestText = readFile(files / "live-update-manifest.json");
  protocol["manifest"] = fixedSignedManifest(manifestText).dump(2);
  auto signedManifest = Json::parse(manifestText);
  protocol["manifest-payload"] =
      pretty(*base64Decode(signedManifest["payload"].get<std::string>()));
  protocol["release-claims"] =
      fixedClaims(signedManifest["signatures"][0]["protected"].get<std::string>()).dump();
  protocol["snapshot-record"] = readFile(root / "apps/kiosk/snapshots/v2/snapshot.json");
  protocol["channel-record"] = readFile(root / "apps/kiosk/channels/production.json");

  TestHost host("com.example.kiosk", "1.0.0");
  CheckRequest request(Device::describe(kDeviceId), true, "kiosk", "production");
  auto requestJson = Json::parse(*request.toJson());
  requestJson["device"]["platform_version"] = "6.1.0-28-amd64";  // the kernel's release
  protocol["check-request"] = normalize(requestJson.dump(2));
  httplib::Client client("127.0.0.1", tools.port);
  const std::vector<std::string> jsonHeaders{"Cache-Control", "Content-Type"};
  protocol["check-answer"] = normalize(answerText(
      client.Post("/apps/kiosk/channels/check-device", requestJson.dump(), "application/json"),
      jsonHeaders, true));
  auto unknown = requestJson;
  unknown["channel_name"] = "beta";
  protocol["check-error"] = normalize(answerText(
      client.Post("/apps/kiosk/channels/check-device", unknown.dump(), "application/json"),
      jsonHeaders, true));

  const std::vector<std::string> fileHeaders{"Content-Type",  "Content-Length", "Content-Range",
                                             "ETag",          "Last-Modified",  "Cache-Control",
                                             "Accept-Ranges"};
  const std::string manifestPath = "/apps/kiosk/snapshots/v2/files/live-update-manifest.json";
  auto whole = client.Get(manifestPath);
  protocol["file-answer"] = answerText(whole, fileHeaders, false);
  const auto etag = whole ? whole->get_header_value("ETag") : "";
  protocol["range-answer"] = answerText(
      client.Get(manifestPath, {{"Range", "bytes=256-"}, {"If-Range", etag}}), fileHeaders,
      false);
  protocol["not-modified"] =
      answerText(client.Get(manifestPath, {{"If-None-Match", etag}}), fileHeaders, false);

  // How a device names the files of a manifest it fetched from this URL.
  auto manifestUrl = Url::parse(
      "https://cdn.example.com/apps/kiosk/snapshots/v2/files/live-update-manifest.json"
      "?token=a%2Fb&v");
  auto builder = makeDownloadFileRequestBuilder(*manifestUrl);
  std::string urls;
  for (std::string href : {"index.html", "js/app.js", "img/logo 1.png", "./css/../fonts/a+b.woff2",
                           ".patches/v1/js/app.js"}) {
    auto file = builder(href);
    auto http = file ? makeHttpRequest(*file) : std::nullopt;
    urls += href + "\n  " + (http ? http->url.text() : "(none)") + "\n";
  }
  protocol["file-urls"] = urls;

  cli["sync-output"] = normalize(tools.device({"sync", "kiosk:production:differential"}).out);
  const auto launch = tools.device({"launch", "kiosk:production"});
  cli["launch-output"] = normalize(launch.out);
  const auto attempt = Json::parse(launch.out)["attempt"].get<std::string>();
  cli["ready-output"] = normalize(tools.device({"ready", "kiosk:production", attempt}).out);
  cli["status-output"] = normalize(tools.device({"status", "kiosk:production"}).out);
  cli["dir-output"] = normalize(tools.device({"dir", "kiosk:production"}).out);

  writeFile(tools.dir / "dist/index.html", "<!doctype html>\n<title>Kiosk 3</title>\n");
  auto rolloutArgs = tools.publishArgs("v3", "3");
  rolloutArgs.insert(rolloutArgs.begin() + 3, {"--rollout", "10"});
  cli["publish-rollout-output"] = tools.publishLine(rolloutArgs);
  protocol["channel-rollout"] = readFile(root / "apps/kiosk/channels/production.json");
  cli["rollout-output"] = normalize(
      tools.publish({"rollout", "--channel", "production", "--percent", "50"}).out);
  cli["rollback-output"] = normalize(tools.publish({"rollback", "--channel", "production"}).out);

  std::string layout;
  for (const auto& file : listFiles(root)) layout += file + "\n";
  protocol["deploy-root"] = layout;

  std::istringstream serverLines(tools.server->output());
  std::string line, serverText;
  for (int i = 0; i < 3 && std::getline(serverLines, line); ++i) serverText += line + "\n";
  cli["server-output"] = normalize(serverText);

  expectDocumentedExamples(QELVO_DOCS_DIR "/protocol.md", protocol);
  expectDocumentedExamples(QELVO_DOCS_DIR "/cli.md", cli);
}

}  // namespace qelvo::test
