// The files a deploy server hands out: a snapshot's archive and the files of its
// bundle, found from the parts of a request path below "apps":
//
//   {"kiosk", "snapshots", "v2", "bundle.zip"}            ->
//   <root>/apps/kiosk/snapshots/v2/bundle.zip
//   {"kiosk", "snapshots", "v2", "files", "js", "app.js"} ->
//   <root>/apps/kiosk/snapshots/v2/files/js/app.js
//
// Nothing else in the root is served (no records, no work in progress), and no part
// may climb out: each must be a plain name, and the file found must lie inside the
// root once symbolic links are resolved.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "publishing/deploy_root.h"

namespace qelvo::deploy {

// The regular file the parts name, or none.
std::optional<std::filesystem::path> findBundleFile(const publishing::DeployRoot& root,
                                                    const std::vector<std::string>& parts);

// A Content-Type for the file's extension.
std::string contentTypeOf(const std::filesystem::path& file);

}  // namespace qelvo::deploy
