#pragma once

#include <string>

// Where the logging subsystem keeps the files of this program: its name and the user's state directory.
// Callable from any thread.
namespace logging::internal {

// The identifier the program gives itself (before its first log file or database is named).
void setApplicationIdentifier(std::string identifier);
// That identifier, or the process name when none was given.
std::string applicationName();
// $XDG_STATE_HOME when it is an absolute path, else ~/.local/state, else the temporary directory.
std::string stateHomeDirectory();

}  // namespace logging::internal
