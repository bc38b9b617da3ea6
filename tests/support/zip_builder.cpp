#include "support/zip_builder.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "support/temp_dir.h"

namespace qelvo::test {
namespace {

[[noreturn]] void fail(zip_t* archive, const std::string& what) {
  std::string reason = archive ? zip_strerror(archive) : "";
  if (archive) zip_discard(archive);
  throw std::runtime_error("ZipBuilder: " + what + ": " + reason);
}

}  // namespace

ZipBuilder& ZipBuilder::add(std::string name, std::string content, Method method,
                            std::uint32_t unixMode) {
  entries_.push_back({std::move(name), std::move(content), method, unixMode, std::nullopt, std::nullopt});
  return *this;
}

ZipBuilder& ZipBuilder::file(std::string name, std::string content, Method method) {
  return add(std::move(name), std::move(content), method, S_IFREG | 0644);
}

ZipBuilder& ZipBuilder::directory(std::string name) {
  if (name.empty() || name.back() != '/') name += '/';
  return add(std::move(name), "", Method::stored, S_IFDIR | 0755);
}

ZipBuilder& ZipBuilder::symlink(std::string name, std::string target) {
  return add(std::move(name), std::move(target), Method::stored, S_IFLNK | 0777);
}

ZipBuilder& ZipBuilder::withMode(std::uint32_t unixMode) {
  entries_.back().unixMode = unixMode;
  return *this;
}

ZipBuilder& ZipBuilder::withoutAttributes() {
  entries_.back().unixMode.reset();
  return *this;
}

ZipBuilder& ZipBuilder::encrypted(std::string password) {
  entries_.back().password = std::move(password);
  return *this;
}

ZipBuilder& ZipBuilder::zeros(std::string name, std::uint64_t size) {
  add(std::move(name), "", Method::deflate, S_IFREG | 0644);
  entries_.back().zeros = size;
  return *this;
}

namespace {

// A libzip source of `left` zero bytes, read in pieces.
zip_int64_t zeroSource(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command) {
  auto* left = static_cast<std::uint64_t*>(state);
  switch (command) {
    case ZIP_SOURCE_OPEN:
    case ZIP_SOURCE_CLOSE:
      return 0;
    case ZIP_SOURCE_READ: {
      auto count = std::min<std::uint64_t>(length, *left);
      std::memset(data, 0, count);
      *left -= count;
      return static_cast<zip_int64_t>(count);
    }
    case ZIP_SOURCE_STAT: {
      auto* stat = static_cast<zip_stat_t*>(data);
      zip_stat_init(stat);
      return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_FREE:
      delete left;
      return 0;
    case ZIP_SOURCE_SUPPORTS:
      return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                            ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
    default:
      return -1;
  }
}

}  // namespace

void ZipBuilder::addEntry(zip_t* archive, const Entry& entry) {
  // libzip reads the buffer when the archive is closed, which happens while `entry` lives.
  zip_source_t* source =
      entry.zeros ? zip_source_function(archive, zeroSource, new std::uint64_t(*entry.zeros))
                  : zip_source_buffer(archive, entry.content.data(), entry.content.size(), 0);
  if (!source) fail(archive, "source for " + entry.name);
  zip_int64_t index = zip_file_add(archive, entry.name.c_str(), source, ZIP_FL_ENC_UTF_8);
  if (index < 0) {
    zip_source_free(source);
    fail(archive, "add " + entry.name);
  }
  auto at = static_cast<zip_uint64_t>(index);
  auto method = entry.method == Method::stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE;
  if (zip_set_file_compression(archive, at, method, 0) != 0)
    fail(archive, "method of " + entry.name);
  if (entry.unixMode && zip_file_set_external_attributes(archive, at, 0, ZIP_OPSYS_UNIX,
                                                         *entry.unixMode << 16) != 0) {
    fail(archive, "attributes of " + entry.name);
  }
  if (entry.password &&
      zip_file_set_encryption(archive, at, ZIP_EM_TRAD_PKWARE, entry.password->c_str()) != 0) {
    fail(archive, "encryption of " + entry.name);
  }
}

void ZipBuilder::write(const std::filesystem::path& archive) const {
  int error = 0;
  zip_t* zip = zip_open(archive.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (!zip) throw std::runtime_error("ZipBuilder: cannot create " + archive.string());
  for (const auto& entry : entries_) addEntry(zip, entry);
  if (zip_close(zip) != 0) fail(zip, "write " + archive.string());
}

std::string zipOf(const ZipBuilder& builder) {
  TempDir dir;
  builder.write(dir / "bundle.zip");
  return readFile(dir / "bundle.zip");
}

int patchBytes(const std::filesystem::path& file, const std::string& from, const std::string& to) {
  if (from.size() != to.size()) throw std::invalid_argument("patchBytes: sizes differ");
  auto bytes = readFile(file);
  int count = 0;
  for (auto at = bytes.find(from); at != std::string::npos; at = bytes.find(from, at + to.size())) {
    bytes.replace(at, from.size(), to);
    ++count;
  }
  writeFile(file, bytes);
  return count;
}

}  // namespace qelvo::test
