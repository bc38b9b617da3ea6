/// @file
/// The error values of the library's lower layers: file operations, transfers, JSON
/// decoding, cancellation, and the deploy-service client. Each family is a tagged
/// variant with payloads; inner errors are carried as values, never flattened to text.
///
/// @code
///   if (auto* io = std::get_if<qelvo::FileOperationError::IoError>(&error.value()))
///     std::cerr << io->error.description << '\n';
/// @endcode
///
/// Errors without a text of their own (`FileOperationError`, `NetworkClientError`)
/// describe themselves generically, naming their type and case number:
/// "The operation couldn’t be completed. (QelvoLiveUpdates.NetworkClientError error 1.)"
#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "qelvo/export.h"
#include "qelvo/url.h"

namespace qelvo {

class Error;

/// The generic description of an error value without a text of its own.
QELVO_EXPORT std::string genericErrorDescription(const std::string& typeName, std::size_t caseIndex);

/// An operating-system failure: a domain ("posix" for errno values, or the name of a
/// library error type bridged into this form), its code, and the system's own text.
struct QELVO_EXPORT PlatformError : std::exception {
  std::string domain;  ///< "posix", or the library error type it came from
  int code = 0;  ///< the errno value, or that type's code
  std::string description;  ///< the full text, also `what()`

  PlatformError() = default;
  /// An error with these parts, taken as given.
  PlatformError(std::string domain, int code, std::string description)
      : domain(std::move(domain)), code(code), description(std::move(description)) {}
  /// From errno: "<what>: <strerror(err)>".
  static PlatformError fromErrno(int err, const std::string& what);

  const char* what() const noexcept override { return description.c_str(); }  ///< `description`
  friend bool operator==(const PlatformError& a, const PlatformError& b) {
    return a.domain == b.domain && a.code == b.code && a.description == b.description;
  }
};

/// Errors of the filesystem layer.
class QELVO_EXPORT FileOperationError : public std::exception {
 public:
  /// A filesystem call failed.
  struct IoError {
    PlatformError error;  ///< what the system said
    friend bool operator==(const IoError&, const IoError&) = default;
  };
  /// An archive was to be unpacked for an application that has no directory in the cache.
  struct InvalidZipPath {
    friend bool operator==(const InvalidZipPath&, const InvalidZipPath&) = default;
  };
  using Value = std::variant<IoError, InvalidZipPath>;  ///< the case and its payload

  /// An `IoError`.
  static FileOperationError ioError(PlatformError error) { return {IoError{std::move(error)}}; }
  /// An `InvalidZipPath`.
  static FileOperationError invalidZipPath() { return {InvalidZipPath{}}; }

  const Value& value() const { return value_; }  ///< the case, for `std::visit`
  /// The platform error of an `ioError`, or null.
  const PlatformError* platformError() const;
  /// The generic description naming the type and case (see above).
  std::string localizedDescription() const;
  /// This error in the platform-error form, as a wrapping layer carries it.
  PlatformError bridged() const;
  const char* what() const noexcept override;  ///< `localizedDescription()`
  friend bool operator==(const FileOperationError& a, const FileOperationError& b) {
    return a.value_ == b.value_;
  }

 private:
  FileOperationError(Value value) : value_(std::move(value)) {}
  Value value_;
};

/// A transfer that did not complete: libcurl's result code and message.
struct QELVO_EXPORT TransferError : std::exception {
  int curlCode = 0;  ///< libcurl's CURLcode
  std::string message;  ///< libcurl's text, with its detail when it gave one

  /// An error with this code and text.
  TransferError(int curlCode, std::string message)
      : curlCode(curlCode), message(std::move(message)) {}
  const char* what() const noexcept override { return message.c_str(); }  ///< `message`
  friend bool operator==(const TransferError& a, const TransferError& b) {
    return a.curlCode == b.curlCode && a.message == b.message;
  }
};

/// JSON that did not decode: the path of keys to the failure, and a description.
struct QELVO_EXPORT DecodingError : std::exception {
  std::string codingPath;  ///< the keys from the document's root to the failure, "." between them
  std::string description;  ///< what was wrong there, also `what()`

  /// An error at `codingPath` with this text.
  DecodingError(std::string codingPath, std::string description)
      : codingPath(std::move(codingPath)), description(std::move(description)) {}
  const char* what() const noexcept override { return description.c_str(); }  ///< `description`
  friend bool operator==(const DecodingError& a, const DecodingError& b) {
    return a.codingPath == b.codingPath && a.description == b.description;
  }
};

/// A value that could not be encoded as JSON.
struct QELVO_EXPORT EncodingError : std::exception {
  std::string description;  ///< what could not be encoded, also `what()`

  /// An error with this text.
  explicit EncodingError(std::string description) : description(std::move(description)) {}
  const char* what() const noexcept override { return description.c_str(); }  ///< `description`
  friend bool operator==(const EncodingError& a, const EncodingError& b) {
    return a.description == b.description;
  }
};

/// The operation was stopped by `cancelSync`.
struct QELVO_EXPORT CancellationError : std::exception {
  /// "The operation was cancelled."
  const char* what() const noexcept override { return "The operation was cancelled."; }
  friend bool operator==(const CancellationError&, const CancellationError&) { return true; }
};

/// The status line and final URL of an HTTP response (after redirects).
struct HttpResponse {
  long statusCode = 0;  ///< the HTTP status code
  Url url;  ///< the URL that answered, after redirects
  /// How long the service asks the client to wait before it asks again: the response's
  /// Retry-After (sent with 429 and 503), its delta-seconds as given or its HTTP-date as
  /// the seconds from the response's arrival to it (0 once past). None when the response
  /// has no readable Retry-After.
  std::optional<std::chrono::seconds> retryAfter{};
  friend bool operator==(const HttpResponse&, const HttpResponse&) = default;
};

/// The deploy service's error envelope: {"error": {...}}.
struct BraxoErrorResponse {
  /// The envelope's "error" object.
  struct LiveUpdateError {
    /// One entry of "details": a parameter and what was wrong with it.
    struct Details {
      std::string parameter;  ///< "parameter"
      std::vector<std::string> errors;  ///< "errors"
      std::string errorType;  ///< "error_type"
      friend bool operator==(const Details&, const Details&) = default;
    };
    std::optional<std::string> link;  ///< "link", optional
    std::string message;  ///< "message", for people
    std::string type;  ///< "type", a machine-readable kind
    std::optional<std::vector<Details>> details;  ///< "details", optional
    std::string eventId;  ///< "event_id", naming the failure in the service's logs
    friend bool operator==(const LiveUpdateError&, const LiveUpdateError&) = default;
  };
  LiveUpdateError error;  ///< "error"
  friend bool operator==(const BraxoErrorResponse&, const BraxoErrorResponse&) = default;
};

/// Errors of the deploy-service client.
class QELVO_EXPORT NetworkClientError : public std::exception {
 public:
  /// A response that is not a success (status outside 200-299), without a decodable
  /// error envelope where one is looked for.
  struct InvalidResponse {
    HttpResponse response;  ///< the status and final URL
    friend bool operator==(const InvalidResponse&, const InvalidResponse&) = default;
  };
  /// The transfer failed, or the file callback of a download failed; carries why.
  struct NetworkError {
    std::shared_ptr<const Error> error;  ///< the cause; never null
    friend QELVO_EXPORT bool operator==(const NetworkError& a, const NetworkError& b);
  };
  /// A success answer whose body is not what the exchange expects.
  struct DecodingError {
    qelvo::DecodingError error;  ///< what did not decode
    friend bool operator==(const DecodingError&, const DecodingError&) = default;
  };
  /// A refusal carrying the service's error envelope, and the wait its Retry-After asks
  /// for (as in HttpResponse).
  struct Qelvo {
    BraxoErrorResponse response;  ///< the decoded envelope
    std::optional<std::chrono::seconds> retryAfter{};  ///< none without a Retry-After
    friend bool operator==(const Qelvo&, const Qelvo&) = default;
  };
  /// The case and its payload.
  using Value = std::variant<InvalidResponse, NetworkError, DecodingError, Qelvo>;

  /// An `InvalidResponse`.
  static NetworkClientError invalidResponse(HttpResponse response) {
    return {InvalidResponse{std::move(response)}};
  }
  static NetworkClientError networkError(Error error);  ///< a `NetworkError` carrying `error`
  /// A `DecodingError`.
  static NetworkClientError decodingError(qelvo::DecodingError error) {
    return {DecodingError{std::move(error)}};
  }
  /// A `Qelvo` refusal with its envelope and Retry-After wait.
  static NetworkClientError qelvo(BraxoErrorResponse response,
                                  std::optional<std::chrono::seconds> retryAfter = std::nullopt) {
    return {Qelvo{std::move(response), retryAfter}};
  }

  const Value& value() const { return value_; }  ///< the case, for `std::visit`
  /// The wait the service asked for with this refusal (an invalid response's or an
  /// envelope's Retry-After, or that of the failure a network error carries); none when
  /// it asked for none.
  std::optional<std::chrono::seconds> retryAfter() const;
  /// The generic description naming the type and case (see above).
  std::string localizedDescription() const;
  const char* what() const noexcept override;  ///< `localizedDescription()`
  friend bool operator==(const NetworkClientError& a, const NetworkClientError& b) {
    return a.value_ == b.value_;
  }

 private:
  NetworkClientError(Value value) : value_(std::move(value)) {}
  Value value_;
};

}  // namespace qelvo
