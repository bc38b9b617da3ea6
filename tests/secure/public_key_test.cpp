#include "secure/public_key.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include "publishing/rsa_signer.h"
#include "qelvo/configuration.h"
#include "qelvo/secure_live_update_manager.h"
#include "support/temp_dir.h"
#include "support/test_host.h"
#include "support/test_keys.h"

namespace qelvo::test {
namespace {

const char* kInvalidKey = "The key provided is not a valid RSA public key.";

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

bool verifiesTestSignature(const std::string& keyText) {
  auto key = RsaPublicKey::fromText(keyText);
  return key && key->verify("message", testKey().sign("message"));
}

std::string ecPublicKeyPem() {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_PUBKEY(bio, key);
  char* data = nullptr;
  long length = BIO_get_mem_data(bio, &data);
  std::string pem(data, static_cast<std::size_t>(length));
  BIO_free(bio);
  EVP_PKEY_free(key);
  return pem;
}

TEST(PublicKey, AcceptsPemBlocksWhateverTheirFraming) {
  const auto pkcs1 = testKey().publicKeyPkcs1Pem();
  const auto spki = testKey().publicKeyPem();
  EXPECT_TRUE(verifiesTestSignature(pkcs1));
  EXPECT_TRUE(verifiesTestSignature(spki));
  EXPECT_TRUE(verifiesTestSignature(replaceAll(pkcs1, "\n", "\n\n"))) << "blank lines are dropped";
  EXPECT_TRUE(verifiesTestSignature(replaceAll(replaceAll(pkcs1, "BEGIN RSA PUBLIC KEY", "hello"),
                                               "END RSA PUBLIC KEY", "world")))
      << "header and footer are not read";
  auto withoutFinalNewline = pkcs1.substr(0, pkcs1.size() - 1);
  EXPECT_TRUE(verifiesTestSignature(withoutFinalNewline));
  EXPECT_FALSE(verifiesTestSignature(otherTestKey().publicKeyPem())) << "another key";
}

TEST(PublicKey, RefusesAnythingElse) {
  const auto pkcs1 = testKey().publicKeyPkcs1Pem();
  auto lines = replaceAll(pkcs1, "\n", "");
  auto body = lines.substr(lines.find("-----", 5) + 5);
  body = body.substr(0, body.find("-----"));
  EXPECT_FALSE(RsaPublicKey::fromText(body)) << "a single line leaves nothing";
  EXPECT_FALSE(RsaPublicKey::fromText(replaceAll(pkcs1, "\n", "\r\n"))) << "carriage returns";
  auto badCharacter = pkcs1;
  badCharacter[pkcs1.find('\n') + 5] = '*';
  EXPECT_FALSE(RsaPublicKey::fromText(badCharacter));
  EXPECT_FALSE(RsaPublicKey::fromText("-----BEGIN-----\nQUJD\n-----END-----\n")) << "not DER";
  EXPECT_FALSE(RsaPublicKey::fromText("-----BEGIN-----\nQUJ\n-----END-----\n")) << "no padding";
  EXPECT_FALSE(RsaPublicKey::fromText(ecPublicKeyPem())) << "not RSA";
  EXPECT_FALSE(RsaPublicKey::fromText(""));
  EXPECT_FALSE(RsaPublicKey::fromText(publishing::RsaSigner::generate(1024).publicKeyPem()))
      << "shorter than 2048 bits";
  EXPECT_TRUE(RsaPublicKey::fromText(publishing::RsaSigner::generate(2048).publicKeyPem()));
}

TEST(SecureManagerConstruction, BadKeysAndMissingFilesShareOneMessage) {
  TestHost host;
  TempDir dir;
  for (auto make : std::initializer_list<std::function<void()>>{
           [] { SecureLiveUpdateManager("s", std::string("not a key"), 3); },
           [] { SecureLiveUpdateManager("s", std::string(ecPublicKeyPem()), 3); },
           [&] { SecureLiveUpdateManager("s", dir.path() / "missing.pem", 3); },
       }) {
    try {
      make();
      ADD_FAILURE() << "constructed with a bad key";
    } catch (const ConfigurationError& e) {
      EXPECT_STREQ(e.what(), kInvalidKey);
    }
  }

  writeFile(dir / "key.pem", testKey().publicKeyPem());
  auto fromFile = std::make_shared<SecureLiveUpdateManager>("s", dir.path() / "key.pem", 5);
  EXPECT_EQ(fromFile->maxVersions(), 5);
  EXPECT_TRUE(fromFile->loggingEnabled());
  auto fromText = std::make_shared<SecureLiveUpdateManager>("t", testKey().publicKeyPkcs1Pem(), 3);
  EXPECT_EQ(fromText->maxVersions(), 3);
}

}  // namespace
}  // namespace qelvo::test
