// qelvo-live-update: a command-line host of the library. It keeps web apps up to date in
// a data directory, as an application embedding the library would; see cli_options.h
// for the command line and sync_report.h for what it prints.
#include <signal.h>

#include <cstdlib>
#include <iostream>

#include "cli_options.h"
#include "commands.h"
#include "launch_commands.h"
#include "stop_signals.h"
#include "watch_command.h"
#include "qelvo/errors.h"

int main(int argc, char** argv) {
  auto options = qelvo::cli::parseCliOptions(argc, argv);
  if (!options) {
    std::cerr << "qelvo-live-update: " << options.error() << "\n" << qelvo::cli::kUsage;
    return qelvo::cli::kExitUsage;
  }
  if (options->help) {
    std::cout << qelvo::cli::kUsage;
    return 0;
  }
  signal(SIGPIPE, SIG_IGN);  // a closed pipe shows as a failed write, not a dead process
  // Before the manager starts any thread: the threads inherit the mask.
  if (options->command == qelvo::cli::Command::watch) qelvo::cli::blockStopSignals();
  try {
    auto manager = qelvo::cli::makeManager(*options);
    switch (options->command) {
      case qelvo::cli::Command::sync:
        return qelvo::cli::runSync(*manager, *options);
      case qelvo::cli::Command::dir:
        return qelvo::cli::runDir(*manager, *options);
      case qelvo::cli::Command::lastSync:
        return qelvo::cli::runLastSync(*manager, *options);
      case qelvo::cli::Command::clean:
        return qelvo::cli::runClean(*manager, *options);
      case qelvo::cli::Command::reset:
        return qelvo::cli::runReset(*manager, *options);
      case qelvo::cli::Command::launch:
        return qelvo::cli::runLaunch(*manager, *options);
      case qelvo::cli::Command::ready:
        return qelvo::cli::runReady(*manager, *options);
      case qelvo::cli::Command::bad:
        return qelvo::cli::runBad(*manager, *options);
      case qelvo::cli::Command::status:
        return qelvo::cli::runStatus(*manager, *options);
      case qelvo::cli::Command::watch:
        return qelvo::cli::runWatch(*manager, *options);
    }
  } catch (const qelvo::FileOperationError& error) {
    const auto* cause = error.platformError();
    std::cerr << "qelvo-live-update: "
              << (cause ? cause->description : error.localizedDescription()) << "\n";
  } catch (const std::exception& error) {
    std::cerr << "qelvo-live-update: " << error.what() << "\n";
  }
  return qelvo::cli::kExitFailure;
}
