/// @file
/// Url: an absolute URL as text, parsed and composed with libcurl's URL API.
///
/// @code
///   auto url = qelvo::Url::parse("https://deploy.example.com/apps");
///   auto check = url->appendingPathComponent("my app");  // .../apps/my%20app
///   check.path();                                        // "/apps/my%20app"
/// @endcode
///
/// Values are immutable and cheap to copy; every accessor parses the text again, so a
/// Url may be shared between threads freely.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "qelvo/export.h"

namespace qelvo {

/// An absolute URL (see above): an immutable value, safe to share between threads.
class QELVO_EXPORT Url {
 public:
  /// One query item exactly as it appears in a URL (percent-encoded): the text before
  /// the first "=", and the text after it (none when the item has no "="). Keeping the
  /// encoded form lets a URL's query be repeated byte for byte, which signed URLs need.
  using QueryItem = std::pair<std::string, std::optional<std::string>>;

  /// Parses absolute URL text (any scheme), normalised as libcurl normalises it. No
  /// value when it is not an absolute URL.
  static std::optional<Url> parse(const std::string& text);

  /// Composes a URL from parts. The path and the query items are taken as given, so
  /// they must already be percent-encoded; a character that may not stand there
  /// unencoded (a space, "#", or "&" / "=" inside an item where they would change its
  /// meaning) makes the parts invalid. No value when the parts do not compose a URL.
  static std::optional<Url> compose(const std::string& scheme, const std::string& host,
                                    std::optional<std::uint16_t> port, const std::string& path,
                                    const std::optional<std::vector<QueryItem>>& queryItems);

  const std::string& text() const { return text_; }  ///< the whole URL, normalised
  std::string scheme() const;  ///< "https", "http", ...
  std::string host() const;                   ///< empty when the URL has none
  std::optional<std::uint16_t> port() const;  ///< only when written in the URL
  std::string path() const;                   ///< percent-encoded, as it appears in the URL
  std::optional<std::vector<QueryItem>> queryItems() const;  ///< none without a query

  /// This URL with one more path component, percent-encoded as one component (so a "/"
  /// inside it becomes %2F and stays within the component).
  Url appendingPathComponent(const std::string& component) const;

  friend bool operator==(const Url&, const Url&) = default;

 private:
  explicit Url(std::string text) : text_(std::move(text)) {}
  std::string text_;
};

}  // namespace qelvo
