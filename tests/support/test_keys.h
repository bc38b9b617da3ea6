// RSA key pairs made once per test process (generation is slow), for signing tests.
#pragma once

#include "publishing/rsa_signer.h"

namespace qelvo::test {

// Two distinct 2048-bit key pairs.
const publishing::RsaSigner& testKey();
const publishing::RsaSigner& otherTestKey();

}  // namespace qelvo::test
