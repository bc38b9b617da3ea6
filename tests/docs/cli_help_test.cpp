// The summary each tool prints for --help and the tool's section of docs/cli.md name the
// same options (and, for qelvo-live-update, the same commands).
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

#include "support/temp_dir.h"
#include "support/tool_run.h"

namespace qelvo::test {
namespace {

std::set<std::string> matches(const std::string& text, const std::regex& pattern, int group = 0) {
  std::set<std::string> found;
  for (std::sregex_iterator it(text.begin(), text.end(), pattern), end; it != end; ++it) {
    found.insert((*it)[group].str());
  }
  return found;
}

// The section "## <tool>" of the document, up to the next section of that level.
std::string section(const std::string& document, const std::string& tool) {
  auto start = document.find("\n## " + tool + "\n");
  if (start == std::string::npos) return "";
  auto end = document.find("\n## ", start + 1);
  return document.substr(start, end == std::string::npos ? end : end - start);
}

TEST(CliHelp, EachToolsSummaryNamesWhatItsSectionDocuments) {
  const std::string document = readFile(QELVO_DOCS_DIR "/cli.md");
  const std::regex option("--[a-z][a-z-]*[a-z]");
  struct Tool {
    std::string name, executable;
  };
  for (const Tool& tool : {Tool{"qelvo-live-update", QELVO_LIVE_UPDATE_TOOL},
                           Tool{"qelvo-publish", QELVO_PUBLISH_TOOL},
                           Tool{"qelvo-deploy-server", QELVO_DEPLOY_SERVER_TOOL}}) {
    SCOPED_TRACE(tool.name);
    auto help = runTool(tool.executable, {"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.starts_with("usage: " + tool.name + " ")) << help.out;
    EXPECT_EQ(help.err, "");
    const auto documented = section(document, tool.name);
    ASSERT_FALSE(documented.empty());
    auto helpOptions = matches(help.out, option);
    helpOptions.insert("--help");
    EXPECT_EQ(helpOptions, matches(documented, option));
  }
  // The commands of the command-line host: one usage line each, one heading each.
  auto help = runTool(QELVO_LIVE_UPDATE_TOOL, {"--help"});
  EXPECT_EQ(matches(help.out, std::regex(R"(\[options\] ([a-z-]+))"), 1),
            matches(section(document, "qelvo-live-update"), std::regex("\n### `([a-z-]+)`"), 1));
}

}  // namespace
}  // namespace qelvo::test
