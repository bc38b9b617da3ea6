#include <array>
#include <string>

#include "client/check_types.h"
#include "platform/host.h"

namespace qelvo {

bool detectZarrowsEmbedding() {
  // Looked up again for every request, in this order, stopping at the first found.
  static const std::array<std::string, 3> kComponents = {"QELZarrowUIView", "KPRLatticedPlugin",
                                                         "KPRZarrowsPlugin"};
  for (const auto& name : kComponents) {
    if (platform::isClassLoaded(name)) return true;
  }
  return false;
}

}  // namespace qelvo
