// ZIP archives written byte by byte, for the shapes no ZIP library writes: local and
// central names that differ, entries whose data overlap, wrong checksums. Entries are
// stored (not compressed).
//
//   RawZip zip;
//   zip.entry("index.html", "<html>");
//   zip.entry("app.js", "js").localName("../app.js");   // the central name is checked...
//   writeFile(dir / "bundle.zip", zip.bytes());
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qelvo::test {

class RawZip {
 public:
  RawZip& entry(std::string name, std::string content);
  // Modifiers of the entry added last.
  RawZip& localName(std::string name);
  RawZip& crc(std::uint32_t value);

  // The archive: local headers and data in order, then the central directory.
  std::string bytes() const;

  // An archive of `count` stored entries whose data overlap: each entry's data holds the
  // local headers and data of all the entries after it, and the last one holds
  // `kernel`. It declares about count * count / 2 * header size + count * kernel size
  // bytes while it is little larger than `kernel`.
  static std::string overlapping(std::size_t count, const std::string& kernel);

 private:
  struct Entry {
    std::string name;
    std::string content;
    std::optional<std::string> localName;
    std::optional<std::uint32_t> crc;
  };
  std::vector<Entry> entries_;
};

std::uint32_t crc32Of(const std::string& bytes);

}  // namespace qelvo::test
