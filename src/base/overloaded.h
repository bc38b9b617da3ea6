// A visitor built from lambdas, for std::visit over the library's tagged variants.
#pragma once

namespace qelvo {

template <class... Fs>
struct Overloaded : Fs... {
  using Fs::operator()...;
};

}  // namespace qelvo
