// Early return for std::expected chains: `QELVO_TRY(auto value, step());` declares
// `value` from a successful result, or returns the error from the enclosing function.
#pragma once

#include <expected>
#include <utility>

#define QELVO_CONCAT_INNER(a, b) a##b
#define QELVO_CONCAT(a, b) QELVO_CONCAT_INNER(a, b)

#define QELVO_TRY_IMPL(result, declaration, expression)      \
  auto result = (expression);                                \
  if (!result) return std::unexpected(std::move(result).error()); \
  declaration = std::move(*result)

#define QELVO_TRY(declaration, expression) \
  QELVO_TRY_IMPL(QELVO_CONCAT(qelvo_try_, __LINE__), declaration, expression)

// For results without a value.
#define QELVO_TRY_VOID(expression)                                          \
  do {                                                                      \
    if (auto qelvo_try_void = (expression); !qelvo_try_void)                \
      return std::unexpected(std::move(qelvo_try_void).error());            \
  } while (false)
