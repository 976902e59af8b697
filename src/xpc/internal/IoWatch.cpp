#include "xpc/internal/IoWatch.h"

#include "dispatch/FdSource.h"
#include "dispatch/RunLoop.h"

namespace xpc::internal {
namespace {

class RunLoopWatch : public IoWatch {
  public:
    RunLoopWatch(int fd, std::function<void()> onReadable, std::function<void()> onWritable) {
        auto callbacks = std::make_shared<Callbacks>(Callbacks{std::move(onReadable), std::move(onWritable)});
        watch_ = dispatch::RunLoop::main().watchAlone(fd, dispatch::RunLoop::Readable,
                                                      [callbacks](unsigned ready) {
                                                          // Output first: a readable hang-up may end the
                                                          // connection, and pending output is then moot
                                                          // anyway.
                                                          if (ready & dispatch::RunLoop::Writable)
                                                              callbacks->onWritable();
                                                          if (ready & dispatch::RunLoop::Readable)
                                                              callbacks->onReadable();
                                                      });
    }
    bool valid() const { return watch_ != nullptr; }
    void setWantWrite(bool want) override {
        if (want == wantWrite_) return;
        wantWrite_ = want;
        watch_->setEvents(dispatch::RunLoop::Readable | (want ? dispatch::RunLoop::Writable : 0u));
    }
    void stop() override { watch_->setEvents(0); }

  private:
    struct Callbacks {
        std::function<void()> onReadable;
        std::function<void()> onWritable;
    };
    std::unique_ptr<dispatch::RunLoop::Watch> watch_;
    bool wantWrite_ = false;
};

class SourceWatch : public IoWatch {
  public:
    SourceWatch(int fd, std::shared_ptr<dispatch::SerialQueue> queue, std::function<void()> onReadable,
                std::function<void()> onWritable)
        : fd_(fd), queue_(std::move(queue)), onWritable_(std::move(onWritable)) {
        read_ = dispatch::FdSource::create(fd, dispatch::FdSource::Kind::Read, queue_, std::move(onReadable));
    }
    bool valid() const { return read_ != nullptr; }
    void setWantWrite(bool want) override {
        if (want == (write_ != nullptr)) return;
        if (want) {
            write_ = dispatch::FdSource::create(fd_, dispatch::FdSource::Kind::Write, queue_, onWritable_);
        } else {
            // Usually called from the write handler itself: cancel now, destroy on a later call.
            write_->cancel();
            retiredWrite_ = std::move(write_);
        }
    }
    void stop() override {
        read_->cancel();
        if (write_) write_->cancel();
    }

  private:
    const int fd_;
    const std::shared_ptr<dispatch::SerialQueue> queue_;
    const std::function<void()> onWritable_;
    std::unique_ptr<dispatch::FdSource> read_;
    std::unique_ptr<dispatch::FdSource> write_;
    std::unique_ptr<dispatch::FdSource> retiredWrite_;
};

}  // namespace

std::unique_ptr<IoWatch> IoWatch::create(int fd, const std::shared_ptr<dispatch::SerialQueue>& queue,
                                         std::function<void()> onReadable, std::function<void()> onWritable) {
    if (queue == dispatch::Queue::main()) {
        auto watch = std::make_unique<RunLoopWatch>(fd, std::move(onReadable), std::move(onWritable));
        if (!watch->valid()) return nullptr;
        return watch;
    }
    auto watch = std::make_unique<SourceWatch>(fd, queue, std::move(onReadable), std::move(onWritable));
    if (!watch->valid()) return nullptr;
    return watch;
}

void IoWatch::retire(std::unique_ptr<IoWatch> watch, const std::shared_ptr<dispatch::SerialQueue>& queue) {
    if (!watch) return;
    watch->stop();
    std::shared_ptr<IoWatch> retired(std::move(watch));
    queue->async([retired] {});
}

void runOn(const std::shared_ptr<dispatch::SerialQueue>& queue, std::function<void()> work) {
    if (queue->isCurrent()) {
        work();
    } else {
        queue->async(std::move(work));
    }
}

}  // namespace xpc::internal
