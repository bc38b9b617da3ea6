#include <cstring>
#include <string>

#include "qelvo/error.h"
#include "qelvo/errors.h"

namespace qelvo {

std::string genericErrorDescription(const std::string& typeName, std::size_t caseIndex) {
  return "The operation couldn\u2019t be completed. (QelvoLiveUpdates." + typeName + " error " +
         std::to_string(caseIndex) + ".)";
}

PlatformError PlatformError::fromErrno(int err, const std::string& what) {
  return PlatformError("posix", err, what + ": " + std::strerror(err));
}

const PlatformError* FileOperationError::platformError() const {
  auto* io = std::get_if<IoError>(&value_);
  return io ? &io->error : nullptr;
}

std::string FileOperationError::localizedDescription() const {
  return genericErrorDescription("FileOperationError", value_.index());
}

PlatformError FileOperationError::bridged() const {
  return PlatformError("QelvoLiveUpdates.FileOperationError", static_cast<int>(value_.index()),
                       localizedDescription());
}

const char* FileOperationError::what() const noexcept {
  static const std::string texts[] = {genericErrorDescription("FileOperationError", 0),
                                      genericErrorDescription("FileOperationError", 1)};
  return texts[value_.index()].c_str();
}

NetworkClientError NetworkClientError::networkError(Error error) {
  return {NetworkError{std::make_shared<const Error>(std::move(error))}};
}

bool operator==(const NetworkClientError::NetworkError& a, const NetworkClientError::NetworkError& b) {
  if (a.error == b.error) return true;
  return a.error && b.error && *a.error == *b.error;
}

std::string NetworkClientError::localizedDescription() const {
  return genericErrorDescription("NetworkClientError", value_.index());
}

const char* NetworkClientError::what() const noexcept {
  static const std::string texts[] = {genericErrorDescription("NetworkClientError", 0),
                                      genericErrorDescription("NetworkClientError", 1),
                                      genericErrorDescription("NetworkClientError", 2),
                                      genericErrorDescription("NetworkClientError", 3)};
  return texts[value_.index()].c_str();
}

std::string Error::localizedDescription() const {
  return std::visit(
      [](const auto& e) -> std::string {
        using E = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<E, SyncError>) {
          return e.errorDescription();
        } else if constexpr (std::is_same_v<E, FileOperationError> ||
                             std::is_same_v<E, NetworkClientError>) {
          return e.localizedDescription();
        } else {
          return e.what();
        }
      },
      value_);
}

void Error::raise() const {
  std::visit([](const auto& e) { throw e; }, value_);
  std::terminate();  // unreachable: every alternative throws
}

std::exception_ptr Error::toExceptionPtr() const {
  return std::visit([](const auto& e) { return std::make_exception_ptr(e); }, value_);
}

}  // namespace qelvo
