// Runs the tandrelctl binary against a scripted service in this process.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <sstream>

#include "CommandLine.h"
#include "MessageJson.h"
#include "xpc/internal/ChannelTestSupport.h"

namespace tandrelctl {
namespace {

using xpc::Object;

xpc::Object answer(const std::string& type, nlohmann::json content) {
    content["type"] = type;
    Object message = xpc::testing::message(type);
    message.set("data", Object::data(std::string_view(content.dump())));
    return message;
}

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

// The tool as a child process; its output goes to files in `directory`. Serves the main loop (the scripted
// service lives there) while it runs.
class Tool {
  public:
    Tool(std::vector<std::string> arguments, const std::string& directory)
        : out_(directory + "/out"), err_(directory + "/err") {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        arguments.insert(arguments.begin(), TANDRELCTL_PATH);
        pid_ = xpc::testing::spawn(std::move(arguments), actions);
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_GT(pid_, 0);
    }
    ~Tool() {
        if (!exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    bool poll() {
        exited_ = exited_ || ::waitpid(pid_, &run_.status, WNOHANG) == pid_;
        run_.out = read(out_);
        run_.err = read(err_);
        return exited_;
    }
    const ToolRun& wait() {
        EXPECT_TRUE(xpc::testing::runUntil([&] { return poll(); }));
        return run_;
    }
    const ToolRun& current() const { return run_; }
    void signal(int number) { ::kill(pid_, number); }

  private:
    static std::string read(const std::string& path) {
        std::ostringstream text;
        text << std::ifstream(path).rdbuf();
        return text.str();
    }
    std::string out_, err_;
    pid_t pid_ = -1;
    bool exited_ = false;
    ToolRun run_;
};

int exitCode(const ToolRun& run) {
    return WIFEXITED(run.status) ? WEXITSTATUS(run.status) : -1;
}

class TandrelctlTest : public ::testing::Test {
  protected:
    ToolRun tool(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"--service", name});
        Tool running(std::move(arguments), runtime.path());
        return running.wait();
    }
    xpc::testing::RuntimeDirectory runtime;
    const std::string name = "com.tandrel.ctltest";
    xpc::testing::ScriptedService service;
};

TEST_F(TandrelctlTest, EachCommandSendsItsRequestAndPrintsTheAnswer) {
    ASSERT_TRUE(service.start(name));
    service.reply("IsPermissionGranted", {answer("IsPermissionGranted", {{"result", true}})});
    service.reply("StartMonitor", {answer("StartMonitor", {{"result", false}})});
    // An event first: not printed.
    service.reply("MouseLocation", {answer("SelectionEvent", nlohmann::json::object()),
                                    answer("MouseLocation", {{"x", 12.5}, {"y", 300.0}})});
    service.reply("SelectedText", {answer("SelectedText", {{"content", "héllo\n"}})});
    service.reply("InsertText", {answer("InsertText", {{"result", true}})});
    service.answers["Echo"] = [](auto& c, const Object& request) { c->send(request); };
    struct Case {
        std::vector<std::string> arguments;
        std::string line;
    };
    const std::vector<Case> cases = {
        {{"permission"}, R"({"result":true,"type":"IsPermissionGranted"})"},
        {{"start-monitor"}, R"({"result":false,"type":"StartMonitor"})"},
        {{"mouse"}, R"({"type":"MouseLocation","x":12.5,"y":300.0})"},
        {{"selected-text"}, R"({"content":"héllo\n","type":"SelectedText"})"},
        {{"insert-text", "--", "-dash text"}, R"({"result":true,"type":"InsertText"})"},
        // A message built from JSON, and whatever comes back printed whole.
        {{"send", R"({"type":"Echo","n":-3,"big":18446744073709551615,"f":1.5,"list":[true,null]})"},
         R"({"big":18446744073709551615,"f":1.5,"list":[true,null],"n":-3,"type":"Echo"})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.front());
        ToolRun run = tool(c.arguments);
        EXPECT_EQ(exitCode(run), 0) << run.err;
        EXPECT_EQ(run.out, c.line + "\n");
        EXPECT_EQ(run.err, "");
    }
    const auto received = service.requests();
    ASSERT_EQ(received.size(), cases.size());
    EXPECT_EQ(received[0], xpc::testing::message("IsPermissionGranted"));
    Object insert = xpc::testing::message("InsertText");
    insert.set("data", Object::string("-dash text"));
    EXPECT_EQ(received[4], insert);
    EXPECT_EQ(received[5].get("n")->asInt64(), -3);
    EXPECT_TRUE(received[5].get("big")->asUint64());
}

TEST_F(TandrelctlTest, FailsWithStatusOneAndOneLineWhenNoAnswerComes) {
    const ToolRun absent = tool({"permission"});
    EXPECT_EQ(exitCode(absent), 1);
    EXPECT_EQ(absent.out, "");
    EXPECT_EQ(absent.err.rfind("tandrelctl: com.tandrel.ctltest is not running (Cannot connect", 0), 0u)
        << absent.err;
    EXPECT_EQ(std::count(absent.err.begin(), absent.err.end(), '\n'), 1);

    ASSERT_TRUE(service.start(name));
    // The service goes away while the tool waits.
    service.answers["MouseLocation"] = [this](auto& c, auto&) {
        service.listener.reset();
        c->cancel();
    };
    const std::string silent = "tandrelctl: no answer from com.tandrel.ctltest within 0.2 s\n";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--timeout", "0.2", "selected-text"}, silent},
        {{"mouse"}, "tandrelctl: com.tandrel.ctltest went away\n"},
    };
    for (const auto& [arguments, error] : cases) {
        SCOPED_TRACE(arguments.back());
        const ToolRun run = tool(arguments);
        EXPECT_EQ(exitCode(run), 1);
        EXPECT_EQ(run.err, error);
    }
    EXPECT_EQ(service.requests().size(), 2u);
}

TEST_F(TandrelctlTest, WatchPrintsEventsAndWithTextTheSelection) {
    ASSERT_TRUE(service.start(name));
    int selections = 0;
    const Object event = answer("SelectionEvent", nlohmann::json::object());
    service.reply("StartMonitor", {answer("StartMonitor", {{"result", true}}), event, event});
    service.answers["SelectedText"] = [&](auto& c, auto&) {
        c->send(answer("SelectedText", {{"content", "text " + std::to_string(++selections)}}));
    };
    Tool watching({"--service", name, "watch", "--text"}, runtime.path());
    const std::string expected = R"({"result":true,"type":"StartMonitor"}
{"type":"SelectionEvent"}
{"type":"SelectionEvent"}
{"content":"text 1","type":"SelectedText"}
{"content":"text 2","type":"SelectedText"}
)";
    ASSERT_TRUE(xpc::testing::runUntil(
        [&] { return watching.poll() || watching.current().out.size() >= expected.size(); }));
    EXPECT_EQ(watching.current().out, expected);
    watching.signal(SIGINT);
    const ToolRun& run = watching.wait();
    EXPECT_EQ(exitCode(run), 0) << run.err;
    EXPECT_EQ(run.err, "");
}

// Runs of white space as one space, so that wrapped lines compare as text.
std::string collapse(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (!std::isspace(static_cast<unsigned char>(c))) {
            out += c;
        } else if (!out.empty() && out.back() != ' ') {
            out += ' ';
        }
    }
    return out;
}

CommandLine::Parsed parse(std::vector<const char*> words) {
    words.insert(words.begin(), "tandrelctl");
    return CommandLine::parse(static_cast<int>(words.size()), words.data());
}

TEST(TandrelctlCommandLineTest, UsageErrorsOptionsAndHelp) {
    for (const auto& words : std::vector<std::vector<const char*>>{{},
                                                                   {"insert-text"},
                                                                   {"permission", "extra"},
                                                                   {"mouse", "--text"},
                                                                   {"--timeout", "0", "mouse"},
                                                                   {"--timeout", "soon", "mouse"}}) {
        EXPECT_EQ(parse(words).outcome, CommandLine::Outcome::UsageError) << words.size();
    }
    EXPECT_EQ(parse({"frobnicate"}).text, "tandrelctl: unknown command frobnicate (see tandrelctl --help)");
    EXPECT_EQ(parse({"--bogus", "mouse"}).text, "tandrelctl: unknown option --bogus (see tandrelctl --help)");
    auto watch = parse({"watch", "--text", "--timeout=0.25"});
    ASSERT_EQ(watch.outcome, CommandLine::Outcome::Run);
    EXPECT_TRUE(watch.line.watchText);
    EXPECT_EQ(watch.line.timeout, std::chrono::milliseconds(250));
    EXPECT_EQ(watch.line.service, "com.tandrel.helper");

    // The listing names every command with the whole first sentence of its own help, whose first line is
    // "Usage: tandrelctl [OPTIONS] <synopsis>", then a blank line and the description.
    const auto all = parse({"--help"});
    EXPECT_EQ(all.outcome, CommandLine::Outcome::Help);
    const std::string listing = collapse(all.text);
    for (const char* command :
         {"start-monitor", "permission", "mouse", "selected-text", "insert-text", "watch", "send"}) {
        SCOPED_TRACE(command);
        const auto one = parse({command, "--help"});
        EXPECT_EQ(one.outcome, CommandLine::Outcome::Help);
        const std::string usage = "Usage: tandrelctl [OPTIONS] ";
        const auto usageEnd = one.text.find('\n');
        ASSERT_EQ(one.text.rfind(usage, 0), 0u) << one.text;
        const std::string synopsis = one.text.substr(usage.size(), usageEnd - usage.size());
        const std::string description = collapse(one.text.substr(usageEnd + 2));
        const auto stop = description.find(". ");
        const std::string sentence =
            stop == std::string::npos ? description : description.substr(0, stop + 1);
        ASSERT_FALSE(sentence.empty());
        EXPECT_NE(listing.find(" " + synopsis + " " + sentence + " "), std::string::npos) << all.text;
    }
    // The program prints it and exits 0.
    xpc::testing::RuntimeDirectory directory;
    Tool tool({"--help"}, directory.path());
    const ToolRun& run = tool.wait();
    EXPECT_EQ(exitCode(run), 0);
    EXPECT_EQ(run.out, all.text);
}

TEST(TandrelctlMessageJsonTest, MessagesWhoseDataIsNotJsonShowWholeAndOnlyObjectsBecomeMessages) {
    Object bare = xpc::testing::message("NoData");
    bare.set("data", Object::data(std::string_view("not json")));
    EXPECT_EQ(MessageJson::line(bare), R"({"data":"not json","type":"NoData"})");
    std::string error;
    EXPECT_FALSE(MessageJson::toMessage(nlohmann::json::array(), error));
    EXPECT_EQ(error, "the message must be a JSON object, not array");
}

}  // namespace
}  // namespace tandrelctl
