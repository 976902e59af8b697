// Runs the tandrelctl binary against a scripted service in this process.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
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

// The tool as a child process, its output going to files in `directory`. Serves the main loop (the scripted
// service lives there) while it waits.
struct Tool {
    pid_t pid = -1;
    int status = -1;  // the exit status once it has exited, -1 when a signal ended it
    bool exited = false;
    std::string out, err, directory;

    Tool(std::vector<std::string> arguments, std::string where) : directory(std::move(where)) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        for (const int fd : {1, 2}) {
            const std::string path = directory + (fd == 1 ? "/out" : "/err");
            posix_spawn_file_actions_addopen(&actions, fd, path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        }
        arguments.insert(arguments.begin(), TANDRELCTL_PATH);
        pid = xpc::testing::spawn(std::move(arguments), actions);
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_GT(pid, 0);
    }
    ~Tool() {
        if (!exited) ::kill(pid, SIGKILL);
        if (!exited) ::waitpid(pid, nullptr, 0);
    }
    // Whether it has exited; `out` and `err` hold what it wrote so far.
    bool poll() {
        int wait = 0;
        if (!exited && ::waitpid(pid, &wait, WNOHANG) == pid) {
            exited = true;
            status = WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
        }
        std::ostringstream text[2];
        text[0] << std::ifstream(directory + "/out").rdbuf();
        text[1] << std::ifstream(directory + "/err").rdbuf();
        out = text[0].str();
        err = text[1].str();
        return exited;
    }
    Tool& wait() {
        EXPECT_TRUE(xpc::testing::runUntil([&] { return poll(); }));
        return *this;
    }
};

class TandrelctlTest : public ::testing::Test {
  protected:
    // Runs the tool against `name` to its end.
    std::unique_ptr<Tool> tool(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"--service", name});
        auto running = std::make_unique<Tool>(std::move(arguments), runtime.path());
        running->wait();
        return running;
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
        auto run = tool(arguments);
        EXPECT_EQ(run->status, 0) << run->err;
        EXPECT_EQ(run->out, line + "\n");
        EXPECT_EQ(run->err, "");
    }
    ASSERT_EQ(service.received.size(), std::size(cases));
    Object insert = xpc::testing::message("InsertText");
    insert.set("data", Object::string("-dash text"));
    EXPECT_EQ(service.received[4]->received(), std::vector<Object>{insert});
    const Object sent = service.received[5]->received().at(0);
    EXPECT_EQ(sent.get("n")->asInt64(), -3);
    EXPECT_TRUE(sent.get("big")->asUint64());
}

// Status 1 and one line on standard error when no answer comes, 2 on a usage error, 0 with help on standard
// output.
TEST_F(TandrelctlTest, ExitStatusAndOneLineWhenNoAnswerComesOrTheLineIsWrong) {
    // The channel's reason for the failure is on the line.
    const auto absent = tool({"permission"});
    EXPECT_EQ(absent->status, 1);
    EXPECT_EQ(absent->out, "");
    EXPECT_EQ(absent->err, "tandrelctl: " + name + " is not running (Cannot connect to service " + name +
                               " at " + runtime.socketPath(name) + ": No such file or directory)\n");

    ASSERT_TRUE(service.start(name));
    // The service goes away while the tool waits.
    service.answers["MouseLocation"] = [this](auto& c, auto&) {
        service.listener.reset();
        c->cancel();
    };
    const std::string see = " (see tandrelctl --help)\n";
    const std::tuple<std::vector<std::string>, int, std::string, std::string> runs[] = {
        {{"--timeout", "0.2", "selected-text"},
         1,
         "",
         "tandrelctl: no answer from " + name + " within 0.2 s\n"},
        {{"mouse"}, 1, "", "tandrelctl: " + name + " went away\n"},
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
        const auto run = tool(arguments);
        EXPECT_EQ(run->status, status);
        EXPECT_EQ(run->out.substr(0, out.size()), out);
        EXPECT_EQ(run->out.empty(), out.empty());
        EXPECT_EQ(run->err, err);
    }
    EXPECT_EQ(service.received.size(), 2u) << "only the first two reached the service";
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
    ASSERT_TRUE(
        xpc::testing::runUntil([&] { return watching.poll() || watching.out.size() >= expected.size(); }));
    EXPECT_EQ(watching.out, expected);
    ::kill(watching.pid, SIGINT);
    watching.wait();
    EXPECT_EQ(watching.status, 0) << watching.err;
    EXPECT_EQ(watching.err, "");
}

}  // namespace
}  // namespace tandrelctl
