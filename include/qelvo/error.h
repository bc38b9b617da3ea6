/// @file
/// Error: any error the library may hand on unchanged between its layers: a SyncError,
/// one of the lower layers' errors, or a cancellation.
///
/// Inside the library, steps return `std::expected<T, Error>`. At the public edge the
/// asynchronous form rethrows the concrete error (`raise()`), so a host catches exactly
/// the type that was produced:
///
/// @code
///   try { auto result = manager->sync("app").get(); }
///   catch (const qelvo::SyncError& e) { ... }
///   catch (const qelvo::CancellationError&) { ... }
/// @endcode
#pragma once

#include <exception>
#include <string>
#include <utility>
#include <variant>

#include "qelvo/export.h"
#include "qelvo/errors.h"
#include "qelvo/sync_error.h"

namespace qelvo {

/// Any error of the library, as a value (see above). Copyable, comparable; may be handed between
/// threads.
class QELVO_EXPORT Error {
 public:
  /// The concrete error.
  using Value = std::variant<SyncError, NetworkClientError, FileOperationError, TransferError,
                             DecodingError, EncodingError, CancellationError, PlatformError>;

  /// Holds `error`, one of the alternatives of `Value`.
  template <class E>
    requires std::is_constructible_v<Value, E&&>
  Error(E&& error) : value_(std::forward<E>(error)) {}

  const Value& value() const { return value_; }  ///< the concrete error, for `std::visit`
  /// The concrete error when it is an `E`, else null (valid while this Error lives).
  template <class E>
  const E* get() const {
    return std::get_if<E>(&value_);
  }

  /// The text a host sees for this error: a SyncError's `errorDescription()`, the
  /// generic description of error families without text, or the error's own message.
  std::string localizedDescription() const;

  /// Throws the concrete error.
  [[noreturn]] void raise() const;
  /// The concrete error as an exception, for `std::promise`.
  std::exception_ptr toExceptionPtr() const;

  friend bool operator==(const Error&, const Error&) = default;

 private:
  Value value_;
};

}  // namespace qelvo
