#include "CommandLine.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace tandrelctl {
namespace {

struct CommandInfo {
    const char* name;
    CommandLine::Command command;
    const char* request;
    const char* synopsis;
    const char* help;
};

const std::vector<CommandInfo>& commands() {
    static const std::vector<CommandInfo> table = {
        {"start-monitor", CommandLine::Command::StartMonitor, "StartMonitor", "start-monitor",
         "Asks the helper to start watching for text selections and prints its answer. The helper asks for "
         "the "
         "input-monitoring permission when it lacks it; the answer is "
         "{\"type\":\"StartMonitor\",\"result\":true|false}."},
        {"permission", CommandLine::Command::Permission, "IsPermissionGranted", "permission",
         "Prints whether the helper may monitor and synthesise input. The answer is "
         "{\"type\":\"IsPermissionGranted\",\"result\":true|false}."},
        {"mouse", CommandLine::Command::Mouse, "MouseLocation", "mouse",
         "Prints the pointer location, origin at the bottom left of the primary screen. The answer is "
         "{\"type\":\"MouseLocation\",\"x\":X,\"y\":Y}."},
        {"selected-text", CommandLine::Command::SelectedText, "SelectedText", "selected-text",
         "Prints the text currently selected in the frontmost application (empty when none). The answer is "
         "{\"type\":\"SelectedText\",\"content\":\"...\"}."},
        {"insert-text", CommandLine::Command::InsertText, "InsertText", "insert-text TEXT",
         "Pastes TEXT into the frontmost application and prints the answer. TEXT stays on the clipboard; the "
         "answer is {\"type\":\"InsertText\",\"result\":true|false}."},
        {"watch", CommandLine::Command::Watch, "", "watch [--text]",
         "Starts the monitor, prints its answer, then prints every selection event as one line until "
         "interrupted (exit status 0). With --text it asks for the selected text after each event and prints "
         "the answer too. Each of those answers must come within the timeout."},
        {"send", CommandLine::Command::Send, "", "send JSON",
         "Sends JSON, which must be an object, as one message and prints the first message that comes back. "
         "Strings travel as strings, integers as int64, other numbers as doubles."},
    };
    return table;
}

const CommandInfo* findByName(const std::string& name) {
    for (const auto& info : commands()) {
        if (name == info.name) return &info;
    }
    return nullptr;
}

const CommandInfo& findByCommand(CommandLine::Command command) {
    for (const auto& info : commands()) {
        if (info.command == command) return info;
    }
    return commands().front();
}

constexpr const char* kOptions =
    "Options (anywhere on the line):\n"
    "  --timeout SECONDS  how long to wait for an answer (default 2; fractions allowed)\n"
    "  --service NAME     the service to talk to (default com.tandrel.helper)\n"
    "  -h, --help         this help\n"
    "  --                 ends the options (for a TEXT that begins with -)\n";

std::optional<std::chrono::milliseconds> parseSeconds(const std::string& text) {
    char* end = nullptr;
    const double seconds = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(seconds) || seconds <= 0 || seconds > 86400) {
        return std::nullopt;
    }
    return std::chrono::milliseconds(static_cast<long long>(std::ceil(seconds * 1000)));
}

constexpr std::size_t kWidth = 100;

// `text` broken into lines of at most kWidth columns (longer words stay whole), every line after the first
// indented by `indent` columns; `column` is where the first line starts.
std::string wrap(const std::string& text, std::size_t column, std::size_t indent) {
    std::string wrapped;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(' ', start);
        if (end == std::string::npos) end = text.size();
        const std::size_t word = end - start;
        if (column > indent && column + 1 + word > kWidth) {
            wrapped += "\n" + std::string(indent, ' ');
            column = indent;
        } else if (start > 0) {
            wrapped += ' ';
            ++column;
        }
        wrapped.append(text, start, word);
        column += word;
        start = end + 1;
    }
    return wrapped;
}

// The help text up to the end of its first sentence.
std::string firstSentence(const char* help) {
    const char* end = std::strstr(help, ". ");
    return end ? std::string(help, end + 1) : std::string(help);
}

CommandLine::Parsed usageError(std::string text) {
    CommandLine::Parsed parsed;
    parsed.outcome = CommandLine::Outcome::UsageError;
    parsed.text = "tandrelctl: " + std::move(text) + " (see tandrelctl --help)";
    return parsed;
}

}  // namespace

const char* CommandLine::requestType(Command command) {
    return findByCommand(command).request;
}

std::string CommandLine::usage() {
    std::string text =
        "Usage: tandrelctl [OPTIONS] COMMAND [ARGUMENTS]\n"
        "Talks to the running helper service: sends one request and prints each answer or event as one line\n"
        "of JSON on standard output. Exits 1 with a one-line reason on standard error when the service is "
        "not\n"
        "running or does not answer in time, 2 on a usage error.\n\nCommands:\n";
    for (const auto& info : commands()) {
        std::string synopsis = info.synopsis;
        synopsis.resize(std::max<std::size_t>(synopsis.size(), 18), ' ');
        text += "  " + synopsis + " " + wrap(firstSentence(info.help), 3 + synopsis.size(), 21) + "\n";
    }
    return text + "\n" + kOptions + "\n'tandrelctl COMMAND --help' describes one command.\n";
}

std::string CommandLine::usage(Command command) {
    const auto& info = findByCommand(command);
    return "Usage: tandrelctl [OPTIONS] " + std::string(info.synopsis) + "\n\n" + wrap(info.help, 0, 0) +
           "\n\n" + kOptions;
}

CommandLine::Parsed CommandLine::parse(int argc, const char* const argv[]) {
    Parsed parsed;
    CommandLine& line = parsed.line;
    std::vector<std::string> positional;
    bool help = false;
    bool text = false;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (optionsEnded || word.size() < 2 || word[0] != '-') {
            positional.push_back(word);
            continue;
        }
        auto value = [&](const std::string& option) -> std::optional<std::string> {
            if (word.size() > option.size()) return word.substr(option.size() + 1);  // --option=value
            if (i + 1 < argc) return std::string(argv[++i]);
            return std::nullopt;
        };
        if (word == "--") {
            optionsEnded = true;
        } else if (word == "-h" || word == "--help") {
            help = true;
        } else if (word == "--text") {
            text = true;
        } else if (word == "--timeout" || word.rfind("--timeout=", 0) == 0) {
            auto seconds = value("--timeout");
            auto timeout = seconds ? parseSeconds(*seconds) : std::nullopt;
            if (!timeout) return usageError("--timeout needs a positive number of seconds");
            line.timeout = *timeout;
        } else if (word == "--service" || word.rfind("--service=", 0) == 0) {
            auto name = value("--service");
            if (!name || name->empty()) return usageError("--service needs a name");
            line.service = *name;
        } else {
            return usageError("unknown option " + word);
        }
    }
    const CommandInfo* command = positional.empty() ? nullptr : findByName(positional.front());
    if (!positional.empty() && command == nullptr) return usageError("unknown command " + positional.front());
    if (help) {
        parsed.outcome = Outcome::Help;
        parsed.text = command ? usage(command->command) : usage();
        return parsed;
    }
    if (command == nullptr) return usageError("no command given");
    line.command = command->command;
    if (text && line.command != Command::Watch) return usageError("--text belongs to watch");
    line.watchText = text;
    const std::size_t arguments = positional.size() - 1;
    const bool takesArgument = line.command == Command::InsertText || line.command == Command::Send;
    if (takesArgument && arguments != 1) {
        return usageError(std::string(command->name) + " needs exactly one argument: " + command->synopsis +
                          " (put -- before an argument that begins with -)");
    }
    if (!takesArgument && arguments != 0) {
        return usageError(std::string(command->name) + " takes no argument, got " + positional[1]);
    }
    if (takesArgument) line.argument = positional[1];
    return parsed;
}

}  // namespace tandrelctl
