#include "dispatch/FileWatchSource.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>

#include "dispatch/SerialQueue.h"
#include "dispatch/testing/WaitUntil.h"

namespace dispatch {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Collects the events a source on `fd` delivers; resumed unless asked not to be.
struct Events {
    std::atomic<std::uint32_t> seen{0};
    std::shared_ptr<SerialQueue> queue;
    std::shared_ptr<FileWatchSource> source;

    Events(int fd, std::uint32_t mask, std::shared_ptr<SerialQueue> target, bool resume = true)
        : queue(std::move(target)), source(FileWatchSource::create(fd, mask, queue)) {
        EXPECT_TRUE(source);
        source->setEventHandler([this](std::uint32_t events) { seen |= events; });
        if (resume) source->resume();
    }
    // The handler must be done with `this` first.
    ~Events() {
        source->cancel();
        queue->sync([] {});
    }
    bool waitFor(std::uint32_t events) {
        return testing::waitUntil([&] { return (seen & events) == events; });
    }
};

// The file logger's own tests delete and move its real files; here: several sources on one file.
TEST(FileWatchSourceTest, SourcesOnOneFileGetWhatTheyAskForWhileActive) {
    char pattern[] = "/tmp/filewatch-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const fs::path dir = pattern, path = dir / "a.log", moved = dir / "a.old";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    auto queue = SerialQueue::create("test.watch");
    const auto all = FileWatchSource::Delete | FileWatchSource::Rename | FileWatchSource::Revoke;
    {
        Events renames(fd, all, queue), deletes(fd, FileWatchSource::Delete, queue),
            cancelled(fd, all, queue), inactive(fd, all, queue, false);
        // Sources on one inode share one inotify watch: cancelling one must leave the others watching.
        cancelled.source->cancel();
        cancelled.source->cancel();
        ASSERT_EQ(::rename(path.c_str(), moved.c_str()), 0);
        EXPECT_TRUE(renames.waitFor(FileWatchSource::Rename));
        testing::settle(*queue, 20ms);
        EXPECT_EQ(deletes.seen, 0u);  // not asked for
        EXPECT_EQ(cancelled.seen, 0u);
        EXPECT_EQ(inactive.seen, 0u);  // until resumed
        inactive.source->resume();
        EXPECT_TRUE(inactive.waitFor(FileWatchSource::Rename));
    }
    // The last source on the file gone, a new one watches it afresh. A change of mode is an IN_ATTRIB too,
    // but with links left: no event.
    Events later(fd, all, queue);
    ASSERT_EQ(fchmod(fd, 0644), 0);
    ASSERT_EQ(::unlink(moved.c_str()), 0);
    EXPECT_TRUE(later.waitFor(FileWatchSource::Delete));
    queue->sync([] {});
    EXPECT_EQ(later.seen, FileWatchSource::Delete);
    later.source->cancel();
    ::close(fd);
    fs::remove_all(dir);
    EXPECT_EQ(FileWatchSource::create(-1, FileWatchSource::Delete, queue), nullptr);
    EXPECT_EQ(FileWatchSource::create(9999, FileWatchSource::Delete, queue), nullptr);
}

}  // namespace
}  // namespace dispatch
