#include "helper/HelperOptions.h"

HelperOptions HelperOptions::parse(int argc, const char* const argv[]) {
    HelperOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "-h" || word == "--help") {
            options.outcome = Outcome::Help;
            return options;
        }
        if (word == "--version") {
            options.outcome = Outcome::Version;
            return options;
        }
        if (word == "--log-to-terminal") {
            options.logToTerminal = true;
            continue;
        }
        options.outcome = Outcome::UsageError;
        options.error = std::string("tandrel-helper: ") +
                        (word.size() > 1 && word[0] == '-' ? "unknown option " : "unexpected argument ") +
                        word;
        return options;
    }
    return options;
}

std::string HelperOptions::usage() {
    return "Usage: tandrel-helper [--log-to-terminal]\n"
           "Serves the desktop assistant's requests on the local socket and tells connected clients when "
           "text\n"
           "is selected. Logs to the journal and to a log file in /tmp; runs until SIGTERM or SIGINT.\n"
           "\n"
           "Options:\n"
           "  --log-to-terminal  also write every log line to standard error, coloured on a colour terminal\n"
           "                     (NO_COLOR set to anything turns the colours off)\n"
           "  -h, --help         this help\n"
           "  --version          the version\n";
}
