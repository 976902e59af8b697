#pragma once

#include <string>

// The command line of tandrel-helper. The service itself takes no configuration; the options only ask for
// help, the version, or a copy of the log on the terminal. Pure: `main` prints and exits.
struct HelperOptions {
    // What `parse` decided: run the service, print the usage (exit 0), print the version (exit 0), or a usage
    // error (exit 2).
    enum class Outcome { Run, Help, Version, UsageError };

    Outcome outcome = Outcome::Run;
    // Also write every log line to standard error, coloured where the terminal allows.
    bool logToTerminal = false;
    // For a usage error, the one-line reason ("tandrel-helper: ...").
    std::string error;

    static HelperOptions parse(int argc, const char* const argv[]);
    static std::string usage();
};
