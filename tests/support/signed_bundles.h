// What a deploy service offers a secure manager, made at test time: the payload text a
// signature covers, a bundle as one archive, and a secure manager that talks to the test
// server.
#pragma once

#include <memory>
#include <string>

#include "qelvo/secure_live_update_manager.h"
#include "support/test_deploy_server.h"

namespace qelvo::test {

// The payload text of the files' manifest, which signatures cover.
std::string payloadOf(const Files& files);
// The bytes of an archive holding exactly `files`.
std::string zipOf(const Files& files);
// `files` with a manifest file of the given text.
Files withManifestText(Files files, std::string manifest);

// A quiet secure manager trusting the first test key, reaching `server` (secure managers
// always use the standard client, which this points there).
std::shared_ptr<SecureLiveUpdateManager> makeSecureManager(TestDeployServer& server,
                                                           const std::string& name = "secure");

}  // namespace qelvo::test
