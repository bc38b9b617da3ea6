// Reaching into the errors the client reports, for assertions.
#pragma once

#include <variant>

#include "qelvo/error.h"

namespace qelvo::test {

// The error a NetworkClientError::networkError carries; null for any other error.
inline const Error* networkErrorCause(const Error& error) {
  const auto* client = error.get<NetworkClientError>();
  if (!client) return nullptr;
  const auto* network = std::get_if<NetworkClientError::NetworkError>(&client->value());
  return network ? network->error.get() : nullptr;
}

// The TransferError that a networkError carries; null otherwise.
inline const TransferError* carriedTransferError(const Error& error) {
  const Error* cause = networkErrorCause(error);
  return cause ? cause->get<TransferError>() : nullptr;
}

}  // namespace qelvo::test
