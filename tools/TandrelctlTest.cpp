// Runs the tandrelctl binary against a scripted service in this process.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

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
    int status = -1;  // the exit status, -1 when killed by a signal or still running
    std::string out;
    std::string err;
};

std::string readFile(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

// The tool as a child process; its output goes to files in `directory`. Serves the main loop (the scripted
// service lives there) while it runs.
class Tool {
  public:
    Tool(std::vector<std::string> arguments, const std::string& directory) : directory_(directory) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, (directory + "/out").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, (directory + "/err").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        arguments.insert(arguments.begin(), TANDRELCTL_PATH);
        pid = xpc::testing::spawn(std::move(arguments), actions);
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_GT(pid, 0);
    }
    ~Tool() {
        if (!exited_) ::kill(pid, SIGKILL);
        if (!exited_) ::waitpid(pid, nullptr, 0);
    }
    // Whether it has exited; `run` holds what it wrote so far.
    bool poll() {
        int status = 0;
        if (!exited_ && ::waitpid(pid, &status, WNOHANG) == pid) {
            exited_ = true;
            run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        run.out = readFile(directory_ + "/out");
        run.err = readFile(directory_ + "/err");
        return exited_;
    }
    const ToolRun& wait() {
        EXPECT_TRUE(xpc::testing::runUntil([&] { return poll(); }));
        return run;
    }

    pid_t pid = -1;
    ToolRun run;

  private:
    std::string directory_;
    bool exited_ = false;
};

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
    // Data that is not JSON is shown whole.
    Object notJson = xpc::testing::message("StartMonitor");
    notJson.set("data", Object::data(std::string_view("not json")));
    service.reply("StartMonitor", {notJson});
    // An event first: not printed.
    service.reply("MouseLocation", {answer("SelectionEvent", nlohmann::json::object()),
                                    answer("MouseLocation", {{"x", 12.5}, {"y", 300.0}})});
    service.reply("SelectedText", {answer("SelectedText", {{"content", "héllo\n"}})});
    service.reply("InsertText", {answer("InsertText", {{"result", true}})});
    service.answers["Echo"] = [](auto& c, const Object& request) { c->send(request); };
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"permission"}, R"({"result":true,"type":"IsPermissionGranted"})"},
        {{"start-monitor"}, R"({"data":"not json","type":"StartMonitor"})"},
        {{"mouse"}, R"({"type":"MouseLocation","x":12.5,"y":300.0})"},
        {{"selected-text"}, R"({"content":"héllo\n","type":"SelectedText"})"},
        {{"insert-text", "--", "-dash text"}, R"({"result":true,"type":"InsertText"})"},
        // A message built from JSON, and whatever comes back printed whole.
        {{"send", R"({"type":"Echo","n":-3,"big":18446744073709551615,"f":1.5,"list":[true,null]})"},
         R"({"big":18446744073709551615,"f":1.5,"list":[true,null],"n":-3,"type":"Echo"})"},
    };
    for (const auto& [arguments, line] : cases) {
        SCOPED_TRACE(arguments.front());
        ToolRun run = tool(arguments);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, line + "\n");
        EXPECT_EQ(run.err, "");
    }
    const auto received = service.requests();
    ASSERT_EQ(received.size(), std::size(cases));
    EXPECT_EQ(received[0], xpc::testing::message("IsPermissionGranted"));
    Object insert = xpc::testing::message("InsertText");
    insert.set("data", Object::string("-dash text"));
    EXPECT_EQ(received[4], insert);
    EXPECT_EQ(received[5].get("n")->asInt64(), -3);
    EXPECT_TRUE(received[5].get("big")->asUint64());
}

TEST_F(TandrelctlTest, FailsWithStatusOneAndOneLineWhenNoAnswerComes) {
    // The channel's reason for the failure is on the line.
    const ToolRun absent = tool({"permission"});
    EXPECT_EQ(absent.status, 1);
    EXPECT_EQ(absent.out, "");
    EXPECT_EQ(absent.err, "tandrelctl: " + name + " is not running (Cannot connect to service " + name +
                              " at " + runtime.socketPath(name) + ": No such file or directory)\n");

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
        EXPECT_EQ(run.status, 1);
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
        [&] { return watching.poll() || watching.run.out.size() >= expected.size(); }));
    EXPECT_EQ(watching.run.out, expected);
    ::kill(watching.pid, SIGINT);
    const ToolRun& run = watching.wait();
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
}

// The program prints help on standard output and exits 0, a usage error on standard error and exits 2.
TEST(TandrelctlCommandLineTest, HelpAndUsageErrors) {
    xpc::testing::RuntimeDirectory directory;
    const std::string see = " (see tandrelctl --help)\n";
    const std::tuple<std::vector<std::string>, int, std::string, std::string> runs[] = {
        {{"--help"}, 0, "Usage: tandrelctl [OPTIONS] COMMAND [ARGUMENTS]\n", ""},
        {{"mouse", "--help"}, 0, "Usage: tandrelctl [OPTIONS] mouse\n", ""},
        {{"frobnicate"}, 2, "", "tandrelctl: unknown command frobnicate" + see},
        {{"permission", "extra"}, 2, "", "tandrelctl: permission takes no argument, got extra" + see},
        {{"--timeout", "0", "mouse"},
         2,
         "",
         "tandrelctl: --timeout needs a positive number of seconds" + see},
        {{"send", "[1]"}, 2, "", "tandrelctl: send: the message must be a JSON object, not array\n"},
    };
    for (const auto& [arguments, status, out, err] : runs) {
        SCOPED_TRACE(arguments[0]);
        Tool tool(arguments, directory.path());
        const ToolRun& run = tool.wait();
        EXPECT_EQ(run.status, status);
        EXPECT_EQ(run.out.substr(0, out.size()), out);
        EXPECT_EQ(run.out.empty(), out.empty());
        EXPECT_EQ(run.err, err);
    }
}

}  // namespace
}  // namespace tandrelctl
