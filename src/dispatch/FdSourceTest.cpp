#include "dispatch/FdSource.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>

#include "dispatch/SerialQueue.h"
#include "dispatch/testing/WaitUntil.h"

namespace dispatch {
namespace {

using namespace std::chrono_literals;

// Writable sources and cancelling from the handler: the channel's tests drive them with a client on a serial
// queue.
TEST(FdSourceTest, LevelTriggeredReadsUntilDrainedAndStopsWhenCancelled) {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
    auto queue = SerialQueue::create("test.fd");
    std::atomic<int> bytes{0};
    std::atomic<bool> onQueue{true};
    auto source = FdSource::create(fds[0], FdSource::Kind::Read, queue, [&] {
        onQueue = onQueue && queue->isCurrent();
        char c;
        // One byte per call: the source must call again while data is left.
        if (::read(fds[0], &c, 1) == 1) bytes++;
    });
    ASSERT_TRUE(source);
    ASSERT_EQ(::write(fds[1], "abc", 3), 3);
    EXPECT_TRUE(testing::waitUntil([&] { return bytes == 3; }));
    EXPECT_TRUE(onQueue);
    source->cancel();
    ASSERT_EQ(::write(fds[1], "d", 1), 1);
    testing::settle(*queue, 20ms);
    EXPECT_EQ(bytes.load(), 3);
    source.reset();
    ::close(fds[0]);
    ::close(fds[1]);
}

}  // namespace
}  // namespace dispatch
