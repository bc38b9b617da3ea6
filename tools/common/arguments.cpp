#include "common/arguments.h"

#include <charconv>

namespace qelvo::tools {

std::optional<std::string> ParsedArguments::last(const std::string& name) const {
  auto found = options.find(name);
  if (found == options.end() || found->second.empty()) return std::nullopt;
  return found->second.back();
}

std::vector<std::string> ParsedArguments::all(const std::string& name) const {
  auto found = options.find(name);
  return found == options.end() ? std::vector<std::string>{} : found->second;
}

std::expected<ParsedArguments, std::string> parseArguments(int argc, const char* const* argv,
                                                           const OptionSpec& spec) {
  ParsedArguments parsed;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if (optionsEnded || !argument.starts_with("--")) {
      parsed.words.push_back(std::move(argument));
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
      continue;
    }
    std::string name = argument.substr(2);
    std::optional<std::string> inlineValue;
    if (auto equals = name.find('='); equals != std::string::npos) {
      inlineValue = name.substr(equals + 1);
      name.resize(equals);
    }
    if (spec.flags.contains(name)) {
      if (inlineValue) return std::unexpected("--" + name + " takes no value");
      parsed.options[name].emplace_back();
    } else if (spec.withValue.contains(name)) {
      if (!inlineValue && i + 1 >= argc) return std::unexpected("--" + name + " needs a value");
      parsed.options[name].push_back(inlineValue ? *inlineValue : argv[++i]);
    } else {
      return std::unexpected("unknown option --" + name);
    }
  }
  return parsed;
}

std::optional<std::int64_t> parseInteger(const std::string& text) {
  std::int64_t value = 0;
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

}  // namespace qelvo::tools
