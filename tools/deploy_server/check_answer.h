// The deploy server's answer to a check-device request: the channel's current
// snapshot, always offered (the device decides whether it already has it), with the
// URL of its archive, or of its manifest when the request asks for one. During a
// rollout, a device in the rollout's share (by its device_id, see
// publishing/rollout.h) is offered the rollout's snapshot instead. The answer depends
// on nothing but the request and the records, so any number of servers over one root
// answer alike.
//
//   POST <apps>/kiosk/channels/check-device
//   {"device":{..},"manifest":true,"channel_name":"production",..} 200
//   {"data":{"available":true,"snapshot":"v2","build":2,"url":"<apps>/kiosk/snapshots/v2/files/live-update-manifest.json",..}}
//
// A snapshot that lists compatible binary versions is not offered to other versions:
// available false, compatible false, incompatibleUpdateAvailable true. Refusals carry
// the error envelope {"error":{"message","type","event_id"}}: 400 for a body that is not
// a check-device request, 404 for an unknown app or channel, 500 for a broken root.
#pragma once

#include <string>
#include <string_view>

#include "deploy_server/record_cache.h"

namespace qelvo::deploy {

struct Answer {
  int status = 200;
  std::string body;  // JSON
};

// `filesUrl` is the URL (as text, without a trailing "/") of the root's "apps" level as
// devices reach the files: this server, or a separate files origin. The URLs in the
// answer lie below it.
Answer answerCheckDevice(const RecordCache& records, const std::string& appId,
                         std::string_view requestBody, std::string_view filesUrl);

// An error envelope with a fresh event id.
Answer errorAnswer(int status, const std::string& type, const std::string& message);

// The URL of a snapshot's archive, or of its manifest.
std::string snapshotUrl(std::string_view filesUrl, const std::string& appId,
                        const std::string& snapshotId, bool manifest);

}  // namespace qelvo::deploy
