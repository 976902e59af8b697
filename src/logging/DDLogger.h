#pragma once

#include <memory>
#include <string>

#include "dispatch/SerialQueue.h"
#include "logging/DDLogFormatter.h"
#include "logging/DDLogMessage.h"

// What the dispatcher calls on a logger. Every call is made on the logger's queue (the one `loggerQueue`
// offers, or one the dispatcher made for it), never concurrently for one logger.
//
// The optional operations have defaults that behave as "not offered": `didAddLoggerInQueue` forwards to
// `didAddLogger`, the notifications and `flush` do nothing, `loggerQueue` is null, `loggerName` is empty.
class DDLogger {
  public:
    virtual ~DDLogger() = default;

    // Writes the record. Must not log synchronously (the logging queue is waiting for this call).
    virtual void logMessage(const DDLogMessagePtr& message) = 0;
    virtual DDLogFormatterPtr logFormatter() = 0;
    virtual void setLogFormatter(DDLogFormatterPtr formatter) = 0;

    virtual void didAddLogger() {}
    virtual void didAddLoggerInQueue(const std::shared_ptr<dispatch::SerialQueue>& queue) {
        (void)queue;
        didAddLogger();
    }
    virtual void willRemoveLogger() {}
    // Writes out anything buffered; the dispatcher waits for it.
    virtual void flush() {}
    virtual std::shared_ptr<dispatch::SerialQueue> loggerQueue() { return nullptr; }
    virtual std::string loggerName() { return {}; }
};

using DDLoggerPtr = std::shared_ptr<DDLogger>;
