// Logs asynchronously to a slow logger that writes to the file named by argv[1], then returns from main at
// once: every line must still reach the file, written by the dispatcher's exit hook.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "logging/DDAbstractLogger.h"
#include "logging/DDLog.h"

namespace {

class SlowFileLogger : public DDAbstractLogger {
  public:
    explicit SlowFileLogger(const char* path)
        : fd_(::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600)) {
        initLoggerQueue();
    }
    ~SlowFileLogger() override {
        if (fd_ >= 0) ::close(fd_);
    }
    bool isOpen() const { return fd_ >= 0; }
    void logMessage(const DDLogMessagePtr& message) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        const std::string line = message->message() + "\n";
        if (::write(fd_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) std::perror("write");
    }

  private:
    int fd_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    auto logger = std::make_shared<SlowFileLogger>(argv[1]);
    if (!logger->isOpen()) return 3;
    DDLog::sharedInstance().addLogger(logger);
    for (int i = 0; i < 50; ++i) {
        DDLog::sharedInstance().log(true, 15, 4, 0, __FILE__, __func__, __LINE__, nullptr, "line %d", i);
    }
    return 0;
}
