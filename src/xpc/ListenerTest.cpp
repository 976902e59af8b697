#include "xpc/Listener.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <fstream>

#include "xpc/FrameCodec.h"
#include "xpc/internal/ChannelTestSupport.h"

namespace xpc {
namespace {

class ListenerTest : public ::testing::Test {
  protected:
    // Publishes `name`; on failure, whether the warning holds `why`.
    bool refused(const std::string& name, const std::string& why) {
        std::string warning;
        if (Listener::create(name, nullptr, [&](const std::string& w) { warning = w; })) return false;
        EXPECT_NE(warning.find(why), std::string::npos) << warning;
        return true;
    }

    testing::RuntimeDirectory runtime;
};

internal::UniqueFd bindRaw(const std::string& path, bool listening) {
    internal::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_un address = testing::unixAddress(path);
    EXPECT_EQ(::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    EXPECT_TRUE(!listening || ::listen(fd.get(), 4) == 0);
    return fd;
}

TEST_F(ListenerTest, StaleSocketsAreReplacedLiveOnesAndOtherFilesLeftAlone) {
    // A socket file whose process ended: replaced, private to the user, removed with the listener.
    bindRaw(runtime.socketPath("stale"), false).reset();
    ASSERT_TRUE(std::filesystem::exists(runtime.socketPath("stale")));
    auto listener = Listener::create("stale");
    ASSERT_TRUE(listener);
    EXPECT_EQ(listener->path(), runtime.socketPath("stale"));
    struct stat info {};
    ASSERT_EQ(::stat(listener->path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    listener.reset();
    EXPECT_FALSE(std::filesystem::exists(runtime.socketPath("stale")));

    auto live = bindRaw(runtime.socketPath("live"), true);
    std::ofstream(runtime.socketPath("file")) << "keep me";
    EXPECT_TRUE(refused("live", "Cannot publish service live at " + runtime.socketPath("live") +
                                    ": a running process is serving it"));
    EXPECT_TRUE(refused("file", "is not a socket"));
    for (const char* kept : {"live", "file"}) EXPECT_TRUE(std::filesystem::exists(runtime.socketPath(kept)));
    EXPECT_TRUE(refused("bad/name", "invalid service name"));
    EXPECT_TRUE(refused(std::string(200, 'n'), "too long"));
}

TEST_F(ListenerTest, TmpFallbackNeedsAPrivateDirectoryOwnedByTheUser) {
    ::unsetenv("XDG_RUNTIME_DIR");
    const std::string name = "xpc-test-" + std::to_string(::getpid());
    const std::string directory = "/tmp/" + name + "-" + std::to_string(::getuid());
    std::filesystem::remove_all(directory);
    {
        testing::ScriptedService service;
        service.echo = true;
        ASSERT_TRUE(service.start(name));
        EXPECT_EQ(service.listener->path(), directory + "/" + name);
        struct stat info {};
        ASSERT_EQ(::lstat(directory.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0700u);
        testing::Client client(name);
        ASSERT_TRUE(client.ask("Hello", 1));
    }
    ASSERT_EQ(::chmod(directory.c_str(), 0755), 0);
    EXPECT_TRUE(refused(name, directory + " has mode 0755; it must be private to its owner (0700)"));
    ASSERT_EQ(::chmod(directory.c_str(), 0700), 0);
    if (::getuid() == 0) {
        ASSERT_EQ(::chown(directory.c_str(), 65534, 65534), 0);
        EXPECT_TRUE(refused(name, directory + " is owned by uid 65534, not by uid 0"));
        // A client does not trust such a directory either.
        testing::Client client(name);
        ASSERT_TRUE(client.waitFor(ErrorCode::ConnectionInvalid));
    }
    std::filesystem::remove_all(directory);
    std::filesystem::create_directory_symlink("/tmp", directory);
    EXPECT_TRUE(refused(name, "is not a directory"));
    std::filesystem::remove(directory);
}

TEST_F(ListenerTest, PeersOfAnotherUserAreRefusedBeforeAnythingIsRead) {
    if (::getuid() != 0) GTEST_SKIP() << "needs root to connect as another user (uid 65534)";
    testing::ScriptedService service;
    ASSERT_TRUE(service.start("guarded"));
    // Let the other user reach the socket: the refusal must come from the credential check alone.
    ASSERT_EQ(::chmod(runtime.path().c_str(), 0711), 0);
    ASSERT_EQ(::chmod(service.listener->path().c_str(), 0666), 0);

    const sockaddr_un address = testing::unixAddress(service.listener->path());
    const auto frame = *FrameCodec::encode(testing::message("StartMonitor"));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Only system calls from here on: the parent has other threads.
        if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0) ::_exit(10);
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) ::_exit(11);
        // The service may already have closed: no SIGPIPE.
        [[maybe_unused]] auto written = ::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL);
        char byte;
        // The service closes without answering: end of stream (or a reset).
        ::_exit(::read(fd, &byte, 1) <= 0 ? 0 : 12);
    }
    const int status = testing::waitForExit(child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(service.accepted.empty());
    EXPECT_EQ(service.warnings, std::vector<std::string>{"Refused a connection to service guarded from pid " +
                                                         std::to_string(child) +
                                                         " running as uid 65534: only uid 0 may connect"});
}

// The child half of the socket-activation test: serves the socket it was handed as fd 3 and ends when its
// client leaves. Runs only when the parent test starts it.
TEST(ListenerActivationChild, ServeThePassedSocket) {
    if (std::getenv("XPC_TEST_ACTIVATION_CHILD") == nullptr)
        GTEST_SKIP() << "runs as the activated child only";
    testing::ScriptedService service;
    service.echo = true;
    ASSERT_TRUE(service.start("ignored-when-activated"));
    EXPECT_EQ(service.listener->path(), "");
    EXPECT_EQ(std::getenv("LISTEN_FDS"), nullptr) << "the variables are not passed on";
    ASSERT_TRUE(testing::runUntil([&] { return !service.received.empty() && service.allEnded(); }));
}

TEST_F(ListenerTest, ASocketPassedByTheServiceManagerIsServed) {
    // Bound here, served by a child that gets it as systemd passes sockets: fd 3, LISTEN_FDS, LISTEN_PID.
    auto bound = bindRaw(runtime.socketPath("activated"), true);
    internal::UniqueFd high(::fcntl(bound.get(), F_DUPFD_CLOEXEC, 100));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, high.get(), 3);
    std::string self = std::filesystem::read_symlink("/proc/self/exe");
    const pid_t child = testing::spawn(
        {"/bin/sh", "-c", "LISTEN_PID=$$ LISTEN_FDS=1 XPC_TEST_ACTIVATION_CHILD=1 exec \"$0\" \"$@\"", self,
         "--gtest_filter=ListenerActivationChild.*"},
        actions);
    ASSERT_GT(child, 0);
    posix_spawn_file_actions_destroy(&actions);
    high.reset();
    bound.reset();

    // Only the child holds the socket now: an answer comes from it.
    testing::Client client("activated");
    ASSERT_TRUE(client.ask("ThroughSystemd", 1));
    client.connection->cancel();
    const int status = testing::waitForExit(child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(std::filesystem::exists(runtime.socketPath("activated")))
        << "the manager's socket was removed";
}

}  // namespace
}  // namespace xpc
