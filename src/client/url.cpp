#include "qelvo/url.h"

#include <charconv>

#include "client/curl_handles.h"
#include "client/percent_encoding.h"

namespace qelvo {
namespace {

curl::UrlHandle parsed(const std::string& text) {
  curl::UrlHandle handle(curl_url());
  if (!handle) return nullptr;
  if (curl_url_set(handle.get(), CURLUPART_URL, text.c_str(), CURLU_NON_SUPPORT_SCHEME) !=
      CURLUE_OK) {
    return nullptr;
  }
  return handle;
}

// One part of the URL; none when it is absent (or the text does not parse).
std::optional<std::string> part(const std::string& text, CURLUPart which) {
  auto handle = parsed(text);
  if (!handle) return std::nullopt;
  char* value = nullptr;
  if (curl_url_get(handle.get(), which, &value, 0) != CURLUE_OK) return std::nullopt;
  return curl::takeString(value);
}

std::optional<std::string> wholeUrl(CURLU* handle) {
  char* text = nullptr;
  if (curl_url_get(handle, CURLUPART_URL, &text, 0) != CURLUE_OK) return std::nullopt;
  return curl::takeString(text);
}

std::optional<std::string> joinQuery(const std::vector<Url::QueryItem>& items) {
  std::string query;
  bool first = true;
  for (const auto& [name, value] : items) {
    if (!isEncodedQueryPart(name, true) || (value && !isEncodedQueryPart(*value, false))) {
      return std::nullopt;
    }
    if (!first) query += '&';
    first = false;
    query += name;
    if (value) query += '=' + *value;
  }
  return query;
}

}  // namespace

std::optional<Url> Url::parse(const std::string& text) {
  auto handle = parsed(text);
  if (!handle) return std::nullopt;
  auto normalised = wholeUrl(handle.get());
  if (!normalised) return std::nullopt;
  return Url(std::move(*normalised));
}

std::optional<Url> Url::compose(const std::string& scheme, const std::string& host,
                                std::optional<std::uint16_t> port, const std::string& path,
                                const std::optional<std::vector<QueryItem>>& queryItems) {
  if (!isEncodedPath(path) || (!path.empty() && path.front() != '/')) return std::nullopt;
  const std::string fullPath = path.empty() ? "/" : path;
  std::string text = scheme + "://" + host;
  if (port) text += ":" + std::to_string(*port);
  text += fullPath;
  std::optional<std::string> query;
  if (queryItems && !queryItems->empty()) {
    query = joinQuery(*queryItems);
    if (!query) return std::nullopt;
    text += "?" + *query;
  }
  // The text is put together by hand because libcurl rewrites percent-encoding in
  // parts set one by one; reading the parts back proves it says what was asked.
  auto url = parse(text);
  if (!url || url->host() != host || url->port() != port || url->path() != fullPath ||
      part(url->text(), CURLUPART_QUERY) != query) {
    return std::nullopt;
  }
  return url;
}

std::string Url::scheme() const { return part(text_, CURLUPART_SCHEME).value_or(""); }

std::string Url::host() const { return part(text_, CURLUPART_HOST).value_or(""); }

std::optional<std::uint16_t> Url::port() const {
  auto text = part(text_, CURLUPART_PORT);
  if (!text) return std::nullopt;
  std::uint16_t port = 0;
  auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), port);
  if (error != std::errc() || end != text->data() + text->size()) return std::nullopt;
  return port;
}

std::string Url::path() const { return part(text_, CURLUPART_PATH).value_or(""); }

std::optional<std::vector<Url::QueryItem>> Url::queryItems() const {
  auto query = part(text_, CURLUPART_QUERY);
  if (!query || query->empty()) return std::nullopt;
  std::vector<QueryItem> items;
  std::size_t start = 0;
  while (true) {
    auto end = query->find('&', start);
    std::string item = query->substr(start, end - start);
    auto equals = item.find('=');
    if (equals == std::string::npos) {
      items.emplace_back(std::move(item), std::nullopt);
    } else {
      items.emplace_back(item.substr(0, equals), item.substr(equals + 1));
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return items;
}

Url Url::appendingPathComponent(const std::string& component) const {
  // The path of a normalised URL runs from the first "/" after "://" to the query or
  // fragment.
  auto authority = text_.find("://");
  if (authority == std::string::npos) return *this;
  auto pathStart = text_.find('/', authority + 3);
  if (pathStart == std::string::npos) pathStart = text_.size();
  auto pathEnd = text_.find_first_of("?#", pathStart);
  if (pathEnd == std::string::npos) pathEnd = text_.size();
  std::string text = text_.substr(0, pathEnd);
  if (pathEnd == pathStart || text.back() != '/') text += '/';
  text += percentEncodeComponent(component);
  text += text_.substr(pathEnd);
  return parse(text).value_or(*this);
}

}  // namespace qelvo
