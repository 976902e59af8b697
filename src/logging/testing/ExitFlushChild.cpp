// Logs asynchronously to a slow logger that writes to the file named by argv[1], then returns from main at
// once: every line must still reach the file, written by the dispatcher's exit hook.
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "logging/DDAbstractLogger.h"
#include "logging/DDLog.h"

namespace {

class SlowFileLogger : public DDAbstractLogger {
  public:
    explicit SlowFileLogger(const char* path) : out_(path, std::ios::trunc) { initLoggerQueue(); }
    bool isOpen() const { return out_.is_open(); }
    void logMessage(const DDLogMessagePtr& message) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        out_ << message->message() << '\n' << std::flush;
    }

  private:
    std::ofstream out_;
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
