#include "client/download_request.h"

#include <string_view>
#include <vector>

#include "client/percent_encoding.h"
#include "base/path_safety.h"
#include "base/text.h"

namespace qelvo {
namespace {

// The non-empty parts of `path` between slashes.
std::vector<std::string> pathParts(std::string_view path) { return splitNonEmpty(path, '/'); }

std::string join(const std::vector<std::string>& parts, std::size_t count) {
  std::string joined;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) joined += '/';
    joined += parts[i];
  }
  return joined;
}

// The href as it is requested: as written, empty parts kept, unless it needs resolving
// (a leading "/", a "." or ".." part), which no server would take as it is (dot parts
// can only be sent percent-encoded); then its resolved form.
std::string requestedHref(const std::string& href) {
  bool needsResolving = href.starts_with('/');
  for (const auto& part : pathParts(href)) needsResolving = needsResolving || part == "." || part == "..";
  if (!needsResolving) return href;
  return resolvedHref(href).value_or(href);
}

}  // namespace

DownloadFileRequestBuilder makeDownloadFileRequestBuilder(const Url& manifestUrl) {
  DownloadFileRequest base;
  base.scheme = manifestUrl.scheme();
  base.host = manifestUrl.host();
  if (base.scheme.empty() || base.host.empty()) {
    return [](const std::string&) { return std::nullopt; };
  }
  base.port = manifestUrl.port();
  base.queryItems = manifestUrl.queryItems();
  auto directories = pathParts(percentDecode(manifestUrl.path()));
  base.basePath = "/" + join(directories, directories.empty() ? 0 : directories.size() - 1);

  return [base = std::move(base)](const std::string& href) -> std::optional<DownloadFileRequest> {
    DownloadFileRequest request = base;
    request.href = href;
    // "." and ".." parts resolved: the file lands where the path names, inside the bundle.
    auto parts = hrefParts(href).value_or(pathParts(href));
    request.parentHref = join(parts, parts.empty() ? 0 : parts.size() - 1);
    request.filename = parts.empty() ? "" : parts.back();
    return request;
  };
}

std::optional<HttpRequest> makeHttpRequest(const DownloadFileRequest& request) {
  const std::string href = requestedHref(request.href);
  std::string path = request.basePath == "/" ? "/" + href : request.basePath + "/" + href;
  auto url = Url::compose(request.scheme, request.host, request.port, percentEncodePath(path),
                          request.queryItems);
  if (!url) return std::nullopt;
  return HttpRequest{.url = std::move(*url), .maxBodyBytes = request.size};
}

}  // namespace qelvo
