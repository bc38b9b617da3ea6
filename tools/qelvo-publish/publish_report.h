// The JSON line qelvo-publish prints after it has changed the deploy root, for people
// and for scripts (the snapshot id is the one thing a script usually needs).
#pragma once

#include <string>

#include "publishing/snapshot_publisher.h"

namespace qelvo::publishing {

// {"app_id","snapshot","build","files","archive_bytes","signatures","channel"?}
std::string publishReport(const PublishRequest& request, const PublishedSnapshot& published);

// {"app_id","channel","snapshot","previous":[...]}
std::string rollbackReport(const std::string& app, const std::string& channel,
                           const ChannelRecord& record);

}  // namespace qelvo::publishing
