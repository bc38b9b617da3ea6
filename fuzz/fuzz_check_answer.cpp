// The decoders of the deploy service's check answers: success bodies and error
// envelopes. Any input must decode or fail cleanly, and what decodes must encode again.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "client/check_types.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (auto answer = qelvo::SuccessResponse::fromJson(text)) {
    auto again = answer->toJson();
    if (again) {
      auto decoded = qelvo::SuccessResponse::fromJson(*again);
      if (!decoded || decoded->data != answer->data) __builtin_trap();
    }
  }
  if (auto refusal = qelvo::decodeBraxoErrorResponse(text)) {
    auto again = qelvo::encodeBraxoErrorResponse(*refusal);
    if (again) {
      auto decoded = qelvo::decodeBraxoErrorResponse(*again);
      if (!decoded || !(*decoded == *refusal)) __builtin_trap();
    }
  }
  (void)qelvo::CheckRequest::fromJson(text);
  return 0;
}
