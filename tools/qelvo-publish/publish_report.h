// The JSON line qelvo-publish prints after it has changed the deploy root, for people
// and for scripts (the snapshot id is the one thing a script usually needs).
#pragma once

#include <string>

#include "publishing/snapshot_publisher.h"

namespace qelvo::publishing {

// {"app_id","snapshot","build","files","archive_bytes","signatures","channel"?,
//  "rollout"?:{"snapshot","percent"}}
std::string publishReport(const PublishRequest& request, const PublishedSnapshot& published);

// A channel after a rollback or a rollout:
// {"app_id","channel","snapshot","previous":[...],"rollout"?:{"snapshot","percent"}}
std::string channelReport(const std::string& app, const std::string& channel,
                           const ChannelRecord& record);

}  // namespace qelvo::publishing
