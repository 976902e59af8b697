#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace tandrelctl {

// The parsed command line of tandrelctl. Pure: no I/O besides composing help texts.
class CommandLine {
  public:
    enum class Command { StartMonitor, Permission, Mouse, SelectedText, InsertText, Watch, Send };
    static constexpr const char* kDefaultService = "com.tandrel.helper";

    Command command = Command::Permission;
    std::string argument;  // the text of insert-text, the JSON of send
    bool watchText = false;
    std::chrono::milliseconds timeout{2000};
    std::string service = kDefaultService;

    // What `parse` decided: run, print help (exit 0), or a usage error (exit 2).
    enum class Outcome { Run, Help, UsageError };
    struct Parsed;
    static Parsed parse(int argc, const char* const argv[]);

    // The request type a command sends ("" for watch and send).
    static const char* requestType(Command command);
    static std::string usage();
    static std::string usage(Command command);
};

struct CommandLine::Parsed {
    Outcome outcome = Outcome::Run;
    CommandLine line;
    std::string text;  // help text, or the usage error
};

}  // namespace tandrelctl
