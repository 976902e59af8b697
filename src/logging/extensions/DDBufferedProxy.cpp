#include "logging/extensions/DDBufferedProxy.h"

#include <algorithm>

#include "logging/DDLog.h"
#include "logging/extensions/internal/RootBlockSizes.h"

namespace {

const logging::internal::RootBlockSizes& rootBlockSizes() {
    static const logging::internal::RootBlockSizes sizes = logging::internal::probeRootBlockSizes();
    return sizes;
}

}  // namespace

std::uint64_t DDGetDefaultBufferSizeBytes() {
    return rootBlockSizes().fundamental;
}

std::uint64_t DDGetMaxBufferSizeBytes() {
    return static_cast<std::uint64_t>(rootBlockSizes().optimal);
}

std::shared_ptr<DDBufferedProxy> wrapWithBuffer(const std::shared_ptr<DDFileLogger>& fileLogger) {
    return DDBufferedProxy::create(fileLogger);
}

std::shared_ptr<DDBufferedProxy> DDBufferedProxy::create(std::shared_ptr<DDFileLogger> fileLogger) {
    return std::make_shared<DDBufferedProxy>(std::move(fileLogger));
}

DDBufferedProxy::DDBufferedProxy(std::shared_ptr<DDFileLogger> fileLogger)
    : fileLogger_(std::move(fileLogger)), maxBufferSizeBytes_(DDGetDefaultBufferSizeBytes()) {
    flushBuffer();
}

DDBufferedProxy::~DDBufferedProxy() {
    if (!fileLogger_) return;
    const auto finalStep = [this] {
        lt_sendBufferedDataToFileLogger();
        fileLogger_.reset();
    };
    if (fileLogger_->isOnInternalLoggerQueue()) {
        finalStep();
    } else {
        fileLogger_->loggerQueue()->sync(finalStep);
    }
}

void DDBufferedProxy::logMessage(const DDLogMessagePtr& message) {
    const size_t before = buffer_.size();
    // The record's bytes go straight into the buffer: no copy beyond that append.
    if (!message || !fileLogger_->lt_appendDataForMessage(*message, buffer_)) return;
    currentBufferSizeBytes_ += buffer_.size() - before;
    // A record is never split: the one that crosses the threshold goes out whole with what came before.
    if (currentBufferSizeBytes_ >= maxBufferSizeBytes()) lt_sendBufferedDataToFileLogger();
}

void DDBufferedProxy::flush() {
    const auto step = [this] {
        lt_sendBufferedDataToFileLogger();
        fileLogger_->flush();
    };
    if (fileLogger_->isOnInternalLoggerQueue()) {
        step();
        return;
    }
    const auto onLoggerQueue = [&] { fileLogger_->loggerQueue()->sync(step); };
    // Logging queue first, then the logger's queue, as the dispatcher takes them.
    if (DDLog::isOnLoggingQueue()) {
        onLoggerQueue();
    } else {
        DDLog::loggingQueue()->sync(onLoggerQueue);
    }
}

void DDBufferedProxy::setMaxBufferSizeBytes(std::uint64_t bytes) {
    maxBufferSizeBytes_.store(std::min(bytes, DDGetMaxBufferSizeBytes()), std::memory_order_relaxed);
}

void DDBufferedProxy::flushBuffer() {
    buffer_.clear();  // keeps its capacity: the next round appends without reallocating
    currentBufferSizeBytes_ = 0;
}

void DDBufferedProxy::lt_sendBufferedDataToFileLogger() {
    fileLogger_->lt_logData(buffer_);
    flushBuffer();
}
