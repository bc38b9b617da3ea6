// A certificate authority and a server certificate for 127.0.0.1 / localhost, made
// fresh with OpenSSL for HTTPS tests (P-256 keys, valid from an hour ago for a day).
#pragma once

#include <filesystem>

namespace qelvo::test {

struct TestCertificates {
  std::filesystem::path caCertificate;      // PEM: the authority's certificate
  std::filesystem::path serverCertificate;  // PEM: the server's, signed by the authority
  std::filesystem::path serverKey;          // PEM: the server's private key
};

// Writes the three files into `directory`. Throws std::runtime_error on failure.
TestCertificates makeTestCertificates(const std::filesystem::path& directory);

}  // namespace qelvo::test
