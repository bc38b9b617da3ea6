// Command-line arguments of the tools: options with a value ("--root DIR" or
// "--root=DIR"), flags ("--quiet"), and words, in any order; "--" ends the options.
//
//   auto args = parseArguments(argc, argv, {.withValue = {"root", "key"}, .flags = {"quiet"}});
//   if (!args) return usage(args.error());
//   args->last("root");   // the last --root given, if any
//   args->all("key");     // every --key, in order
#pragma once

#include <cstdint>
#include <expected>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace qelvo::tools {

struct OptionSpec {
  std::set<std::string> withValue;  // names without "--"
  std::set<std::string> flags;
};

struct ParsedArguments {
  std::map<std::string, std::vector<std::string>> options;  // a flag holds one "" per use
  std::vector<std::string> words;

  bool has(const std::string& name) const { return options.contains(name); }
  std::optional<std::string> last(const std::string& name) const;
  std::vector<std::string> all(const std::string& name) const;
};

// Everything after argv[0]. Fails with a message for an unknown option or a missing value.
std::expected<ParsedArguments, std::string> parseArguments(int argc, const char* const* argv,
                                                           const OptionSpec& spec);

// A decimal integer, the whole text; none otherwise.
std::optional<std::int64_t> parseInteger(const std::string& text);

}  // namespace qelvo::tools
