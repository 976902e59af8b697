#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "logging/DDFileLogger.h"

// The root file system's block size, the default write-out threshold (4096 when it cannot be probed), and its
// preferred I/O size, the ceiling for `setMaxBufferSizeBytes` (1048576 when it cannot be probed). Each is
// probed once per process.
std::uint64_t DDGetDefaultBufferSizeBytes();
std::uint64_t DDGetMaxBufferSizeBytes();

// A write buffer in front of a file logger: the formatted bytes of successive records are collected in memory
// and handed to the file logger's write path in one piece when they reach the threshold, when the logger is
// flushed, or when the proxy is destroyed. Register the proxy with the dispatcher instead of the file logger:
// it presents the file logger's queue, name and formatter, so the dispatcher runs `logMessage` and `flush` on
// the file logger's queue. Every other operation reaches the file logger unchanged (the delegating members
// below, or `unwrapFromBuffer()` / `operator->` for the rest).
//
// Queues: the buffer is touched only on the file logger's queue (records arrive there; `flush` and
// destruction move there first), so it has no lock. The plain accessors do not synchronise:
// `setMaxBufferSizeBytes` applies from the next record.
//
// Waiting rules: `flush` from outside blocks on the logging queue and then the file logger's queue, like the
// dispatcher; destruction blocks on the file logger's queue alone. Do not destroy the last reference from a
// queue that the file logger's queue is waiting for.
//
// Buffered lines reach the file only at a write-out: removing the proxy from the dispatcher or unwrapping it
// does not write them out (the file logger then rolls on removal, and they land in the next file).
class DDBufferedProxy : public DDLogger, public std::enable_shared_from_this<DDBufferedProxy> {
  public:
    static std::shared_ptr<DDBufferedProxy> create(std::shared_ptr<DDFileLogger> fileLogger);
    explicit DDBufferedProxy(std::shared_ptr<DDFileLogger> fileLogger);
    ~DDBufferedProxy() override;

    // The proxy itself: never a second layer.
    std::shared_ptr<DDBufferedProxy> wrapWithBuffer() { return shared_from_this(); }
    std::shared_ptr<DDFileLogger> unwrapFromBuffer() const { return fileLogger_; }
    DDFileLogger* operator->() const { return fileLogger_.get(); }

    // The two operations the proxy takes over.
    void logMessage(const DDLogMessagePtr& message) override;
    void flush() override;

    // Delegated unchanged.
    DDLogFormatterPtr logFormatter() override { return fileLogger_->logFormatter(); }
    void setLogFormatter(DDLogFormatterPtr formatter) override {
        fileLogger_->setLogFormatter(std::move(formatter));
    }
    void didAddLogger() override { fileLogger_->didAddLogger(); }
    void didAddLoggerInQueue(const std::shared_ptr<dispatch::SerialQueue>& queue) override {
        fileLogger_->didAddLoggerInQueue(queue);
    }
    void willRemoveLogger() override { fileLogger_->willRemoveLogger(); }
    std::shared_ptr<dispatch::SerialQueue> loggerQueue() override { return fileLogger_->loggerQueue(); }
    std::string loggerName() override { return fileLogger_->loggerName(); }
    bool isOnInternalLoggerQueue() const { return fileLogger_->isOnInternalLoggerQueue(); }
    std::uint64_t maximumFileSize() { return fileLogger_->maximumFileSize(); }
    void setMaximumFileSize(std::uint64_t bytes) { fileLogger_->setMaximumFileSize(bytes); }
    double rollingFrequency() { return fileLogger_->rollingFrequency(); }
    void setRollingFrequency(double seconds) { fileLogger_->setRollingFrequency(seconds); }
    DDLogFileInfoPtr currentLogFileInfo() { return fileLogger_->currentLogFileInfo(); }
    void rollLogFile() { fileLogger_->rollLogFile(); }
    void rollLogFileWithCompletionBlock(std::function<void()> completion) {
        fileLogger_->rollLogFileWithCompletionBlock(std::move(completion));
    }
    const DDLogFileManagerPtr& logFileManager() const { return fileLogger_->logFileManager(); }

    // The write-out threshold; stored as the smaller of `bytes` and the probed maximum.
    void setMaxBufferSizeBytes(std::uint64_t bytes);
    std::uint64_t maxBufferSizeBytes() const { return maxBufferSizeBytes_.load(std::memory_order_relaxed); }

    // Plain accessors, unsynchronised: use them on the file logger's queue.
    const std::shared_ptr<DDFileLogger>& fileLogger() const { return fileLogger_; }
    void setFileLogger(std::shared_ptr<DDFileLogger> fileLogger) { fileLogger_ = std::move(fileLogger); }
    const std::string& buffer() const { return buffer_; }
    void setBuffer(std::string buffer) { buffer_ = std::move(buffer); }
    std::uint64_t currentBufferSizeBytes() const { return currentBufferSizeBytes_; }
    void setCurrentBufferSizeBytes(std::uint64_t bytes) { currentBufferSizeBytes_ = bytes; }

    // Drops the buffered bytes and starts an empty buffer: only right after a write-out, or at creation.
    void flushBuffer();
    // Hands everything buffered to the file logger's write path in one call, then starts an empty buffer.
    // Only on the file logger's queue.
    void lt_sendBufferedDataToFileLogger();

  private:
    std::shared_ptr<DDFileLogger> fileLogger_;
    std::string buffer_;
    std::atomic<std::uint64_t> maxBufferSizeBytes_;
    std::uint64_t currentBufferSizeBytes_ = 0;
};

// A new proxy in front of `fileLogger` (every call makes a new one); for a proxy, the proxy itself.
std::shared_ptr<DDBufferedProxy> wrapWithBuffer(const std::shared_ptr<DDFileLogger>& fileLogger);
inline std::shared_ptr<DDBufferedProxy> wrapWithBuffer(const std::shared_ptr<DDBufferedProxy>& proxy) {
    return proxy->wrapWithBuffer();
}
// The file logger itself; for a proxy, the wrapped file logger.
inline std::shared_ptr<DDFileLogger> unwrapFromBuffer(const std::shared_ptr<DDFileLogger>& fileLogger) {
    return fileLogger;
}
inline std::shared_ptr<DDFileLogger> unwrapFromBuffer(const std::shared_ptr<DDBufferedProxy>& proxy) {
    return proxy->unwrapFromBuffer();
}
