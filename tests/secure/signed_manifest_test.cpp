#include "secure/signed_manifest.h"

#include <gtest/gtest.h>

#include "base/base64.h"
#include "publishing/signed_manifest_writer.h"
#include "secure/public_key.h"
#include "support/test_keys.h"

namespace qelvo::test {
namespace {

using publishing::SignatureEntry;

const std::string kItems =
    R"([{"href":"index.html","size":5,"integrity":"sha256-x"},{"href":"a.js","size":1,"integrity":"sha256-y"}])";

std::shared_ptr<const RsaPublicKey> publicKey() {
  return RsaPublicKey::fromText(testKey().publicKeyPem());
}

bool verifies(const std::string& payload, const std::vector<SignatureEntry>& signatures) {
  auto document = SecureManifest::decode(publishing::encodeSignedManifest(payload, signatures));
  EXPECT_TRUE(document) << (document ? "" : document.error().description);
  return document && verifyAnySignature(*document, *publicKey());
}

TEST(SignedManifest, AnyOneSignatureInOrderVerifies) {
  const auto payload = base64Encode(kItems);
  auto good = publishing::signPayload(testKey(), payload);
  auto foreign = publishing::signPayload(otherTestKey(), payload);
  SignatureEntry garbage{"e30", "!!not base64!!"};
  EXPECT_TRUE(verifies(payload, {foreign, garbage, good}));
  EXPECT_TRUE(verifies(payload, {good, garbage}));
  EXPECT_FALSE(verifies(payload, {foreign, garbage}));
  EXPECT_FALSE(verifies(payload, {})) << "an empty list never verifies";

  // Signatures are over the text of the header: any header verifies when signed.
  EXPECT_TRUE(verifies(payload, {publishing::signPayload(testKey(), payload, "eyJhbGciOiJub25lIn0")}));
  // A non-ASCII header fails that signature only; the next one is still tried.
  auto nonAscii = publishing::signPayload(testKey(), payload, "h\xC3\xA9");
  EXPECT_FALSE(verifies(payload, {nonAscii}));
  EXPECT_TRUE(verifies(payload, {nonAscii, good}));

  // At most 16 entries; the last one may be the one that verifies.
  std::vector<SignatureEntry> many(SecureManifest::kMaxSignatures - 1, foreign);
  many.push_back(good);
  EXPECT_TRUE(verifies(payload, many));
  many.push_back(good);
  EXPECT_FALSE(SecureManifest::decode(publishing::encodeSignedManifest(payload, many)));
  auto document = SecureManifest::decode(publishing::encodeSignedManifest(payload, {good}));
  std::stop_source stopped;
  stopped.request_stop();
  EXPECT_FALSE(verifyAnySignature(*document, *publicKey(), stopped.get_token()));
}

TEST(SignedManifest, SignaturesInEitherBase64AlphabetVerify) {
  const auto payload = base64Encode(kItems);
  auto entry = publishing::signPayload(testKey(), payload);
  SignatureEntry standard{entry.protectedHeader,
                          base64Encode(testKey().sign(entry.protectedHeader + "." + payload))};
  ASSERT_NE(standard.signature.find('='), std::string::npos) << "padded";
  EXPECT_TRUE(verifies(payload, {entry}));
  EXPECT_TRUE(verifies(payload, {standard}));
}

TEST(SignedManifest, DecodingIsStrict) {
  EXPECT_FALSE(SecureManifest::decode(R"({"payload":"W10="})")) << "no signatures key";
  EXPECT_FALSE(SecureManifest::decode(R"({"payload":"W10=","signatures":[{"protected":"a"}]})"));
  EXPECT_FALSE(SecureManifest::decode(R"({"payload":"W10=","signatures":{}})"));
  EXPECT_FALSE(SecureManifest::decode("not json"));
  auto urlSafe = SecureManifest::decode(R"({"payload":"W10-_w==","signatures":[]})");
  ASSERT_FALSE(urlSafe);
  EXPECT_EQ(urlSafe.error().description, "'payload' was not a base64 encoded string");
  auto empty = SecureManifest::decode(R"({"payload":"W10=","signatures":[],"other":1})");
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->manifest.payload.empty());
  EXPECT_EQ(empty->manifest._payload, "W10=");
}

}  // namespace
}  // namespace qelvo::test
