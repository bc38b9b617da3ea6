#include "support/test_keys.h"

namespace qelvo::test {

const publishing::RsaSigner& testKey() {
  static const auto key = publishing::RsaSigner::generate(2048);
  return key;
}

const publishing::RsaSigner& otherTestKey() {
  static const auto key = publishing::RsaSigner::generate(2048);
  return key;
}

}  // namespace qelvo::test
