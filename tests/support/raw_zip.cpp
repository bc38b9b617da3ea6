#include "support/raw_zip.h"

#include <array>

namespace qelvo::test {
namespace {

void put16(std::string& out, std::uint32_t value) {
  out += static_cast<char>(value & 0xff);
  out += static_cast<char>((value >> 8) & 0xff);
}

void put32(std::string& out, std::uint32_t value) {
  put16(out, value & 0xffff);
  put16(out, value >> 16);
}

std::string localHeader(const std::string& name, const std::string& content, std::uint32_t crc) {
  std::string out;
  put32(out, 0x04034b50);
  put16(out, 20);  // version needed
  put16(out, 0);   // flags
  put16(out, 0);   // stored
  put16(out, 0);   // time
  put16(out, 0x21);  // date 1980-01-01
  put32(out, crc);
  put32(out, static_cast<std::uint32_t>(content.size()));
  put32(out, static_cast<std::uint32_t>(content.size()));
  put16(out, static_cast<std::uint32_t>(name.size()));
  put16(out, 0);  // extra
  return out + name;
}

std::string centralHeader(const std::string& name, const std::string& content, std::uint32_t crc,
                          std::uint32_t offset) {
  std::string out;
  put32(out, 0x02014b50);
  put16(out, (3 << 8) | 20);  // made by Unix
  put16(out, 20);
  put16(out, 0);
  put16(out, 0);
  put16(out, 0);
  put16(out, 0x21);
  put32(out, crc);
  put32(out, static_cast<std::uint32_t>(content.size()));
  put32(out, static_cast<std::uint32_t>(content.size()));
  put16(out, static_cast<std::uint32_t>(name.size()));
  put16(out, 0);  // extra
  put16(out, 0);  // comment
  put16(out, 0);  // disk
  put16(out, 0);  // internal attributes
  put32(out, 0100644u << 16);
  put32(out, offset);
  return out + name;
}

std::string endOfDirectory(std::size_t entries, std::size_t directorySize, std::size_t offset) {
  std::string out;
  put32(out, 0x06054b50);
  put16(out, 0);
  put16(out, 0);
  put16(out, static_cast<std::uint32_t>(entries));
  put16(out, static_cast<std::uint32_t>(entries));
  put32(out, static_cast<std::uint32_t>(directorySize));
  put32(out, static_cast<std::uint32_t>(offset));
  put16(out, 0);
  return out;
}

}  // namespace

std::uint32_t crc32Of(const std::string& bytes) {
  static const auto table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  std::uint32_t crc = 0xffffffffu;
  for (unsigned char byte : bytes) crc = table[(crc ^ byte) & 0xff] ^ (crc >> 8);
  return crc ^ 0xffffffffu;
}

RawZip& RawZip::entry(std::string name, std::string content) {
  entries_.push_back({std::move(name), std::move(content), std::nullopt, std::nullopt});
  return *this;
}

RawZip& RawZip::localName(std::string name) {
  entries_.back().localName = std::move(name);
  return *this;
}

RawZip& RawZip::crc(std::uint32_t value) {
  entries_.back().crc = value;
  return *this;
}

std::string RawZip::bytes() const {
  std::string out;
  std::string directory;
  for (const auto& entry : entries_) {
    const auto crc = entry.crc.value_or(crc32Of(entry.content));
    const auto offset = static_cast<std::uint32_t>(out.size());
    out += localHeader(entry.localName.value_or(entry.name), entry.content, crc);
    out += entry.content;
    directory += centralHeader(entry.name, entry.content, crc, offset);
  }
  const auto directoryOffset = out.size();
  return out + directory + endOfDirectory(entries_.size(), directory.size(), directoryOffset);
}

std::string RawZip::overlapping(std::size_t count, const std::string& kernel) {
  // Built from the last entry backwards: entry i's data is entry i+1's header and data.
  std::vector<std::string> names;
  std::vector<std::string> contents(count);
  for (std::size_t i = 0; i < count; ++i) names.push_back("bomb/" + std::to_string(i) + ".bin");
  contents[count - 1] = kernel;
  for (std::size_t i = count - 1; i-- > 0;) {
    contents[i] = localHeader(names[i + 1], contents[i + 1], crc32Of(contents[i + 1])) + contents[i + 1];
  }
  std::string out = localHeader(names[0], contents[0], crc32Of(contents[0])) + contents[0];
  std::string directory;
  std::size_t offset = 0;
  for (std::size_t i = 0; i < count; ++i) {
    directory += centralHeader(names[i], contents[i], crc32Of(contents[i]),
                               static_cast<std::uint32_t>(offset));
    offset += 30 + names[i].size();  // entry i+1's header starts where entry i's data does
  }
  return out + directory + endOfDirectory(count, directory.size(), out.size());
}

}  // namespace qelvo::test
