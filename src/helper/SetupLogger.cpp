#include "helper/SetupLogger.h"

#include <memory>
#include <mutex>

#include "helper/XpcService.h"
#include "logging/DDFileLogger.h"
#include "logging/DDLog.h"
#include "logging/DDLogFileManagerDefault.h"
#include "logging/DDOSLogger.h"

namespace {

constexpr std::uint64_t kMaximumFileSize = 5242880;

void configure() {
    DDLog::sharedInstance().addLogger(DDOSLogger::create(XpcService::kServiceName, "tandrel"));

    auto manager = std::make_shared<DDLogFileManagerDefault>("/tmp/");
    manager->setMaximumNumberOfLogFiles(1);

    auto fileLogger = DDFileLogger::create(manager);
    fileLogger->setMaximumFileSize(kMaximumFileSize);
    fileLogger->setRollingFrequency(0.0);
    fileLogger->setDoNotReuseLogFiles(false);
    DDLog::sharedInstance().addLogger(fileLogger);
}

}  // namespace

void setup_logger() {
    static std::once_flag once;
    std::call_once(once, configure);
}
