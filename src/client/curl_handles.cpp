#include "client/curl_handles.h"

#include <mutex>

namespace qelvo::curl {

void ensureGlobalInit() {
  static std::once_flag once;
  // Never cleaned up: the transfer engine of the standard client lives until exit.
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string takeString(char* text) {
  if (!text) return {};
  std::string result(text);
  curl_free(text);
  return result;
}

bool appendHeader(Slist& list, const std::string& line) {
  curl_slist* extended = curl_slist_append(list.get(), line.c_str());
  if (!extended) return false;
  (void)list.release();  // `extended` now owns the old nodes
  list.reset(extended);
  return true;
}

std::optional<std::string> responseHeader(CURL* easy, const char* name) {
  curl_header* header = nullptr;
  if (curl_easy_header(easy, name, 0, CURLH_HEADER, -1, &header) != CURLHE_OK || !header ||
      !header->value) {
    return std::nullopt;
  }
  return std::string(header->value);
}

}  // namespace qelvo::curl
