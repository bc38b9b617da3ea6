#include "publish_report.h"

#include <nlohmann/json.hpp>

namespace qelvo::publishing {
namespace {

void addRollout(nlohmann::ordered_json& report, const std::optional<ChannelRecord>& channel) {
  if (!channel || !channel->rollout) return;
  report["rollout"] = {{"snapshot", channel->rollout->snapshot},
                       {"percent", channel->rollout->percent}};
}

}  // namespace

std::string publishReport(const PublishRequest& request, const PublishedSnapshot& published) {
  nlohmann::ordered_json report = {{"app_id", request.app},
                                   {"snapshot", published.record.id},
                                   {"build", published.record.build},
                                   {"files", published.fileCount},
                                   {"archive_bytes", published.archiveBytes},
                                   {"patches", published.patchCount},
                                   {"signatures", request.signers.size()}};
  if (request.channel) report["channel"] = *request.channel;
  addRollout(report, published.channel);
  return report.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string channelReport(const std::string& app, const std::string& channel,
                          const ChannelRecord& record) {
  nlohmann::ordered_json report = {{"app_id", app},
                                   {"channel", channel},
                                   {"snapshot", record.snapshot},
                                   {"previous", record.previous}};
  addRollout(report, record);
  return report.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace qelvo::publishing
