#include "doc_examples.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "support/temp_dir.h"

namespace qelvo::test {
namespace {

constexpr std::string_view kMarker = "<!-- example: ";

// Where each example's text lies in `markdown`: name to (offset, length).
std::map<std::string, std::pair<std::size_t, std::size_t>> exampleSpans(
    const std::string& markdown) {
  std::map<std::string, std::pair<std::size_t, std::size_t>> spans;
  for (auto at = markdown.find(kMarker); at != std::string::npos;
       at = markdown.find(kMarker, at + 1)) {
    auto nameEnd = markdown.find(" -->", at);
    auto fence = markdown.find("\n```", nameEnd);
    auto start = fence == std::string::npos ? fence : markdown.find('\n', fence + 4);
    if (nameEnd == std::string::npos || start == std::string::npos) {
      ADD_FAILURE() << "an example marker without a fenced block at offset " << at;
      break;
    }
    auto name = markdown.substr(at + kMarker.size(), nameEnd - at - kMarker.size());
    start += 1;  // the text begins on the line after the opening fence
    // An empty block ("```\n```") has no text: its span is empty, before the closing fence.
    auto end = markdown.compare(start, 3, "```") == 0 ? start : markdown.find("\n```", start);
    if (end == std::string::npos) {
      ADD_FAILURE() << "example " << name << " has no closing fence";
      break;
    }
    if (!spans.emplace(name, std::pair{start, end - start}).second) {
      ADD_FAILURE() << "example " << name << " appears twice";
    }
  }
  return spans;
}

}  // namespace

void expectDocumentedExamples(const std::filesystem::path& document,
                              const std::map<std::string, std::string>& generated) {
  std::string markdown = readFile(document);
  ASSERT_FALSE(markdown.empty()) << document;
  const char* update = std::getenv("QELVO_UPDATE_DOC_EXAMPLES");
  const bool rewrite = update && std::string(update) == "1";
  const auto spans = exampleSpans(markdown);
  std::vector<std::pair<std::pair<std::size_t, std::size_t>, std::string>> rewrites;
  for (const auto& [name, span] : spans) {
    auto made = generated.find(name);
    if (made == generated.end()) {
      ADD_FAILURE() << document.filename() << ": example " << name << " is made by no tool run";
      continue;
    }
    // A block's text ends before the line break of its closing fence.
    const auto text = made->second.substr(0, made->second.find_last_not_of('\n') + 1);
    if (markdown.compare(span.first, span.second, text) == 0) continue;
    if (rewrite) {
      rewrites.emplace_back(span, text);
      continue;
    }
    ADD_FAILURE() << document.filename() << ": example " << name
                  << " differs from what the tools give now:\n"
                  << text << "\n(run with QELVO_UPDATE_DOC_EXAMPLES=1 to take it)";
  }
  for (const auto& [name, text] : generated) {
    if (!spans.contains(name)) {
      ADD_FAILURE() << document.filename() << ": example " << name << " is missing";
    }
  }
  if (rewrites.empty()) return;
  // From the last block to the first, so that the offsets of those before stay valid.
  std::sort(rewrites.begin(), rewrites.end(),
            [](const auto& a, const auto& b) { return a.first.first > b.first.first; });
  for (const auto& [span, text] : rewrites) {
    // Text put into an empty block needs its own line break before the closing fence.
    markdown.replace(span.first, span.second, span.second == 0 ? text + "\n" : text);
  }
  writeFile(document, markdown);
}

void Normalizer::literal(std::string from, std::string to) {
  literals_.emplace_back(std::move(from), std::move(to));
  std::stable_sort(literals_.begin(), literals_.end(),
                   [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
}

std::string Normalizer::operator()(std::string text) {
  for (const auto& [from, to] : literals_) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
      text.replace(at, from.size(), to);
    }
  }
  static const std::regex uuid(
      "[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}");
  std::string out;
  auto last = text.cbegin();
  for (std::sregex_iterator it(text.begin(), text.end(), uuid), end; it != end; ++it) {
    auto [known, fresh] = uuids_.try_emplace(it->str());
    if (fresh) {
      char fixed[40];
      std::snprintf(fixed, sizeof fixed, "00000000-0000-4000-8000-%012zu", uuids_.size());
      known->second = fixed;
    }
    out.append(last, (*it)[0].first).append(known->second);
    last = (*it)[0].second;
  }
  out.append(last, text.cend());
  static const std::regex isoTime(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d+)?Z)");
  static const std::regex logTime(R"(\[\d\d/[A-Z][a-z]{2}/\d{4}:\d\d:\d\d:\d\d [+-]\d{4}\])");
  out = std::regex_replace(out, isoTime, "2026-01-01T00:00:00Z");
  return std::regex_replace(out, logTime, "[01/Jan/2026:00:00:00 +0000]");
}

}  // namespace qelvo::test
