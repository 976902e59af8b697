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
// Waiting rules: `logFormatter()` and every getter built on `readSetting` block until both queues have run
// the read, so they must not be called from the logging queue or from this logger's queue (code already on
// this logger's queue reads `logFormatter_` directly; `readSetting` does that by itself when
// `isOnInternalLoggerQueue()`).
//
// Create loggers with `std::make_shared` (or a subclass's factory): the formatter notifications and the
// setting changes in flight hold the logger through `shared_from_this`. The base constructor labels the queue
// "DDAbstractLogger" (virtual calls do not reach a subclass during construction); a subclass calls
// `initLoggerQueue()` at the end of its constructor to label it with its own `loggerName`.
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
    // For subclasses, before the logger is registered. The queue is marked as this logger's.
    void setLoggerQueue(std::shared_ptr<dispatch::SerialQueue> queue);
    // The name of the object's class unless a subclass names itself; during
    // construction that is the class being constructed.
    std::string loggerName() override;

    bool isOnGlobalLoggingQueue() const;
    bool isOnInternalLoggerQueue() const;

  protected:
    // (Re)creates the queue labelled with `loggerName()` and marks it as this logger's.
    void initLoggerQueue();

    // Two-hop access to a setting read by the write path (see the class comment). `read` and `change` run on
    // the logger's queue; on that queue already, they run in place. `readSetting` blocks and returns the
    // value `read` returned; `changeSetting` returns at once (`change` must be copyable; the logger is kept
    // alive until it has run).
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
