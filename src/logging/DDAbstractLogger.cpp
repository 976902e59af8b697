#include "logging/DDAbstractLogger.h"

#include <cxxabi.h>

#include <cstdlib>
#include <typeinfo>

DDAbstractLogger::DDAbstractLogger() {
    initLoggerQueue();
}

DDAbstractLogger::~DDAbstractLogger() {
    // The queue may outlive this logger (queued work keeps it); a later object at this address must not
    // match.
    if (loggerQueue_) loggerQueue_->setSpecific(this, nullptr);
}

void DDAbstractLogger::logMessage(const DDLogMessagePtr& message) {
    (void)message;
}

DDLogFormatterPtr DDAbstractLogger::logFormatter() {
    return readSetting([this] { return logFormatter_; });
}

void DDAbstractLogger::setLogFormatter(DDLogFormatterPtr formatter) {
    changeSetting([this, formatter = std::move(formatter)] { applyFormatter(formatter); });
}

void DDAbstractLogger::setLoggerQueue(std::shared_ptr<dispatch::SerialQueue> queue) {
    if (loggerQueue_) loggerQueue_->setSpecific(this, nullptr);
    loggerQueue_ = std::move(queue);
    if (loggerQueue_) loggerQueue_->setSpecific(this, this);
}

std::string DDAbstractLogger::loggerName() {
    const char* mangled = typeid(*this).name();
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status),
                                                     &std::free);
    return status == 0 && demangled ? std::string(demangled.get()) : std::string(mangled);
}

bool DDAbstractLogger::isOnGlobalLoggingQueue() const {
    return DDLog::isOnLoggingQueue();
}

bool DDAbstractLogger::isOnInternalLoggerQueue() const {
    return dispatch::Queue::currentSpecific(this) == static_cast<const void*>(this);
}

void DDAbstractLogger::initLoggerQueue() {
    setLoggerQueue(dispatch::SerialQueue::create(loggerName()));
}

void DDAbstractLogger::applyFormatter(DDLogFormatterPtr formatter) {
    if (formatter == logFormatter_) return;
    const DDLoggerPtr self = weak_from_this().lock();
    if (logFormatter_) logFormatter_->willRemoveFromLogger(self);
    logFormatter_ = formatter;
    if (formatter) formatter->didAddToLogger(self, loggerQueue_);
}
