#include <gtest/gtest.h>

#include "base/sync_errors.h"
#include "qelvo/error.h"

namespace qelvo::test {
namespace {

using FailStep = SyncError::FailStep;
using Reason = SyncError::Reason;
using Violation = IntegrityViolation;

TEST(SyncError, DescribesEveryReason) {
  EXPECT_EQ(makeSyncError("a", FailStep::update, Reason::metadataError("")).errorDescription(),
            "Failure occured during update step.\nMetadata failure - ");
  EXPECT_EQ(makeSyncError("a", FailStep::check, Reason::metadataError("why")).errorDescription(),
            "Failure occured during check step.\nMetadata failure - why");
  EXPECT_EQ(makeSyncError("a", FailStep::unpack, Reason::fileManagerError(FileOperationError::invalidZipPath()))
                .errorDescription(),
            "Failure occured during unpack step.\nFile Manager Error - The operation couldn\u2019t be "
            "completed. (QelvoLiveUpdates.FileOperationError error 1.)");
  auto io = FileOperationError::ioError(PlatformError("posix", 2, "No such file"));
  EXPECT_EQ(makeSyncError("a", FailStep::download, Reason::fileManagerError(io)).errorDescription(),
            "Failure occured during download step.\nFile Manager Error - The operation couldn\u2019t be "
            "completed. (QelvoLiveUpdates.FileOperationError error 0.)")
      << "the platform's own text is not repeated";
  auto qelvoError = NetworkClientError::qelvo({{std::nullopt, "m", "t", std::nullopt, "e"}});
  EXPECT_EQ(makeSyncError("a", FailStep::check, Reason::networkError(qelvoError)).errorDescription(),
            "Failure occured during check step.\nNetwork Error - The operation couldn\u2019t be "
            "completed. (QelvoLiveUpdates.NetworkClientError error 3.)");
}

TEST(SyncError, DescribesSecureFailures) {
  auto secure = [](SecureUpdateFailureReason::Value value, FailStep step = FailStep::unpack) {
    return makeSyncError("a", step, Reason::secureUpdateError({std::move(value)})).errorDescription();
  };
  EXPECT_EQ(secure(SecureUpdateFailureReason::MissingManifest{}),
            "Failure occured during unpack step.\nSecure Update Failure - The live update bundle did "
            "not contain a live-update-manifest.json file.");
  EXPECT_EQ(secure(SecureUpdateFailureReason::InvalidManifest{}),
            "Failure occured during unpack step.\nSecure Update Failure - The live update bundle did "
            "not contain a valid live-update-manifest.json file.");
  EXPECT_EQ(secure(SecureUpdateFailureReason::SignatureValidationError{}),
            "Failure occured during unpack step.\nSecure Update Failure - The signature of the "
            "live-update-manifest payload was not signed with the private key associated with the "
            "provided public key.");
  const std::string header =
      "Secure Update Failure - The integrity checks specified for the files included in "
      "live-update-manifest.json failed for the following files in the bundle:\n";
  EXPECT_EQ(secure(SecureUpdateFailureReason::IntegrityValidationError{}, FailStep::download),
            "Failure occured during download step.\n" + header);
  EXPECT_EQ(secure(SecureUpdateFailureReason::IntegrityValidationError{{
                {"js/app.js", Violation::FileNotFound{}},
                {"extra.png", Violation::FileNotInManifest{}},
                {"index.html", Violation::InvalidSha{"sha256-a", "sha256-b"}},
            }}),
            "Failure occured during unpack step.\n" + header +
                "js/app.js: File not found\n"
                "extra.png: File not included in manifest\n"
                "index.html: Invalid hash - Expected sha256-a but got sha256-b\n");
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
