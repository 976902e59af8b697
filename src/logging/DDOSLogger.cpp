#include "logging/DDOSLogger.h"

#include <utility>

#include "logging/DDLoggerNames.h"
#include "logging/internal/JournalLevels.h"
#include "logging/internal/JournalSystemd.h"

using logging::internal::Journal;
using logging::internal::JournalSystemd;

std::shared_ptr<DDOSLogger> DDOSLogger::create(std::optional<std::string> subsystem,
                                               std::optional<std::string> category) {
    return create(std::move(subsystem), std::move(category), JournalSystemd::shared());
}

std::shared_ptr<DDOSLogger> DDOSLogger::create(std::optional<std::string> subsystem,
                                               std::optional<std::string> category,
                                               std::shared_ptr<Journal> journal) {
    return std::make_shared<DDOSLogger>(Private{}, std::move(subsystem), std::move(category),
                                        std::move(journal));
}

const std::shared_ptr<DDOSLogger>& DDOSLogger::sharedInstance() {
    static const std::shared_ptr<DDOSLogger> instance = create();
    return instance;
}

DDOSLogger::DDOSLogger(Private, std::optional<std::string> subsystem, std::optional<std::string> category,
                       std::shared_ptr<Journal> journal)
    : subsystem_(std::move(subsystem)), category_(std::move(category)), journal_(std::move(journal)) {
    initLoggerQueue();
}

std::string DDOSLogger::loggerName() {
    return DDLoggerNameOS;
}

std::shared_ptr<DDOSLogger::LogHandle> DDOSLogger::getLogger() const {
    return std::make_shared<LogHandle>(journal_, subsystem_, category_);
}

const std::shared_ptr<DDOSLogger::LogHandle>& DDOSLogger::lt_logger() {
    if (!logger_) logger_ = getLogger();
    return logger_;
}

std::shared_ptr<DDOSLogger::LogHandle> DDOSLogger::logger() {
    return readSetting([this] { return lt_logger(); });
}

void DDOSLogger::setLogger(std::shared_ptr<LogHandle> handle) {
    changeSetting([this, handle = std::move(handle)] { logger_ = handle; });
}

void DDOSLogger::logMessage(const DDLogMessagePtr& message) {
    if (message->fileName() == "DDASLLogCapture") return;
    DDText text = logFormatter_ ? logFormatter_->formatLogMessage(*message) : message->messageText();
    if (!text) return;
    const auto& handle = lt_logger();
    auto type = logging::internal::osLogTypeForFlag(message->flag());
    if (!handle->isTypeEnabled(type)) return;
    handle->emit(type, *text, message->file(), message->line(), message->function());
}
