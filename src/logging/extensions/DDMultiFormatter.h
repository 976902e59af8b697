#pragma once

#include <memory>
#include <vector>

#include "dispatch/ConcurrentQueue.h"
#include "logging/DDLogFormatter.h"

// A formatter that runs an ordered chain of formatters on one record, so that a logger, which holds a single
// formatter, can use several (say a context filter, then a decorating formatter). Each member formats a
// fresh copy of the record whose text is the previous member's output; the first member that yields null
// ends the chain and the multi formatter yields null. With no members the record's own text comes back.
//
// Who calls it: the loggers it is set on, each on its own queue; chains run in parallel on a concurrent
// queue ("cocoa.vidadudidu.multiformatter"), so every member is called from several threads at once and
// must allow that. List changes are barrier items on that queue: they wait for running chains, run alone,
// and are submitted asynchronously (the calls return at once); a later `formatLogMessage`, `formatters` or
// `isFormattingWithFormatter` from the same thread already sees them. Members are held strongly while in
// the list; they are not told when the multi formatter is attached to or detached from a logger.
//
// Waiting rules: `formatLogMessage`, `formatters` and `isFormattingWithFormatter` block on the queue. A
// member must not call them on the multi formatter it belongs to from inside its own formatting: with a
// change waiting, the inner call waits for the change and the change for the running chain.
class DDMultiFormatter : public DDLogFormatter {
  public:
    DDMultiFormatter();

    // Blocking, see the waiting rules.
    DDText formatLogMessage(const DDLogMessage& message) override;
    // The record a member is given: a copy of `originalMessage` whose text is `line`, every other field
    // shared with it. Specialisations may hand the members something else.
    virtual DDLogMessagePtr logMessageForLine(DDText line, const DDLogMessage& originalMessage);

    // A snapshot of the chain in order; blocking.
    std::vector<DDLogFormatterPtr> formatters();
    // Appends `formatter` (it may occur more than once; null is ignored); returns at once.
    void addFormatter(DDLogFormatterPtr formatter);
    // Removes every occurrence of `formatter` (compared by identity); returns at once.
    void removeFormatter(const DDLogFormatterPtr& formatter);
    // Empties the chain; returns at once.
    void removeAllFormatters();
    // Whether `formatter` is in the chain; blocking.
    bool isFormattingWithFormatter(const DDLogFormatterPtr& formatter);

  private:
    // Shared with the queued changes, so that a change still in flight when the formatter goes away has its
    // list to work on.
    struct Chain {
        std::vector<DDLogFormatterPtr> formatters;  // only on `queue_`, changes as barriers
    };

    const std::shared_ptr<dispatch::ConcurrentQueue> queue_;
    const std::shared_ptr<Chain> chain_;
};
