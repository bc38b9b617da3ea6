// The command line that runs one of the programs this build made. A build for another
// architecture (a cross build) runs its programs under an emulator (qemu's user-mode
// emulator, as CTest runs the tests), and a test that starts such a program as its own
// process has to start the emulator with it: the kernel cannot run it directly.
#pragma once

#include <string>
#include <vector>

namespace qelvo::test {

// `command` (a built program and its arguments), after the emulator's command line when
// the build has one.
std::vector<std::string> builtProgramCommand(std::vector<std::string> command);

}  // namespace qelvo::test
