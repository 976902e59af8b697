// tandrelctl: the command-line client of the helper service.

#include <cstdio>

#include <nlohmann/json.hpp>

#include "CommandLine.h"
#include "MessageJson.h"
#include "Session.h"

int main(int argc, char* argv[]) {
    // Before any thread exists, so that every thread inherits the mask and the run loop alone reads them.
    tandrelctl::Session::blockSignals();
    auto parsed = tandrelctl::CommandLine::parse(argc, argv);
    switch (parsed.outcome) {
        case tandrelctl::CommandLine::Outcome::Help:
            std::fputs(parsed.text.c_str(), stdout);
            return 0;
        case tandrelctl::CommandLine::Outcome::UsageError:
            std::fprintf(stderr, "%s\n", parsed.text.c_str());
            return 2;
        case tandrelctl::CommandLine::Outcome::Run:
            break;
    }
    if (parsed.line.command == tandrelctl::CommandLine::Command::Send) {
        std::string error;
        auto json = nlohmann::json::parse(parsed.line.argument, nullptr, /*allow_exceptions=*/false);
        if (json.is_discarded()) {
            std::fprintf(stderr, "tandrelctl: send: the argument is not valid JSON\n");
            return 2;
        }
        if (!tandrelctl::MessageJson::toMessage(json, error)) {
            std::fprintf(stderr, "tandrelctl: send: %s\n", error.c_str());
            return 2;
        }
    }
    return tandrelctl::Session(parsed.line).run();
}
