#include "core/sync_fixture.h"

#include "core/sync_errors.h"

namespace qelvo::test {

SyncError SyncTest::metadataErrorForTests() {
  return metadataError("", FailStep::check, "no error");
}

}  // namespace qelvo::test
