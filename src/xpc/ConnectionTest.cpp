#include "xpc/Connection.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>

#include <filesystem>
#include <limits>

#include "dispatch/SerialQueue.h"
#include "xpc/FrameCodec.h"
#include "xpc/Listener.h"
#include "xpc/internal/ChannelTestSupport.h"

namespace xpc {
namespace {

using testing::Client;
using testing::message;
using testing::runUntil;
using Fd = internal::UniqueFd;

class ConnectionTest : public ::testing::Test {
  protected:
    void SetUp() override { service.echo = true; }

    testing::RuntimeDirectory runtime;
    testing::ScriptedService service;
    const std::string name = "com.tandrel.test";
};

// A message holding every kind of value that travels, at the edges of its encodings.
Object everyKind() {
    Object result = message("Kinds");
    result.set("bytes", Object::data(Object::Bytes(300, 0xff)));
    result.set("long", Object::string(std::string(70000, 'l')));
    result.set("null", Object::null());
    result.set("no", Object::boolean(false));
    result.set("minSigned", Object::int64(std::numeric_limits<std::int64_t>::min()));
    result.set("negative", Object::int64(-1));
    result.set("smallUnsigned", Object::uint64(5));
    result.set("maxUnsigned", Object::uint64(std::numeric_limits<std::uint64_t>::max()));
    result.set("double", Object::real(-2.5e300));
    result.set("array",
               Object::array({Object::string("\xe2\x9c\x93"), Object::string(""), message("nested")}));
    return result;
}

// The client on a serial queue (descriptor sources on worker threads), the service on the main loop: every
// kind of value comes back as sent, and many messages in order, some so large that writes on both sides fill
// the socket and must wait.
TEST_F(ConnectionTest, MessagesRoundTripInOrderBetweenASerialQueueAndTheMainLoop) {
    ASSERT_TRUE(service.start(name));
    auto queue = dispatch::SerialQueue::create("client");
    auto recorder = std::make_shared<testing::Recorder>();  // touched on `queue` only
    auto client = Connection::connectToService(name, queue);
    client->setEventHandler([recorder](const Object& event) { recorder->events.push_back(event); });
    client->resume();
    auto onQueue = [&](const std::function<bool()>& check) {
        bool result = false;
        queue->sync([&] { result = check(); });
        return result;
    };
    client->send(everyKind());
    constexpr int kCount = 2000;
    for (int i = 0; i < kCount; ++i) {
        Object numbered = message("Seq");
        numbered.set("i", Object::int64(i));
        if (i % 100 == 0) numbered.set("data", Object::data(Object::Bytes(1 << 18, std::uint8_t(i))));
        client->send(numbered);
    }
    ASSERT_TRUE(runUntil([&] { return onQueue([&] { return recorder->messages() == kCount + 1; }); }));
    queue->sync([&] {
        EXPECT_EQ(recorder->events[0], everyKind());
        for (int i = 0; i < kCount; ++i)
            EXPECT_EQ(recorder->events[std::size_t(i) + 1].get("i")->asInt64(), i);
        EXPECT_EQ(recorder->events[301].getData("data")->size(), 1u << 18);
    });
    client->cancel();
    ASSERT_TRUE(
        runUntil([&] { return onQueue([&] { return recorder->has(ErrorCode::ConnectionInvalid); }); }));
    ASSERT_TRUE(runUntil([&] { return service.allEnded(); }));
    EXPECT_TRUE(service.warnings.empty());
}

TEST_F(ConnectionTest, BadFramesEndOnlyTheirConnectionAndTerminationReachesEveryOpenOne) {
    ASSERT_TRUE(service.start(name));
    Client good(name);
    ASSERT_TRUE(good.ask("Before", 1));
    // Refused from its header, and cut short by the close; what the decoder refuses inside a frame ends the
    // connection as the first does (the codec test has those errors).
    const std::pair<std::vector<std::uint8_t>, std::string> cases[] = {
        {{0x00, 0x80, 0x00, 0x01, 0x80}, "frame of 8388609 bytes exceeds the limit of 8388608 bytes"},
        {{0x00, 0x00, 0x00, 0x03, 0x93, 0x01}, "ended with a truncated frame: the stream ended after 2 of 3"},
    };
    std::size_t index = 0;
    for (const auto& [bad, warning] : cases) {
        SCOPED_TRACE(warning);
        // A valid message first: it is delivered before the bad frame ends the connection.
        auto bytes = *FrameCodec::encode(message("Valid"));
        bytes.insert(bytes.end(), bad.begin(), bad.end());
        auto raw = testing::rawConnect(runtime.socketPath(name));
        ASSERT_EQ(::write(raw.get(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        raw.reset();
        ++index;
        ASSERT_TRUE(runUntil([&] {
            return service.received.size() > index &&
                   service.received[index]->has(ErrorCode::ConnectionInvalid);
        }));
        ASSERT_EQ(service.received[index]->events.size(), 2u);
        EXPECT_EQ(*service.received[index]->events[0].getString("type"), "Valid");
        EXPECT_EQ(service.countWarnings(warning), 1u);
        EXPECT_GE(service.countWarnings("pid " + std::to_string(::getpid())), index);
    }
    ASSERT_TRUE(good.ask("After", 2));

    // Termination reaches every open connection, which stays usable; a client that leaves ends the service's
    // side exactly once, as its last event.
    Client other(name);
    ASSERT_TRUE(other.ask("Hello", 1));
    service.listener->deliverTerminationImminent();
    ASSERT_TRUE(runUntil([&] {
        return service.received[0]->has(ErrorCode::TerminationImminent) &&
               service.received[3]->has(ErrorCode::TerminationImminent);
    }));
    ASSERT_TRUE(good.ask("StillHere", 3));
    good.connection->cancel();
    ASSERT_TRUE(runUntil([&] {
        return good.recorder->has(ErrorCode::ConnectionInvalid) &&
               service.received[0]->has(ErrorCode::ConnectionInvalid);
    }));
    testing::settle();
    EXPECT_EQ(service.received[0]->events.size(), 5u);
    EXPECT_TRUE(service.received[0]->events.back().isError(ErrorCode::ConnectionInvalid));
    EXPECT_EQ(good.recorder->events.size(), 4u);
}

std::size_t openDescriptors() {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                                  std::filesystem::directory_iterator()));
}

// Reads (and drops) what comes on `fd` within `limit`: whether the service closed its end, and how much came.
std::pair<bool, std::size_t> drain(const Fd& fd, std::chrono::milliseconds limit,
                                   std::size_t enough = SIZE_MAX) {
    bool closed = false;
    std::size_t got = 0;
    std::vector<char> sink(1 << 16);
    runUntil(
        [&] {
            const ssize_t n = ::recv(fd.get(), sink.data(), sink.size(), MSG_DONTWAIT);
            closed = n == 0;
            if (n > 0) got += static_cast<std::size_t>(n);
            return closed || got >= enough;
        },
        limit);
    return {closed, got};
}
bool closedByService(const Fd& fd, std::chrono::milliseconds limit) {
    return drain(fd, limit).first;
}

// What many or careless clients may take: one descriptor per client, a cap on open connections (refusals
// warned once per burst), caps on unfinished frames and on unread answers across connections, and a timeout
// for a stalled frame.
TEST_F(ConnectionTest, ClientsTakeBoundedDescriptorsConnectionsAndBuffers) {
    using std::chrono::milliseconds;
    service.echo = false;
    ASSERT_TRUE(service.start(name, [](Listener& listener) {
        listener.setMaximumConnections(6);
        listener.setMaximumUnfinishedBytes(1000);
        listener.setStallTimeout(milliseconds(300));
        listener.setMaximumPendingOutputBytes(4 << 20);
    }));
    const std::string path = runtime.socketPath(name);
    std::vector<Fd> clients;
    clients.push_back(testing::rawConnect(path));
    ASSERT_TRUE(runUntil([&] { return service.accepted.size() == 1; }));
    const std::size_t before = openDescriptors();
    for (int i = 1; i < 6; ++i) clients.push_back(testing::rawConnect(path));
    ASSERT_TRUE(runUntil([&] { return service.accepted.size() == 6; }));
    EXPECT_EQ(openDescriptors() - before, 10u) << "one for each client's end, one for each accepted end";

    // A burst of peers over the limit: each closed at once, one warning for them all.
    std::vector<Fd> refused;
    for (int i = 0; i < 3; ++i) refused.push_back(testing::rawConnect(path));
    for (const auto& fd : refused) EXPECT_TRUE(closedByService(fd, milliseconds(2000)));
    EXPECT_EQ(service.countWarnings("Refusing new connections"), 1u);
    EXPECT_EQ(service.accepted.size(), 6u);

    // Unfinished frames: 600 bytes of one frame fit, 600 more on another connection do not.
    std::vector<std::uint8_t> part = {0x00, 0x00, 0x08, 0x00, 0x81};
    part.resize(600, 0xa0);
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(::write(clients[i].get(), part.data(), part.size()), 600);
        testing::settle();
    }
    EXPECT_TRUE(closedByService(clients[1], milliseconds(2000)));
    EXPECT_EQ(service.countWarnings("unfinished frames of all connections would take more than 1000 bytes"),
              1u);
    // The first one stalls: dropped after the timeout, not before.
    EXPECT_FALSE(closedByService(clients[0], milliseconds(100)));
    EXPECT_TRUE(closedByService(clients[0], milliseconds(3000)));
    EXPECT_EQ(service.countWarnings("a frame stopped arriving"), 1u);

    // Answers nobody reads: 3 MiB for one client fit, 2 MiB more for another do not; once the first reads
    // its answers, the room is back.
    Object big = message("Big");
    big.set("data", Object::data(Object::Bytes(1 << 20, 0x41)));
    for (int i = 0; i < 3; ++i) service.accepted[2]->send(big);
    testing::settle();
    for (int i = 0; i < 2; ++i) service.accepted[3]->send(big);
    EXPECT_TRUE(closedByService(clients[3], milliseconds(2000)));
    EXPECT_GE(drain(clients[2], milliseconds(30000), 3u << 20).second, 3u << 20);
    for (int i = 0; i < 3; ++i) service.accepted[4]->send(big);
    testing::settle();
    EXPECT_EQ(service.countWarnings("unread messages of all connections would take more than 4194304 bytes"),
              1u)
        << "only the other was cut off";
    EXPECT_FALSE(closedByService(clients[4], milliseconds(100)));

    // Room again: a new peer is taken.
    auto again = testing::rawConnect(path);
    ASSERT_TRUE(runUntil([&] { return service.accepted.size() == 7; }));
    EXPECT_FALSE(closedByService(again, milliseconds(50)));
}

// Out of descriptors, a new peer is closed at once (one warning) instead of waiting in the queue.
TEST_F(ConnectionTest, WithoutDescriptorsNewPeersAreClosedAtOnce) {
    ASSERT_TRUE(service.start(name));
    std::vector<Fd> peers;
    for (int i = 0; i < 3; ++i) peers.emplace_back(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit lowered = saved;
    lowered.rlim_cur = openDescriptors() + 16;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
    std::vector<Fd> filler;
    for (Fd fd; (fd = Fd(::open("/dev/null", O_RDONLY | O_CLOEXEC)));) filler.push_back(std::move(fd));
    for (const auto& peer : peers) ASSERT_TRUE(testing::connectTo(peer, runtime.socketPath(name)));
    for (const auto& peer : peers) EXPECT_TRUE(closedByService(peer, std::chrono::milliseconds(800)));
    filler.clear();
    ::setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(service.countWarnings("out of descriptors"), 1u);
    EXPECT_TRUE(service.accepted.empty());
}

}  // namespace
}  // namespace xpc
