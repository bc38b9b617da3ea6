// ZIP archives made at test time with libzip, including the hostile kinds: names with
// ".." or a leading "/", symbolic-link entries, odd Unix modes, encrypted entries.
//
//   ZipBuilder()
//       .file("index.html", "<html>")
//       .file("assets/app.js", "js", ZipBuilder::Method::stored)
//       .symlink("link", "../outside")
//       .file("tool", "#!/bin/sh").withMode(S_IFREG | 04755)
//       .write(dir / "bundle.zip");
#pragma once

#include <zip.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace qelvo::test {

class ZipBuilder {
 public:
  enum class Method { stored, deflate };

  // Names are stored verbatim: nothing is normalised or checked. Entries carry Unix
  // attributes (regular file 0644, directory 0755, link 0777) unless changed below.
  ZipBuilder& file(std::string name, std::string content, Method method = Method::deflate);
  // A directory entry; "/" is appended when missing.
  ZipBuilder& directory(std::string name);
  // An entry whose Unix attributes mark it a symbolic link to `target`.
  ZipBuilder& symlink(std::string name, std::string target);
  // A deflated entry of `size` zero bytes, made as it is written (never whole in memory):
  // the shape of a deflate bomb.
  ZipBuilder& zeros(std::string name, std::uint64_t size);

  // Modifiers of the entry added last.
  // A full st_mode (type and permission bits) for its Unix attributes.
  ZipBuilder& withMode(std::uint32_t unixMode);
  // No Unix attributes: libzip's defaults, as archives made elsewhere carry.
  ZipBuilder& withoutAttributes();
  // Traditional PKWARE encryption.
  ZipBuilder& encrypted(std::string password);

  // Writes the archive, replacing `archive`; throws std::runtime_error on failure.
  void write(const std::filesystem::path& archive) const;


 private:
  struct Entry {
    std::string name;
    std::string content;
    Method method;
    std::optional<std::uint32_t> unixMode;
    std::optional<std::string> password;
    std::optional<std::uint64_t> zeros;
  };
  ZipBuilder& add(std::string name, std::string content, Method method, std::uint32_t unixMode);
  static void addEntry(zip_t* archive, const Entry& entry);

  std::vector<Entry> entries_;
};

// The bytes of the archive `builder` writes.
std::string zipOf(const ZipBuilder& builder);

// Replaces every occurrence of `from` in the file with `to` (same length), to forge
// archives libzip will not write (duplicate names, unknown methods, corrupt data).
// Returns how many occurrences were replaced.
int patchBytes(const std::filesystem::path& file, const std::string& from, const std::string& to);

}  // namespace qelvo::test
