#include "dispatch/FdSource.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <thread>

#include "dispatch/SerialQueue.h"
#include "dispatch/testing/WaitUntil.h"

namespace dispatch {
namespace {

using namespace std::chrono_literals;

class FdSourceTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0); }
    void TearDown() override {
        ::close(fds[0]);
        ::close(fds[1]);
    }

    int fds[2] = {-1, -1};
    std::shared_ptr<SerialQueue> queue = SerialQueue::create("test.fd");
};

TEST_F(FdSourceTest, LevelTriggeredReadsUntilDrainedAndStopsWhenCancelled) {
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
}

TEST_F(FdSourceTest, WritableAndUnwatchableDescriptors) {
    std::atomic<int> calls{0};
    std::unique_ptr<FdSource> source;
    std::promise<void> publish;
    auto published = publish.get_future().share();
    source = FdSource::create(fds[1], FdSource::Kind::Write, queue, [&, published] {
        published.wait();  // the pipe is writable at once: wait until `source` is assigned
        // Cancelling from the handler keeps it from being called again.
        if (calls++ == 0) source->cancel();
    });
    publish.set_value();
    ASSERT_TRUE(source);
    ASSERT_TRUE(testing::waitUntil([&] { return calls > 0; }));
    testing::settle(*queue, 10ms);
    EXPECT_EQ(calls.load(), 1);
    source.reset();

    // Regular files cannot be polled.
    char path[] = "/tmp/fdsource-XXXXXX";
    const int file = mkstemp(path);
    ASSERT_GE(file, 0);
    ::unlink(path);
    EXPECT_EQ(FdSource::create(file, FdSource::Kind::Read, queue, [] {}), nullptr);
    EXPECT_EQ(FdSource::create(-1, FdSource::Kind::Read, queue, [] {}), nullptr);
    ::close(file);
}

}  // namespace
}  // namespace dispatch
