// The permissions of every file and directory of a snapshot, however it arrived
// (downloaded, extracted, copied or written), before the process's umask: a web server
// or renderer running as another user can read them all alike.
#pragma once

#include <sys/types.h>

namespace qelvo {

inline constexpr mode_t kFileMode = 0644;
inline constexpr mode_t kDirectoryMode = 0755;

}  // namespace qelvo
