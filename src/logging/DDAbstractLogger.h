#pragma once

#include <memory>
#include <string>

#include "dispatch/SerialQueue.h"
#include "logging/DDLogger.h"

// The common base of the concrete loggers: the logger's own serial queue (labelled with `loggerName`), and a
// formatter property whose changes take effect in log order.
//
// Queues: `logMessage`, `flush` and the notifications run on the logger's queue. Settings that the write path
// reads are plain fields changed only on that queue; outside callers reach them in two hops, the dispatcher's
// logging queue first, then the logger's queue (`readSetting` / `changeSetting` do this for subclasses).
//
// Waiting rules: `logFormatter()` and every getter built on `readSetting` block until both queues have run the
// read, so they must not be called from the logging queue or from this logger's queue (code already on this
// logger's queue reads `logFormatter_` directly; `readSetting` does that by itself when
// `isOnInternalLoggerQueue()`).
//
// Create loggers with `std::make_shared` (or a subclass's factory): the queue mark and the formatter
// notifications need `shared_from_this`. The constructor calls `initLoggerQueue` itself only for the base
// name; subclasses that override `loggerName` call `initLoggerQueue()` at the end of their constructor.
class DDAbstractLogger : public DDLogger, public std::enable_shared_from_this<DDAbstractLogger> {
public:
    DDAbstractLogger();
    ~DDAbstractLogger() override;

    void logMessage(const DDLogMessagePtr& message) override;
    // Blocking two-hop read, see the waiting rules.
    DDLogFormatterPtr logFormatter() override;
    // Asynchronous two-hop change; returns at once.
    void setLogFormatter(DDLogFormatterPtr formatter) override;

    std::shared_ptr<dispatch::SerialQueue> loggerQueue() override { return loggerQueue_; }
    // For subclasses, before the logger is registered.
    void setLoggerQueue(std::shared_ptr<dispatch::SerialQueue> queue) { loggerQueue_ = std::move(queue); }
    // The class name unless a subclass names itself.
    std::string loggerName() override { return "DDAbstractLogger"; }

    bool isOnGlobalLoggingQueue() const;
    bool isOnInternalLoggerQueue() const;

protected:
    // (Re)creates the queue labelled with `loggerName()` and marks it as this logger's.
    void initLoggerQueue();

    // Two-hop access to a setting read by the write path (see the class comment). `read` and `change` run on
    // the logger's queue.
    template <typename Read>
    auto readSetting(Read read) -> decltype(read());
    template <typename Change>
    void changeSetting(Change change);

    // Read directly, only on the logger's queue.
    DDLogFormatterPtr logFormatter_;
    std::shared_ptr<dispatch::SerialQueue> loggerQueue_;

private:
    void applyFormatter(DDLogFormatterPtr formatter);
};

#include "logging/internal/DDAbstractLoggerInl.h"
