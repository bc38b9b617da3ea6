#include "support/built_program.h"

#include <sstream>

namespace qelvo::test {

std::vector<std::string> builtProgramCommand(std::vector<std::string> command) {
  // CMake's CMAKE_CROSSCOMPILING_EMULATOR, its words separated by spaces (empty for a
  // native build).
  std::vector<std::string> full;
  std::istringstream emulator(QELVO_TEST_EMULATOR);
  for (std::string word; emulator >> word;) full.push_back(word);
  full.insert(full.end(), command.begin(), command.end());
  return full;
}

}  // namespace qelvo::test
