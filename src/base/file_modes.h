// The permissions of every file and directory of a snapshot, however it arrived
// (downloaded, extracted, copied or written), before the process's umask: a web server
// or renderer running as another user can read them all alike.
#pragma once

#include <sys/types.h>

namespace qelvo {

inline constexpr mode_t kFileMode = 0644;
inline constexpr mode_t kDirectoryMode = 0755;
// Files of a snapshot whose unchanged files are shared with the next snapshots (hard
// links): read-only, so that one write cannot change several versions at once.
inline constexpr mode_t kSharedFileMode = 0444;

}  // namespace qelvo
