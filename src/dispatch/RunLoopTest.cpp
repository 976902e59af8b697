#include "dispatch/RunLoop.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "dispatch/SerialQueue.h"

namespace dispatch {
namespace {

using namespace std::chrono_literals;

TEST(RunLoopTest, DrainsMainQueueOnTheRunningThreadUntilStopped) {
    auto& loop = RunLoop::main();
    auto mainQueue = Queue::main();
    EXPECT_EQ(mainQueue->label(), "com.apple.main-thread");
    EXPECT_EQ(Queue::main(), mainQueue);

    const auto self = std::this_thread::get_id();
    std::vector<int> order;  // main thread only
    bool allOnMain = true;
    bool sawMainQueue = true;
    // Queued before the loop runs: they wait for it.
    for (int i = 0; i < 100; ++i) {
        mainQueue->async([&, i] {
            order.push_back(i);
            allOnMain = allOnMain && std::this_thread::get_id() == self;
            sawMainQueue =
                sawMainQueue && mainQueue->isCurrent() && *Queue::currentLabel() == "com.apple.main-thread";
        });
    }
    // A synchronous call from another thread runs on the main thread, after the items before it.
    std::thread other([&] {
        int seenSize = -1;
        mainQueue->sync([&] {
            seenSize = static_cast<int>(order.size());
            allOnMain = allOnMain && std::this_thread::get_id() == self;
        });
        EXPECT_EQ(seenSize, 100);
        mainQueue->async([&] { loop.stop(); });
    });
    loop.run();
    other.join();
    EXPECT_FALSE(loop.isRunning());
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    EXPECT_TRUE(allOnMain);
    EXPECT_TRUE(sawMainQueue);

    // A stop made while the loop is not running makes the next run return at once.
    loop.stop();
    bool ran = false;
    mainQueue->async([&] { ran = true; });
    loop.run();
    EXPECT_FALSE(ran);
    mainQueue->async([&] { loop.stop(); });
    loop.runFor(10s);
    EXPECT_TRUE(ran);
    const auto start = std::chrono::steady_clock::now();
    loop.runFor(20ms);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 20ms);
}

TEST(RunLoopTest, WatchesDescriptorsOnTheMainThread) {
    auto& loop = RunLoop::main();
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const auto self = std::this_thread::get_id();
    std::string received;
    unsigned readyEvents = 0;
    bool onMain = true;
    std::unique_ptr<RunLoop::Watch> reader;
    reader = loop.watch(fds[0], RunLoop::Readable, [&](unsigned ready) {
        readyEvents |= ready;
        onMain = onMain && std::this_thread::get_id() == self && Queue::main()->isCurrent();
        char buffer[64];
        const auto n = ::read(fds[0], buffer, sizeof buffer);
        if (n > 0) received.append(buffer, static_cast<std::size_t>(n));
        if (n == 0) {
            reader.reset();  // end of file: unregister from inside the callback
            loop.stop();
        }
    });
    ASSERT_TRUE(reader);

    // The write end is always writable: the callback turns its own watch off after the first call.
    int writableCalls = 0;
    std::unique_ptr<RunLoop::Watch> writer;
    writer = loop.watch(fds[1], RunLoop::Writable, [&](unsigned ready) {
        EXPECT_EQ(ready, RunLoop::Writable);
        ++writableCalls;
        writer->setEvents(0);
    });
    ASSERT_TRUE(writer);

    std::thread producer([&] {
        ASSERT_EQ(::write(fds[1], "hello ", 6), 6);
        Queue::main()->async([&] { ASSERT_EQ(::write(fds[1], "world", 5), 5); });
    });
    producer.join();
    Queue::main()->asyncAfter(30ms, [&] {
        writer.reset();
        ::close(fds[1]);
    });
    loop.run();
    EXPECT_EQ(received, "hello world");
    EXPECT_EQ(writableCalls, 1);
    EXPECT_TRUE(readyEvents & RunLoop::Readable);
    EXPECT_TRUE(onMain);
    EXPECT_FALSE(reader);
    ::close(fds[0]);
}

}  // namespace
}  // namespace dispatch
