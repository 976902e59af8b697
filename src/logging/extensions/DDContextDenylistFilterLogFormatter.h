#pragma once

#include <cstdint>
#include <vector>

#include "logging/DDLogFormatter.h"
#include "logging/extensions/DDLoggingContextSet.h"

// A formatter that holds back records whose context is on its list (they yield null, so the logger writes
// nothing for them) and lets every other record through with its text unchanged (the same text object). Adds
// no decoration: put it before a decorating formatter in a `DDMultiFormatter` for that.
//
// Who calls it: the loggers it is set on, each on its own queue, possibly several at once, while any thread
// changes the list; a change applies from the next record. It keeps no per-logger state. The list operations
// are virtual and `formatLogMessage` and the older names reach them through virtual calls, so a
// specialisation that replaces one changes them all.
class DDContextDenylistFilterLogFormatter : public DDLogFormatter {
  public:
    virtual void addToDenylist(std::int64_t context) { contextSet_.addToSet(context); }
    virtual void removeFromDenylist(std::int64_t context) { contextSet_.removeFromSet(context); }
    // A snapshot, in no defined order.
    virtual std::vector<std::int64_t> denylist() const { return contextSet_.currentSet(); }
    virtual bool isOnDenylist(std::int64_t context) const { return contextSet_.isInSet(context); }

    DDText formatLogMessage(const DDLogMessage& message) override;

    // Older names, kept for existing callers.
    [[deprecated("use addToDenylist")]] void addToBlacklist(std::int64_t context) { addToDenylist(context); }
    [[deprecated("use removeFromDenylist")]] void removeFromBlacklist(std::int64_t context) {
        removeFromDenylist(context);
    }
    [[deprecated("use denylist")]] std::vector<std::int64_t> blacklist() const { return denylist(); }
    [[deprecated("use isOnDenylist")]] bool isOnBlacklist(std::int64_t context) const {
        return isOnDenylist(context);
    }

  private:
    DDLoggingContextSet contextSet_;
};
