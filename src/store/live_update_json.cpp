#include <functional>

#include "base/try.h"
#include "qelvo/live_update.h"
#include "platform/json.h"

namespace qelvo {
namespace {

std::expected<LiveUpdate::Strategy, DecodingError> decodeStrategy(const json::Json& object) {
  QELVO_TRY(auto text, json::required<std::string>(object, "strategy", ""));
  for (auto strategy : {LiveUpdate::Strategy::zip, LiveUpdate::Strategy::differential}) {
    if (text == LiveUpdate::rawValue(strategy)) return strategy;
  }
  return std::unexpected(
      DecodingError("strategy", "Cannot initialize Strategy from invalid String value " + text));
}

}  // namespace

std::string_view LiveUpdate::rawValue(Strategy strategy) {
  switch (strategy) {
    case Strategy::zip:
      return "zip";
    case Strategy::differential:
      return "differential";
  }
  return "zip";  // unreachable: every enumerator is handled above
}

std::string LiveUpdate::toJson() const {
  json::Json value = {{"appId", appId},
                      {"channel", channel},
                      {"syncOnAdd", syncOnAdd},
                      {"strategy", rawValue(strategy)}};
  auto text = json::dump(value);
  if (!text) throw text.error();
  return std::move(*text);
}

std::expected<LiveUpdate, DecodingError> LiveUpdate::fromJson(std::string_view text) {
  QELVO_TRY(auto document, json::parse(text));
  QELVO_TRY(const json::Json* object, json::asObject(document, ""));
  QELVO_TRY(auto appId, json::required<std::string>(*object, "appId", ""));
  QELVO_TRY(auto channel, json::required<std::string>(*object, "channel", ""));
  QELVO_TRY(bool syncOnAdd, json::required<bool>(*object, "syncOnAdd", ""));
  QELVO_TRY(auto strategy, decodeStrategy(*object));
  return LiveUpdate(std::move(appId), std::move(channel), syncOnAdd, strategy);
}

}  // namespace qelvo

std::size_t std::hash<qelvo::LiveUpdate>::operator()(const qelvo::LiveUpdate& u) const noexcept {
  std::size_t seed = 0;
  auto combine = [&seed](std::size_t value) {
    seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
  };
  combine(std::hash<std::string>{}(u.appId));
  combine(std::hash<std::string>{}(u.channel));
  combine(std::hash<bool>{}(u.syncOnAdd));
  combine(std::hash<qelvo::LiveUpdate::Strategy>{}(u.strategy));
  return seed;
}
