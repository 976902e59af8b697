#include "platform/wayland/internal/HyprlandCursor.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <thread>
#include <tuple>
#include <vector>

#include "dispatch/internal/UniqueFd.h"

namespace wayland::internal {
namespace {

using namespace std::chrono_literals;
using dispatch::internal::UniqueFd;

// Stands in for Hyprland's request socket, <runtime dir>/hypr/test/.socket.sock in a directory of its own:
// answers each request it knows and closes the connection, answers others "unknown request"; a request whose
// answer is empty is held open, unanswered, until the stand-in ends.
class FakeHyprland {
  public:
    explicit FakeHyprland(std::map<std::string, std::string> answers) : answers_(std::move(answers)) {
        char base[] = "/tmp/hyprland-test-XXXXXX";
        runtimeDir_ = mkdtemp(base);
        std::filesystem::create_directories(runtimeDir_ + "/hypr/test");
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s/hypr/test/.socket.sock", base);
        listener_.reset(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        EXPECT_EQ(bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(listen(listener_.get(), 8), 0);
        thread_ = std::thread([this] { serve(); });
    }
    ~FakeHyprland() {
        shutdown(listener_.get(), SHUT_RDWR);  // ends the accept below
        thread_.join();
        std::filesystem::remove_all(runtimeDir_);
    }
    const std::string& runtimeDir() const { return runtimeDir_; }

  private:
    void serve() {
        std::vector<UniqueFd> held;
        for (;;) {
            UniqueFd client(accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
            if (client.get() < 0) return;  // shut down
            char request[256];
            const ssize_t length = std::max<ssize_t>(read(client.get(), request, sizeof request), 0);
            const auto found = answers_.find(std::string(request, static_cast<std::size_t>(length)));
            const std::string answer = found == answers_.end() ? "unknown request" : found->second;
            if (answer.empty())
                held.push_back(std::move(client));
            else
                EXPECT_EQ(write(client.get(), answer.data(), answer.size()),
                          static_cast<ssize_t>(answer.size()));
        }
    }

    const std::map<std::string, std::string> answers_;
    std::string runtimeDir_;
    UniqueFd listener_;
    std::thread thread_;
};

TEST(HyprlandCursorTest, LocatesThePointerFlipsAgainstTheOriginOutputAndFailsClearlyInTime) {
    const char* oldRuntimeDir = std::getenv("XDG_RUNTIME_DIR");
    const std::optional<std::string> restore =
        oldRuntimeDir ? std::optional<std::string>(oldRuntimeDir) : std::nullopt;
    setenv("HYPRLAND_INSTANCE_SIGNATURE", "test", 1);
    const std::string oneOutput = R"([{"x": 0, "y": 0, "width": 1280, "height": 800, "scale": 1}])";
    struct Case {
        const char* name;
        std::string cursor, outputs;
        std::optional<PointerProbe::Position> expected;
        std::string why;  // the start of the failure's reason
    };
    const Case cases[] = {
        {"one output", R"({"x": 300, "y": 200})", oneOutput, PointerProbe::Position{300, 200, 800}, ""},
        {"the origin's output listed second, scaled and turned; the pointer left of it",
         R"({"x": -100.5, "y": 40})",
         R"([{"x": -1280, "y": 0, "width": 1280, "height": 1024, "scale": 1},
             {"x": 0, "y": 0, "width": 1600, "height": 2560, "scale": 2, "transform": 1}])",
         PointerProbe::Position{-100.5, 40, 800}, ""},
        {"no JSON", "ok", oneOutput, std::nullopt, "Hyprland answered \"ok\" to j/cursorpos"},
        {"an output without its size", R"({"x": 1, "y": 2})", R"([{"x": 0, "y": 0}])", std::nullopt,
         "Hyprland answered \"[{\"x\": 0, \"y\": 0}]\" to j/monitors"},
        {"no answer", "", oneOutput, std::nullopt, "Hyprland's socket, j/cursorpos: no answer in time"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeHyprland hyprland({{"j/cursorpos", c.cursor}, {"j/monitors", c.outputs}});
        setenv("XDG_RUNTIME_DIR", hyprland.runtimeDir().c_str(), 1);
        std::string why;
        const auto cursor = HyprlandCursor::create(&why);
        ASSERT_TRUE(cursor) << why;
        const auto start = std::chrono::steady_clock::now();
        const auto found = cursor->locate(250ms, &why);
        // Bounded, not fast: a hang would last Hyprland's own 5 s time-out or more.
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
        ASSERT_EQ(found.has_value(), c.expected.has_value()) << why;
        if (found)
            EXPECT_EQ(std::tuple(found->x, found->y, found->primaryHeight),
                      std::tuple(c.expected->x, c.expected->y, c.expected->primaryHeight));
        else
            EXPECT_EQ(why, c.why);
    }

    setenv("XDG_RUNTIME_DIR", "/nonexistent", 1);
    setenv("HYPRLAND_INSTANCE_SIGNATURE", "gone", 1);
    std::string why;
    EXPECT_FALSE(HyprlandCursor::create(&why));
    EXPECT_EQ(why,
              "no Hyprland socket at /nonexistent/hypr/gone/.socket.sock nor /tmp/hypr/gone/.socket.sock");
    unsetenv("HYPRLAND_INSTANCE_SIGNATURE");
    restore ? setenv("XDG_RUNTIME_DIR", restore->c_str(), 1) : unsetenv("XDG_RUNTIME_DIR");
}

}  // namespace
}  // namespace wayland::internal
