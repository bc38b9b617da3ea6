// The requests for the files of a manifest: each file is fetched from the manifest's
// directory on the same server, with the manifest URL's query repeated.
//
//   auto build = makeDownloadFileRequestBuilder(manifestUrl);  // https://h/a/b/m.json?v=1
//   auto parts = build("js/app.js");             // basePath "/a/b", filename "app.js"
//   auto request = makeHttpRequest(*parts);      // GET https://h/a/b/js/app.js?v=1
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "client/http_request.h"
#include "qelvo/manifest.h"
#include "qelvo/url.h"

namespace qelvo {

using DownloadFileRequestBuilder =
    std::function<std::optional<DownloadFileRequest>(const std::string& href)>;

// The builder for the final URL of a manifest. It returns no request for any href when
// the URL has no scheme or no host.
DownloadFileRequestBuilder makeDownloadFileRequestBuilder(const Url& manifestUrl);

// GET of the file's URL: the manifest's scheme, host, port and query, and the path
// basePath + "/" + href (the href as it is, empty segments kept; resolved when it begins
// with "/" or has a "." or ".." part), percent-encoded. No value when these parts do
// not compose a URL.
std::optional<HttpRequest> makeHttpRequest(const DownloadFileRequest& request);

}  // namespace qelvo
