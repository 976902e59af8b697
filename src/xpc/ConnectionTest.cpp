#include "xpc/Connection.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>

#include <algorithm>
#include <filesystem>
#include <limits>

#include "xpc/FrameCodec.h"
#include "xpc/Listener.h"
#include "xpc/internal/ChannelTestSupport.h"

namespace xpc {
namespace {

using testing::connectRecording;
using testing::message;
using testing::Recorder;
using testing::runUntil;

// A service that records what each client sends and, when asked to, echoes it back.
struct EchoService {
    std::shared_ptr<Listener> listener;
    std::vector<std::shared_ptr<Connection>> accepted;
    std::vector<std::shared_ptr<Recorder>> received;
    std::vector<std::string> warnings;
    bool echo = true;

    std::shared_ptr<dispatch::SerialQueue> queue_;

    bool start(const std::string& name, std::shared_ptr<dispatch::SerialQueue> queue = nullptr,
               const std::function<void(Listener&)>& configure = {}) {
        queue_ = queue;
        listener = Listener::create(name, queue,
                                    [this](const std::string& warning) { warnings.push_back(warning); });
        if (!listener) return false;
        if (configure) configure(*listener);
        listener->setConnectionHandler([this, queue](std::shared_ptr<Connection> connection) {
            auto recorder = std::make_shared<Recorder>();
            if (queue) connection->setTargetQueue(queue);
            // Holding the connection strongly is fine: the handler is released after ConnectionInvalid.
            connection->setEventHandler([this, recorder, connection](const Object& event) {
                recorder->events.push_back(event);
                if (echo && event.isDictionary()) connection->send(event);
            });
            connection->resume();
            accepted.push_back(connection);
            received.push_back(recorder);
        });
        listener->resume();
        return true;
    }
    // Ends what is still open before the handlers' `this` goes away (a failed assertion leaves clients
    // behind).
    ~EchoService() {
        for (const auto& connection : accepted) connection->cancel();
        if (queue_ == nullptr) {
            runUntil([&] {
                for (const auto& recorder : received) {
                    if (!recorder->has(ErrorCode::ConnectionInvalid)) return false;
                }
                return true;
            });
        }
    }
    bool warned(const std::string& text) const { return countWarnings(text) > 0; }
    std::size_t countWarnings(const std::string& text) const {
        return static_cast<std::size_t>(std::count_if(warnings.begin(), warnings.end(), [&](const auto& w) {
            return w.find(text) != std::string::npos;
        }));
    }
};

class ConnectionTest : public ::testing::Test {
  protected:
    testing::RuntimeDirectory runtime;
    EchoService service;
    const std::string name = "com.tandrel.test";
};

Object everyKind() {
    Object message = testing::message("Kinds");
    message.set("data", Object::data(std::string_view("{\"type\":\"Kinds\"}")));
    message.set("int", Object::int64(-42));
    message.set("small", Object::int64(7));
    message.set("unsigned", Object::uint64(std::numeric_limits<std::uint64_t>::max()));
    message.set("bool", Object::boolean(true));
    message.set("double", Object::real(3.25));
    message.set("null", Object::null());
    message.set("list", Object::array({Object::string("a"), Object::uint64(1)}));
    Object nested = Object::dictionary();
    nested.set("text", Object::string("\xe2\x9c\x93 unicode"));
    message.set("nested", nested);
    return message;
}

TEST_F(ConnectionTest, EveryKindRoundTripsThroughARealSocket) {
    ASSERT_TRUE(service.start(name));
    auto recorder = std::make_shared<Recorder>();
    auto client = connectRecording(name, recorder);
    client->send(everyKind());
    ASSERT_TRUE(runUntil([&] { return recorder->messages() == 1; }));
    EXPECT_EQ(recorder->events[0], everyKind());
    EXPECT_EQ(client->peerPid(), ::getpid());
    EXPECT_EQ(client->peerUid(), ::getuid());
    ASSERT_EQ(service.accepted.size(), 1u);
    EXPECT_EQ(service.accepted[0]->peerPid(), ::getpid());
    client->cancel();
    ASSERT_TRUE(runUntil([&] { return recorder->has(ErrorCode::ConnectionInvalid); }));
}

TEST_F(ConnectionTest, ManyMessagesArriveInOrderIncludingLargeOnes) {
    ASSERT_TRUE(service.start(name));
    auto recorder = std::make_shared<Recorder>();
    auto client = connectRecording(name, recorder);
    constexpr int kCount = 3000;
    for (int i = 0; i < kCount; ++i) {
        Object numbered = message("Seq");
        numbered.set("i", Object::int64(i));
        // Every hundredth message is large, so that writes fill the socket and must wait for room.
        if (i % 100 == 0)
            numbered.set("data", Object::data(Object::Bytes(1 << 18, static_cast<std::uint8_t>(i))));
        client->send(numbered);
    }
    ASSERT_TRUE(runUntil([&] { return recorder->messages() == kCount; }));
    for (int i = 0; i < kCount; ++i) {
        ASSERT_EQ(recorder->events[static_cast<std::size_t>(i)].get("i")->asInt64(), i);
    }
    EXPECT_EQ(recorder->events[300].getData("data")->size(), 1u << 18);
    EXPECT_TRUE(service.warnings.empty());
    client->cancel();
    ASSERT_TRUE(runUntil([&] { return recorder->has(ErrorCode::ConnectionInvalid); }));
}

TEST_F(ConnectionTest, TwoClientsAreAddressedSeparately) {
    service.echo = false;
    ASSERT_TRUE(service.start(name));
    auto first = std::make_shared<Recorder>();
    auto second = std::make_shared<Recorder>();
    auto firstClient = connectRecording(name, first);
    firstClient->send(message("One"));
    ASSERT_TRUE(
        runUntil([&] { return service.received.size() == 1 && service.received[0]->messages() == 1; }));
    auto secondClient = connectRecording(name, second);
    secondClient->send(message("Two"));
    ASSERT_TRUE(
        runUntil([&] { return service.received.size() == 2 && service.received[1]->messages() == 1; }));
    EXPECT_EQ(*service.received[0]->events[0].getString("type"), "One");
    EXPECT_EQ(*service.received[1]->events[0].getString("type"), "Two");

    service.accepted[1]->send(message("ForTheSecond"));
    service.accepted[0]->send(message("ForTheFirst"));
    ASSERT_TRUE(runUntil([&] { return first->messages() == 1 && second->messages() == 1; }));
    EXPECT_EQ(*first->events[0].getString("type"), "ForTheFirst");
    EXPECT_EQ(*second->events[0].getString("type"), "ForTheSecond");
    firstClient->cancel();
    secondClient->cancel();
    ASSERT_TRUE(runUntil([&] {
        return service.received[0]->has(ErrorCode::ConnectionInvalid) &&
               service.received[1]->has(ErrorCode::ConnectionInvalid);
    }));
}

TEST_F(ConnectionTest, PeerLossAndServiceLossAreReported) {
    ASSERT_TRUE(service.start(name));
    // The client goes away: the service's connection becomes invalid, exactly once, as its last event.
    auto leaving = std::make_shared<Recorder>();
    auto leavingClient = connectRecording(name, leaving);
    leavingClient->send(message("Hello"));
    ASSERT_TRUE(runUntil([&] { return leaving->messages() == 1; }));
    leavingClient->cancel();
    ASSERT_TRUE(runUntil([&] { return service.received[0]->has(ErrorCode::ConnectionInvalid); }));
    testing::settle();
    EXPECT_TRUE(service.received[0]->events.back().isError(ErrorCode::ConnectionInvalid));
    EXPECT_EQ(service.received[0]->events.size(), 2u);
    ASSERT_EQ(leaving->events.size(), 2u);
    EXPECT_TRUE(leaving->events.back().isError(ErrorCode::ConnectionInvalid));

    // The service goes away: the client is interrupted, sends are dropped, and cancel ends it.
    auto staying = std::make_shared<Recorder>();
    auto stayingClient = connectRecording(name, staying);
    stayingClient->send(message("Hello"));
    ASSERT_TRUE(runUntil([&] { return staying->messages() == 1; }));
    service.listener.reset();
    service.accepted[1]->cancel();
    ASSERT_TRUE(runUntil([&] { return staying->has(ErrorCode::ConnectionInterrupted); }));
    stayingClient->send(message("Lost"));
    stayingClient->cancel();
    ASSERT_TRUE(runUntil([&] { return staying->has(ErrorCode::ConnectionInvalid); }));
    EXPECT_EQ(staying->events.size(), 3u);
    EXPECT_FALSE(std::filesystem::exists(runtime.socketPath(name))) << "the listener removes its socket";
}

TEST_F(ConnectionTest, ConnectingToAMissingServiceIsInvalid) {
    std::vector<std::string> warnings;
    auto recorder = std::make_shared<Recorder>();
    auto client =
        connectRecording(name, recorder, nullptr, [&](const std::string& w) { warnings.push_back(w); });
    client->send(message("Nobody"));
    ASSERT_TRUE(runUntil([&] { return recorder->has(ErrorCode::ConnectionInvalid); }));
    EXPECT_EQ(recorder->events.size(), 1u);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("Cannot connect to service com.tandrel.test at " + runtime.socketPath(name)),
              std::string::npos)
        << warnings[0];
    EXPECT_NE(warnings[0].find("No such file or directory"), std::string::npos);
}

TEST_F(ConnectionTest, BadFramesEndOnlyTheirConnection) {
    ASSERT_TRUE(service.start(name));
    auto good = std::make_shared<Recorder>();
    auto goodClient = connectRecording(name, good);
    goodClient->send(message("Before"));
    ASSERT_TRUE(runUntil([&] { return good->messages() == 1; }));

    struct Case {
        std::vector<std::uint8_t> bytes;
        bool closeAfterwards;
        std::string warning;
    };
    const std::vector<Case> cases = {
        {{0x00, 0x80, 0x00, 0x01, 0x80}, false, "frame of 8388609 bytes exceeds the limit of 8388608 bytes"},
        {{0x00, 0x00, 0x00, 0x03, 0x93, 0x01},
         true,
         "ended with a truncated frame: the stream ended after 2 of 3"},
        {{0x00, 0x00, 0x00, 0x02, 0xa1, 'x'}, false, "the frame is not a MessagePack map"},
        {{0x00, 0x00, 0x00, 0x01, 0xc1}, false, "malformed MessagePack"},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].warning);
        auto raw = testing::rawConnect(runtime.socketPath(name));
        ASSERT_TRUE(raw);
        // A valid message first: it is delivered before the bad frame ends the connection.
        auto valid = *FrameCodec::encode(message("Valid"));
        ASSERT_EQ(::write(raw.get(), valid.data(), valid.size()), static_cast<ssize_t>(valid.size()));
        ASSERT_EQ(::write(raw.get(), cases[i].bytes.data(), cases[i].bytes.size()),
                  static_cast<ssize_t>(cases[i].bytes.size()));
        if (cases[i].closeAfterwards) raw.reset();
        const std::size_t index = i + 1;
        ASSERT_TRUE(runUntil([&] {
            return service.received.size() > index &&
                   service.received[index]->has(ErrorCode::ConnectionInvalid);
        }));
        ASSERT_EQ(service.received[index]->events.size(), 2u);
        EXPECT_EQ(*service.received[index]->events[0].getString("type"), "Valid");
        EXPECT_TRUE(service.warned(cases[i].warning));
        EXPECT_TRUE(service.warned("pid " + std::to_string(::getpid())));
        if (raw) {
            char byte;
            // The service closed its end: the echo of "Valid" may come first, then the end of the stream.
            while (::read(raw.get(), &byte, 1) > 0) {
            }
        }
    }
    goodClient->send(message("After"));
    ASSERT_TRUE(runUntil([&] { return good->messages() == 2; }));
    EXPECT_FALSE(service.received[0]->has(ErrorCode::ConnectionInvalid));
    goodClient->cancel();
    ASSERT_TRUE(runUntil([&] { return good->has(ErrorCode::ConnectionInvalid); }));
}

TEST_F(ConnectionTest, TerminationImminentReachesEveryOpenConnection) {
    service.echo = false;
    ASSERT_TRUE(service.start(name));
    auto a = std::make_shared<Recorder>();
    auto b = std::make_shared<Recorder>();
    auto clientA = connectRecording(name, a);
    auto clientB = connectRecording(name, b);
    clientA->send(message("A"));
    clientB->send(message("B"));
    ASSERT_TRUE(runUntil([&] { return service.received.size() == 2; }));
    service.listener->deliverTerminationImminent();
    ASSERT_TRUE(runUntil([&] {
        return service.received[0]->has(ErrorCode::TerminationImminent) &&
               service.received[1]->has(ErrorCode::TerminationImminent);
    }));
    // The connections stay usable until the service really ends.
    service.accepted[0]->send(message("StillHere"));
    ASSERT_TRUE(runUntil([&] { return a->messages() == 1; }));
    clientA->cancel();
    clientB->cancel();
    ASSERT_TRUE(runUntil(
        [&] { return a->has(ErrorCode::ConnectionInvalid) && b->has(ErrorCode::ConnectionInvalid); }));
}

std::size_t openDescriptors() {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                                  std::filesystem::directory_iterator()));
}

void writeAll(const internal::UniqueFd& fd, const std::vector<std::uint8_t>& bytes) {
    ASSERT_EQ(::write(fd.get(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

// Whether the service closed its end: the client reads (and drops) what came until the end of the stream.
bool closedByService(const internal::UniqueFd& fd, std::chrono::milliseconds limit) {
    bool closed = false;
    std::vector<char> sink(1 << 16);
    runUntil(
        [&] {
            closed = ::recv(fd.get(), sink.data(), sink.size(), MSG_DONTWAIT) == 0;
            return closed;
        },
        limit);
    return closed;
}

// What many or careless clients may take: one descriptor per client, a cap on open connections (refusals
// warned once per burst), caps on unfinished frames and on unread answers across connections, and a timeout
// for a stalled frame.
TEST_F(ConnectionTest, ClientsTakeBoundedDescriptorsConnectionsAndBuffers) {
    service.echo = false;
    ASSERT_TRUE(service.start(name, nullptr, [](Listener& listener) {
        listener.setMaximumConnections(6);
        listener.setMaximumUnfinishedBytes(1000);
        listener.setStallTimeout(std::chrono::milliseconds(300));
        listener.setMaximumPendingOutputBytes(4 << 20);
    }));
    const std::string path = runtime.socketPath(name);
    std::vector<internal::UniqueFd> clients;
    clients.push_back(testing::rawConnect(path));
    ASSERT_TRUE(runUntil([&] { return service.accepted.size() == 1; }));
    const std::size_t before = openDescriptors();
    for (int i = 1; i < 6; ++i) clients.push_back(testing::rawConnect(path));
    ASSERT_TRUE(runUntil([&] { return service.accepted.size() == 6; }));
    EXPECT_EQ(openDescriptors() - before, 10u) << "one for each client's end, one for each accepted end";

    // A burst of peers over the limit: each closed at once, one warning for them all.
    std::vector<internal::UniqueFd> refused;
    for (int i = 0; i < 3; ++i) refused.push_back(testing::rawConnect(path));
    for (const auto& fd : refused) EXPECT_TRUE(closedByService(fd, std::chrono::milliseconds(2000)));
    EXPECT_EQ(service.countWarnings("Refusing new connections"), 1u);
    EXPECT_EQ(service.accepted.size(), 6u);

    // Unfinished frames: 600 bytes of one frame fit, 600 more on another connection do not.
    std::vector<std::uint8_t> part = {0x00, 0x00, 0x08, 0x00, 0x81};
    part.resize(600, 0xa0);
    writeAll(clients[0], part);
    testing::settle();
    writeAll(clients[1], part);
    EXPECT_TRUE(closedByService(clients[1], std::chrono::milliseconds(2000)));
    EXPECT_TRUE(service.warned("unfinished frames of all connections would take more than 1000 bytes"));
    // The first one stalls: dropped after the timeout, not before.
    EXPECT_FALSE(closedByService(clients[0], std::chrono::milliseconds(100)));
    EXPECT_TRUE(closedByService(clients[0], std::chrono::milliseconds(3000)));
    EXPECT_TRUE(service.warned("a frame stopped arriving"));

    // Answers nobody reads: 3 MiB for one client fit, 2 MiB more for another do not; once the first reads
    // its answers, the room is back.
    Object big = message("Big");
    big.set("data", Object::data(Object::Bytes(1 << 20, 0x41)));
    for (int i = 0; i < 3; ++i) service.accepted[2]->send(big);
    testing::settle();
    for (int i = 0; i < 2; ++i) service.accepted[3]->send(big);
    EXPECT_TRUE(closedByService(clients[3], std::chrono::milliseconds(2000)));
    EXPECT_TRUE(service.warned("unread messages of all connections would take more than 4194304 bytes"));
    std::vector<std::uint8_t> sink(1 << 16);
    std::size_t drained = 0;
    runUntil([&] {
        const ssize_t got = ::recv(clients[2].get(), sink.data(), sink.size(), MSG_DONTWAIT);
        if (got > 0) drained += static_cast<std::size_t>(got);
        return drained >= 3 * (1u << 20);
    });
    EXPECT_GE(drained, 3u * (1u << 20));
    // A client that reads but lags behind: what it took leaves the buffer, so 2 MiB more fit.
    for (int i = 0; i < 3; ++i) service.accepted[4]->send(big);
    drained = 0;
    runUntil([&] {
        const ssize_t got = ::recv(clients[4].get(), sink.data(), sink.size(), MSG_DONTWAIT);
        if (got > 0) drained += static_cast<std::size_t>(got);
        return drained >= 2 * (1u << 20);
    });
    testing::settle();
    for (int i = 0; i < 2; ++i) service.accepted[4]->send(big);
    testing::settle();
    EXPECT_EQ(service.countWarnings("unread messages of all connections"), 1u)
        << "only the other was cut off";
    EXPECT_FALSE(closedByService(clients[4], std::chrono::milliseconds(100)));

    // Room again: a new peer is taken, and a later burst is warned about once more.
    auto again = testing::rawConnect(path);
    ASSERT_TRUE(runUntil([&] { return service.accepted.size() == 7; }));
    EXPECT_FALSE(closedByService(again, std::chrono::milliseconds(50)));
}

// Out of descriptors, a new peer is closed at once (one warning) instead of waiting in the queue.
TEST_F(ConnectionTest, WithoutDescriptorsNewPeersAreClosedAtOnce) {
    ASSERT_TRUE(service.start(name));
    const std::string path = runtime.socketPath(name);
    std::vector<internal::UniqueFd> peers;
    for (int i = 0; i < 3; ++i) peers.emplace_back(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit lowered = saved;
    lowered.rlim_cur = openDescriptors() + 16;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
    std::vector<internal::UniqueFd> filler;
    while (true) {
        internal::UniqueFd fd(::open("/dev/null", O_RDONLY | O_CLOEXEC));
        if (!fd) break;
        filler.push_back(std::move(fd));
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    for (const auto& peer : peers) {
        ASSERT_EQ(::connect(peer.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    }
    for (const auto& peer : peers) EXPECT_TRUE(closedByService(peer, std::chrono::milliseconds(800)));
    filler.clear();
    ::setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(service.countWarnings("out of descriptors"), 1u);
    EXPECT_TRUE(service.accepted.empty());
}

TEST_F(ConnectionTest, UnsendableMessagesAreDroppedWithAWarning) {
    ASSERT_TRUE(service.start(name));
    std::vector<std::string> warnings;
    auto recorder = std::make_shared<Recorder>();
    auto client =
        connectRecording(name, recorder, nullptr, [&](const std::string& w) { warnings.push_back(w); });
    client->send(Object::string("not a dictionary"));
    client->send(message("Fine"));
    ASSERT_TRUE(runUntil([&] { return recorder->messages() == 1; }));
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("Dropped a message that cannot be sent: only a dictionary"),
              std::string::npos);
    client->cancel();
    ASSERT_TRUE(runUntil([&] { return recorder->has(ErrorCode::ConnectionInvalid); }));
}

}  // namespace
}  // namespace xpc

namespace xpc {
namespace {

// Off the main queue the connection is driven by descriptor sources on worker threads.
TEST(ConnectionOnSerialQueuesTest, OrderAndLossOnSerialQueues) {
    testing::RuntimeDirectory runtime;
    auto serviceQueue = dispatch::SerialQueue::create("service");
    auto clientQueue = dispatch::SerialQueue::create("client");
    EchoService service;
    ASSERT_TRUE(service.start("serial", serviceQueue));
    auto recorder = std::make_shared<Recorder>();  // touched on clientQueue only
    auto client = connectRecording("serial", recorder, clientQueue);
    constexpr int kCount = 2000;
    for (int i = 0; i < kCount; ++i) {
        Object numbered = message("Seq");
        numbered.set("i", Object::int64(i));
        if (i % 200 == 0) numbered.set("data", Object::data(Object::Bytes(1 << 18, 1)));
        client->send(numbered);
    }
    auto onClientQueue = [&](const std::function<bool()>& check) {
        bool result = false;
        clientQueue->sync([&] { result = check(); });
        return result;
    };
    ASSERT_TRUE(runUntil([&] { return onClientQueue([&] { return recorder->messages() == kCount; }); }));
    onClientQueue([&] {
        for (int i = 0; i < kCount; ++i) {
            EXPECT_EQ(recorder->events[static_cast<std::size_t>(i)].get("i")->asInt64(), i);
        }
        return true;
    });
    client->cancel();
    ASSERT_TRUE(runUntil([&] {
        bool done = false;
        serviceQueue->sync([&] {
            done = !service.received.empty() && service.received[0]->has(ErrorCode::ConnectionInvalid);
        });
        return done;
    }));
    ASSERT_TRUE(
        runUntil([&] { return onClientQueue([&] { return recorder->has(ErrorCode::ConnectionInvalid); }); }));
    serviceQueue->sync([&] { service.listener.reset(); });
}

}  // namespace
}  // namespace xpc
