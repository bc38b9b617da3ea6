// Owning wrappers for libcurl's C handles: each handle is released exactly once, on
// every path, by its deleter.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <optional>
#include <string>

namespace qelvo::curl {

struct EasyDeleter {
  void operator()(CURL* easy) const noexcept { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const noexcept { curl_multi_cleanup(multi); }
};
struct UrlDeleter {
  void operator()(CURLU* url) const noexcept { curl_url_cleanup(url); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};

using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;
using UrlHandle = std::unique_ptr<CURLU, UrlDeleter>;
using Slist = std::unique_ptr<curl_slist, SlistDeleter>;

// Initialises libcurl's global state once per process (thread-safe).
void ensureGlobalInit();

// Takes ownership of a string that libcurl allocated (curl_free); empty for null.
std::string takeString(char* text);

// Appends one "Name: value" line to `list`; false when libcurl is out of memory.
bool appendHeader(Slist& list, const std::string& line);

// The value of the header `name` in the last response `easy` received (the one after
// any redirects), as libcurl keeps it; none when that response has none.
std::optional<std::string> responseHeader(CURL* easy, const char* name);

}  // namespace qelvo::curl
