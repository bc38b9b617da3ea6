// The manifest decoder and everything that turns its hrefs into paths and requests.
// A decoded manifest must write back byte-identical payload text; an href that passes
// the safety check must land inside the staging root where the download puts it (a
// leading "/" and ".." parts resolved inside the bundle).
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string_view>

#include "client/download_request.h"
#include "base/path_safety.h"
#include "qelvo/manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto manifest = qelvo::Manifest::decode(text);
  if (!manifest) return 0;
  auto again = qelvo::Manifest::decode(manifest->encode());
  if (!again || again->_payload != manifest->_payload || again->payload != manifest->payload) {
    __builtin_trap();
  }
  static const auto manifestUrl = *qelvo::Url::parse("https://deploy.example/a/b/live-update-manifest.json?v=1");
  static const auto build = qelvo::makeDownloadFileRequestBuilder(manifestUrl);
  const std::filesystem::path root = "/root/staging";
  for (const auto& item : manifest->payload) {
    auto request = build(item.href);
    if (!request) continue;
    if (qelvo::isSafeRelativePath(item.href)) {
      // Where the file lands: its resolved directory and name under the staging root.
      auto target = (root / request->parentHref / request->filename).lexically_normal();
      auto relative = target.lexically_relative(root);
      if (request->filename.empty() || relative.empty() || *relative.begin() == "..") {
        __builtin_trap();
      }
    }
    (void)qelvo::makeHttpRequest(*request);
  }
  return 0;
}
