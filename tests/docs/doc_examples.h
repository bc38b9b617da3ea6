// The examples of a Markdown document, kept between marker comments so that a test can
// regenerate them from the tools and notice when the document no longer tells the truth:
//
//   <!-- example: check-answer -->
//   ```http
//   HTTP/1.1 200 OK
//   ...
//   ```
//
// Volatile values (UUIDs, times, ports, temporary paths, signatures) are replaced by
// fixed ones before the comparison (`Normalizer`), as the documents say. With
// QELVO_UPDATE_DOC_EXAMPLES=1 in the environment, a mismatch rewrites the document's block
// instead of failing, for a developer who changed the format on purpose.
#pragma once

#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <utility>
#include <vector>

namespace qelvo::test {

// Compares every example of `document` with `generated`, less its final line breaks
// (gtest failures naming each difference); a document example nobody generates, or the
// reverse, fails too.
void expectDocumentedExamples(const std::filesystem::path& document,
                              const std::map<std::string, std::string>& generated);

// Replaces volatile text by fixed text: first the literal replacements added with
// `literal` (longest first: temporary paths), then each distinct UUID by
// 00000000-0000-4000-8000-00000000000N in order of first appearance, then UTC times in
// ISO 8601 and in the access log's form by 2026-01-01 00:00:00 UTC.
class Normalizer {
 public:
  void literal(std::string from, std::string to);
  std::string operator()(std::string text);

 private:
  std::vector<std::pair<std::string, std::string>> literals_;
  std::map<std::string, std::string> uuids_;
};

}  // namespace qelvo::test
