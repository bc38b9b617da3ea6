#include "support/signed_bundles.h"

#include "qelvo/configuration.h"
#include "support/test_keys.h"
#include "support/zip_builder.h"

namespace qelvo::test {

std::string payloadOf(const Files& files) { return Manifest::decode(manifestOf(files))->_payload; }

std::string zipOf(const Files& files) {
  ZipBuilder builder;
  for (const auto& [href, content] : files) builder.file(href, content);
  return zipOf(builder);
}

Files withManifestText(Files files, std::string manifest) {
  files[kManifestFile] = std::move(manifest);
  return files;
}

std::shared_ptr<SecureLiveUpdateManager> makeSecureManager(TestDeployServer& server,
                                                           const std::string& name) {
  configureDeployService({.baseUrl = server.http().origin() + "/apps"});
  auto manager = std::make_shared<SecureLiveUpdateManager>(name, testKey().publicKeyPem(), 3);
  manager->setLoggingEnabled(false);
  return manager;
}

}  // namespace qelvo::test
