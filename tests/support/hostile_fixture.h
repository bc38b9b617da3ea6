// Syncs against a deploy service that misbehaves. Each test starts from a device that
// holds a good snapshot ("snap-1") of "app", then offers something hostile and checks
// that the sync fails with a clear error and the device is as it was: nothing written
// outside the app's cache, no staging left, the store unchanged, and the previous
// snapshot still served.
#pragma once

#include <map>
#include <string>

#include "store/app_store.h"
#include "support/sync_fixture.h"

namespace qelvo::test {

// The innermost text of a failure: a platform or transfer error's message, an HTTP
// status, a decoding error's description, a metadata text.
std::string cause(const Error& error);

class HostileSync : public SyncTest {
 protected:
  // The good bundle of "snap-1".
  static Files goodBundle();

  // The manager under test, the name of its metadata suite, and the key that signs what
  // the server offers (for a secure manager).
  struct Device {
    std::shared_ptr<LiveUpdateManager> manager;
    std::string suite;
    const publishing::RsaSigner* signer = nullptr;
  };

  // Registers "app" with `strategy`, syncs "snap-1" and remembers the device as it is;
  // on `manager_` unless another device is given.
  void startWith(Strategy strategy);
  void startWith(Strategy strategy, Device device);
  // The sync's error as a SyncError.
  SyncError refusal();
  // Syncs and expects a SyncError at `step` whose cause mentions `causeText`, with the
  // device unchanged.
  void expectRefused(SyncError::FailStep step, const std::string& causeText);
  // The text of whatever the sync throws (a secure manager passes some errors on as
  // they are); nothing when it succeeds.
  std::optional<std::string> anyFailure();
  // Takes the device as it is now for the one `expectUnchanged` compares with.
  void rememberDevice();
  // The device is as `startWith` (or `rememberDevice`) left it. `cacheUnchanged` false lets the app's own
  // cache directory hold something new (never outside it, and never recorded).
  void expectUnchanged(bool cacheUnchanged = true) const;

  // Every directory ("path/") and file (path to content) in the container, the metadata
  // database left out; `except` (relative) is left out with everything below it.
  std::map<std::string, std::string> containerContents(const std::string& except = "") const;

 private:
  std::string storedRecord() const;

  Device device_;
  std::shared_ptr<KeyValueSuite> store_;
  std::map<std::string, std::string> before_;
  std::string recordBefore_;
  std::optional<std::filesystem::path> servedBefore_;
  Files servedFilesBefore_;
};

}  // namespace qelvo::test
