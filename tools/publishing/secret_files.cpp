#include "publishing/secret_files.h"

#include <array>
#include <fstream>
#include <string_view>

namespace qelvo::publishing {
namespace {

constexpr std::array<std::string_view, 6> kVersionControl = {".git", ".hg", ".svn",
                                                             ".bzr", "_darcs", "CVS"};
constexpr std::array<std::string_view, 4> kKeyNames = {"id_rsa", "id_dsa", "id_ecdsa",
                                                       "id_ed25519"};
// PEM private keys of every kind ("PRIVATE KEY", "RSA PRIVATE KEY", "ENCRYPTED PRIVATE
// KEY", "OPENSSH PRIVATE KEY", ...) end their first line this way.
constexpr std::string_view kPrivateKeyMarker = "PRIVATE KEY-----";
constexpr std::size_t kSniffBytes = 64 * 1024;

bool holdsPrivateKey(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::string head(kSniffBytes, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(in.gcount()));
  return head.find(kPrivateKeyMarker) != std::string::npos;
}

}  // namespace

std::optional<std::string> secretReason(const std::filesystem::path& path,
                                        const std::filesystem::path& relative, bool isDirectory) {
  const std::string name = relative.filename().string();
  if (isDirectory) {
    for (auto folder : kVersionControl) {
      if (name == folder) return "it is a version-control folder";
    }
    return std::nullopt;
  }
  if (name == ".env" || name.starts_with(".env.")) return "it is an environment file";
  for (auto key : kKeyNames) {
    if (name == key) return "it is named like a private key";
  }
  if (holdsPrivateKey(path)) return "it holds a private key";
  return std::nullopt;
}

}  // namespace qelvo::publishing
