// Url: an absolute URL as text, parsed and composed with libcurl's URL API.
//
//   auto url = qelvo::Url::parse("https://deploy.example.com/apps");
//   auto check = url->appendingPathComponent("my app");  // .../apps/my%20app
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qelvo {

class Url {
 public:
  using QueryItem = std::pair<std::string, std::optional<std::string>>;

  // Parses absolute URL text (any scheme). No value when it is not a URL.
  static std::optional<Url> parse(const std::string& text);

  // Composes a URL from parts; the path is taken as given (already percent-encoded
  // where needed), the query items are percent-encoded. No value when they do not
  // compose a URL.
  static std::optional<Url> compose(const std::string& scheme, const std::string& host,
                                    const std::string& path,
                                    const std::optional<std::vector<QueryItem>>& queryItems);

  const std::string& text() const { return text_; }
  std::string scheme() const;
  std::string host() const;  // empty when the URL has none
  std::string path() const;  // percent-encoded, as it appears in the URL
  std::optional<std::vector<QueryItem>> queryItems() const;  // decoded; none without '?'

  // This URL with one more path component, percent-encoded (so "/" inside it is kept
  // within the component).
  Url appendingPathComponent(const std::string& component) const;

  friend bool operator==(const Url&, const Url&) = default;

 private:
  explicit Url(std::string text) : text_(std::move(text)) {}
  std::string text_;
};

}  // namespace qelvo
