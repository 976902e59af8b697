#include "dispatch/FileWatchSource.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <thread>

#include "dispatch/SerialQueue.h"
#include "dispatch/testing/WaitUntil.h"

namespace dispatch {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

class FileWatchSourceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/filewatch-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    int openFile(const fs::path& path) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        EXPECT_GE(fd, 0);
        return fd;
    }

    fs::path dir_;
};

// Collects delivered events.
struct Events {
    std::atomic<std::uint32_t> seen{0};
    // A source on `fd` that collects here, resumed unless asked not to be.
    std::shared_ptr<FileWatchSource> watch(int fd, std::uint32_t mask,
                                           const std::shared_ptr<SerialQueue>& queue, bool resume = true) {
        auto source = FileWatchSource::create(fd, mask, queue);
        if (source) source->setEventHandler([this](std::uint32_t events) { seen |= events; });
        if (source && resume) source->resume();
        return source;
    }
    std::uint32_t get() const { return seen; }
    bool waitFor(std::uint32_t events) {
        return testing::waitUntil([&] { return (get() & events) == events; });
    }
};

TEST_F(FileWatchSourceTest, UnlinkOfOpenFileReportsDeleteToEverySourceOnIt) {
    const auto path = dir_ / "a.log";
    const int fd = openFile(path);
    const int fd2 = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    auto queue = SerialQueue::create("test.watch");
    const auto all = FileWatchSource::Delete | FileWatchSource::Rename | FileWatchSource::Revoke;
    Events first, second, renameOnly, deleteOnly;
    auto d = deleteOnly.watch(fd2, FileWatchSource::Delete, queue);
    auto a = first.watch(fd, all, queue);
    auto b = second.watch(fd2, all, queue);
    auto c = renameOnly.watch(fd, FileWatchSource::Rename, queue);
    ASSERT_TRUE(a && b && c && d);
    std::atomic<int> cancels{0};
    a->setCancelHandler([&] { cancels++; });

    // Sources on one inode share one inotify watch: cancelling one must leave the others watching.
    c->cancel();
    // One rename only: the event of a second one could still be on its way when `seen` is reset below.
    const auto moved = dir_ / "a.tmp";
    ASSERT_EQ(::rename(path.c_str(), moved.c_str()), 0);
    EXPECT_TRUE(first.waitFor(FileWatchSource::Rename));
    EXPECT_TRUE(second.waitFor(FileWatchSource::Rename));
    queue->sync([] {});
    first.seen = 0;
    // A change of mode is an IN_ATTRIB too, but with links left: no event.
    ASSERT_EQ(fchmod(fd, 0644), 0);
    ASSERT_EQ(::unlink(moved.c_str()), 0);
    EXPECT_TRUE(first.waitFor(FileWatchSource::Delete));
    EXPECT_TRUE(second.waitFor(FileWatchSource::Delete));
    queue->sync([] {});
    EXPECT_EQ(first.get(), FileWatchSource::Delete);
    EXPECT_EQ(renameOnly.get(), 0u);                       // cancelled before anything happened
    EXPECT_EQ(deleteOnly.get(), FileWatchSource::Delete);  // the renames were not asked for

    a->cancel();
    a->cancel();
    queue->sync([] {});
    EXPECT_EQ(cancels.load(), 1);
    EXPECT_TRUE(a->isCancelled());
    d.reset();
    c.reset();
    b.reset();
    a.reset();  // before the descriptors close
    ::close(fd);
    ::close(fd2);
}

TEST_F(FileWatchSourceTest, RenameIsReportedEventsBeforeResumeWaitAndBadDescriptorsGiveNull) {
    const auto path = dir_ / "b.log";
    const int fd = openFile(path);
    auto queue = SerialQueue::create("test.rename");
    Events events;
    auto source = events.watch(fd, FileWatchSource::Delete | FileWatchSource::Rename, queue, false);
    ASSERT_TRUE(source);
    fs::rename(path, dir_ / "b.old");
    testing::settle(*queue, 20ms);
    EXPECT_EQ(events.get(), 0u);  // inactive until resumed
    source->resume();
    EXPECT_TRUE(events.waitFor(FileWatchSource::Rename));

    // A second source on the same file after the first is gone still gets events.
    source->cancel();
    Events later;
    auto again = later.watch(fd, FileWatchSource::Delete | FileWatchSource::Rename, queue);
    ASSERT_TRUE(again);
    fs::rename(dir_ / "b.old", dir_ / "b.older");
    EXPECT_TRUE(later.waitFor(FileWatchSource::Rename));
    fs::remove(dir_ / "b.older");
    EXPECT_TRUE(later.waitFor(FileWatchSource::Delete));
    again->cancel();
    ::close(fd);
    // Bad descriptors give nothing to watch.
    EXPECT_EQ(FileWatchSource::create(-1, FileWatchSource::Delete, queue), nullptr);
    EXPECT_EQ(FileWatchSource::create(9999, FileWatchSource::Delete, queue), nullptr);
}

}  // namespace
}  // namespace dispatch
