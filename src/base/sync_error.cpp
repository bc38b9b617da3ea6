#include "qelvo/sync_error.h"

#include <string>

#include "base/overloaded.h"

namespace qelvo {
namespace {

std::string violationText(const IntegrityViolation::Reason& reason) {
  return std::visit(
      Overloaded{
          [](const IntegrityViolation::InvalidSha& sha) {
            return "Invalid hash - Expected " + sha.expectedSha + " but got " + sha.actualSha;
          },
          [](const IntegrityViolation::FileNotFound&) { return std::string("File not found"); },
          [](const IntegrityViolation::FileNotInManifest&) {
            return std::string("File not included in manifest");
          },
      },
      reason);
}

std::string secureFailureText(const SecureUpdateFailureReason& failure) {
  return std::visit(
      Overloaded{
          [](const SecureUpdateFailureReason::MissingManifest&) {
            return std::string(
                " The live update bundle did not contain a live-update-manifest.json file.");
          },
          [](const SecureUpdateFailureReason::InvalidManifest&) {
            return std::string(
                " The live update bundle did not contain a valid live-update-manifest.json "
                "file.");
          },
          [](const SecureUpdateFailureReason::SignatureValidationError&) {
            return std::string(
                " The signature of the live-update-manifest payload was not signed with the "
                "private key associated with the provided public key.");
          },
          [](const SecureUpdateFailureReason::IntegrityValidationError& error) {
            std::string text =
                " The integrity checks specified for the files included in "
                "live-update-manifest.json failed for the following files in the bundle:\n";
            for (const auto& violation : error.violations) {
              text += violation.href + ": " + violationText(violation.reason) + "\n";
            }
            return text;
          },
      },
      failure.value);
}

std::string detailText(const SyncError::Reason& reason) {
  using R = SyncError::Reason;
  return std::visit(
      Overloaded{
          [](const R::FileManagerError& e) {
            return "File Manager Error - " + e.reason.localizedDescription();
          },
          [](const R::NetworkError& e) {
            return "Network Error - " + e.reason.localizedDescription();
          },
          [](const R::MetadataError& e) { return "Metadata failure - " + e.reason; },
          [](const R::SecureUpdateError& e) {
            return "Secure Update Failure -" + secureFailureText(e.reason);
          },
      },
      reason.value);
}

}  // namespace

std::string_view SyncError::rawValue(FailStep step) {
  switch (step) {
    case FailStep::check:
      return "check";
    case FailStep::download:
      return "download";
    case FailStep::unpack:
      return "unpack";
    case FailStep::update:
      return "update";
  }
  return "check";
}

std::optional<SyncError::FailStep> SyncError::failStepFromRawValue(std::string_view raw) {
  for (auto step : {FailStep::check, FailStep::download, FailStep::unpack, FailStep::update}) {
    if (rawValue(step) == raw) return step;
  }
  return std::nullopt;
}

std::string SyncError::errorDescription() const {
  return "Failure occured during " + std::string(rawValue(failStep)) + " step.\n" +
         detailText(reason);
}

const char* SyncError::what() const noexcept {
  whatText_ = errorDescription();
  return whatText_.c_str();
}

}  // namespace qelvo
