#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "base/sync_errors.h"
#include "qelvo/error.h"

namespace qelvo::test {
namespace {

using FailStep = SyncError::FailStep;
using Reason = SyncError::Reason;
using Violation = IntegrityViolation;

TEST(SyncError, DescribesEveryReason) {
  auto secure = [](SecureUpdateFailureReason::Value value) {
    return Reason::secureUpdateError({std::move(value)});
  };
  const std::string couldNot = "The operation couldn\u2019t be completed. (QelvoLiveUpdates.";
  const std::string integrity =
      "Secure Update Failure - The integrity checks specified for the files included in "
      "live-update-manifest.json failed for the following files in the bundle:\n";
  const std::vector<std::tuple<FailStep, Reason, std::string>> cases = {
      {FailStep::update, Reason::metadataError(""), "update step.\nMetadata failure - "},
      {FailStep::check, Reason::metadataError("why"), "check step.\nMetadata failure - why"},
      {FailStep::unpack, Reason::fileManagerError(FileOperationError::invalidZipPath()),
       "unpack step.\nFile Manager Error - " + couldNot + "FileOperationError error 1.)"},
      // The platform's own text is not repeated.
      {FailStep::download,
       Reason::fileManagerError(
           FileOperationError::ioError(PlatformError("posix", 2, "No such file"))),
       "download step.\nFile Manager Error - " + couldNot + "FileOperationError error 0.)"},
      {FailStep::check,
       Reason::networkError(
           NetworkClientError::qelvo({{std::nullopt, "m", "t", std::nullopt, "e"}})),
       "check step.\nNetwork Error - " + couldNot + "NetworkClientError error 3.)"},
      {FailStep::unpack, secure(SecureUpdateFailureReason::MissingManifest{}),
       "unpack step.\nSecure Update Failure - The live update bundle did not contain a "
       "live-update-manifest.json file."},
      {FailStep::unpack, secure(SecureUpdateFailureReason::InvalidManifest{}),
       "unpack step.\nSecure Update Failure - The live update bundle did not contain a valid "
       "live-update-manifest.json file."},
      {FailStep::unpack, secure(SecureUpdateFailureReason::SignatureValidationError{}),
       "unpack step.\nSecure Update Failure - The signature of the live-update-manifest payload "
       "was not signed with the private key associated with the provided public key."},
      {FailStep::download, secure(SecureUpdateFailureReason::IntegrityValidationError{}),
       "download step.\n" + integrity},
      {FailStep::unpack,
       secure(SecureUpdateFailureReason::IntegrityValidationError{{
           {"js/app.js", Violation::FileNotFound{}},
           {"extra.png", Violation::FileNotInManifest{}},
           {"index.html", Violation::InvalidSha{"sha256-a", "sha256-b"}},
       }}),
       "unpack step.\n" + integrity +
           "js/app.js: File not found\n"
           "extra.png: File not included in manifest\n"
           "index.html: Invalid hash - Expected sha256-a but got sha256-b\n"},
  };
  for (const auto& [step, reason, text] : cases) {
    EXPECT_EQ(makeSyncError("a", step, reason).errorDescription(),
              "Failure occured during " + text);
  }
}

TEST(SyncError, FailStepRawValues) {
  EXPECT_EQ(SyncError::failStepFromRawValue("unpack"), FailStep::unpack);
  for (auto raw : {"Unpack", "unpac", "unpacks", "", "CHECK"}) {
    EXPECT_FALSE(SyncError::failStepFromRawValue(raw)) << raw;
  }
  for (auto step : {FailStep::check, FailStep::download, FailStep::unpack, FailStep::update}) {
    EXPECT_EQ(SyncError::failStepFromRawValue(SyncError::rawValue(step)), step);
  }
}

TEST(Error, RaisesTheConcreteError) {
  Error error = makeSyncError("a", FailStep::check, Reason::metadataError("m"));
  EXPECT_THROW(error.raise(), SyncError);
  EXPECT_THROW(Error(CancellationError{}).raise(), CancellationError);
  EXPECT_THROW(std::rethrow_exception(Error(TransferError(7, "refused")).toExceptionPtr()), TransferError);
  EXPECT_EQ(Error(TransferError(7, "refused")).localizedDescription(), "refused");
  EXPECT_EQ(Error(NetworkClientError::invalidResponse({500, *Url::parse("http://h/")})).localizedDescription(),
            "The operation couldn\u2019t be completed. (QelvoLiveUpdates.NetworkClientError error 0.)");
}

}  // namespace
}  // namespace qelvo::test
