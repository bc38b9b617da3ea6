// The library internals that the command-line tools (publisher, deploy server,
// command-line host) share with the library. It is the only internal header the tools
// include; everything else they use is the public API under include/qelvo/. Keeping
// this list short keeps the tools from growing into the library's insides.
//
// What the tools take from here, and why they must agree with the library on it:
//   - path safety: app ids, snapshot ids and hrefs are checked with the device's rules;
//   - percent-encoding: request paths are decoded the way the client encodes them;
//   - the check-device request and answer types: one wire format on both ends;
//   - the strict JSON reader: deploy-root records are read as strictly as answers;
//   - Base64 and the file digest text ("sha256-…"): manifests and signatures;
//   - durable file writes and copies, and the container's directories;
//   - printing whole lines, random UUIDs, and `QELVO_TRY` for std::expected chains.
#pragma once

#include "base/base64.h"
#include "base/output.h"
#include "base/path_safety.h"
#include "base/try.h"
#include "base/unique_fd.h"
#include "client/check_types.h"
#include "client/percent_encoding.h"
#include "platform/host.h"
#include "platform/json.h"
#include "retrieval/file_copy.h"
#include "retrieval/file_manager_util.h"
#include "retrieval/file_system.h"
#include "retrieval/file_digest.h"
