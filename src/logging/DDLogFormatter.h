#pragma once

#include <memory>

#include "dispatch/SerialQueue.h"
#include "logging/DDLogMessage.h"

class DDLogger;

// Turns a record into the text a logger writes. A formatter may be attached to several loggers and is then
// called on several queues, possibly at once: implementations must be safe for that.
class DDLogFormatter {
  public:
    virtual ~DDLogFormatter() = default;

    // The text to write, or null: the logger then writes nothing for this record. Returning the record's own
    // `messageText()` (the same text object) means "unchanged".
    virtual DDText formatLogMessage(const DDLogMessage& message) = 0;

    // Attached to `logger`; called on the logger's queue. The two-argument form is the one loggers call; by
    // default it forwards to the one-argument form.
    virtual void didAddToLogger(const std::shared_ptr<DDLogger>& logger) { (void)logger; }
    virtual void didAddToLogger(const std::shared_ptr<DDLogger>& logger,
                                const std::shared_ptr<dispatch::SerialQueue>& queue) {
        (void)queue;
        didAddToLogger(logger);
    }
    // Being detached from `logger`; called on the logger's queue.
    virtual void willRemoveFromLogger(const std::shared_ptr<DDLogger>& logger) { (void)logger; }
};

using DDLogFormatterPtr = std::shared_ptr<DDLogFormatter>;
