// Where an archive entry may be written: its name checked and lexically normalised
// into path components below the destination. This check alone decides whether an
// entry stays inside the destination, so it is kept pure and separate (and fuzzable).
#pragma once

#include <expected>
#include <string>
#include <string_view>
#include <vector>

namespace qelvo {

struct EntryPath {
  // Components below the destination, none of them empty, "." or "..". Empty only for
  // a directory entry that names the destination itself.
  std::vector<std::string> components;
  // The name ends in "/".
  bool isDirectory = false;

  // The components joined with "/".
  std::string joined() const;
};

// The entry's place below the destination, or why the name is refused: absolute,
// leaving the destination through "..", containing a backslash (a separator to some
// tools, which would see another path than we check) or a NUL, or empty.
std::expected<EntryPath, std::string> entryPathOf(std::string_view name);

}  // namespace qelvo
