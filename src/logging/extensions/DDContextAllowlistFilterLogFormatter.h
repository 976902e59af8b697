#pragma once

#include <cstdint>
#include <vector>

#include "logging/DDLogFormatter.h"
#include "logging/extensions/DDLoggingContextSet.h"

// A formatter that lets through only records whose context is on its list, with their text unchanged (the
// same text object); every other record yields null, so the logger writes nothing for it. Adds no
// decoration: put it before a decorating formatter in a `DDMultiFormatter` for that.
//
// Who calls it: the loggers it is set on, each on its own queue, possibly several at once, while any thread
// changes the list; a change applies from the next record. It keeps no per-logger state. The list operations
// are virtual and `formatLogMessage` and the older names reach them through virtual calls, so a
// specialisation that replaces one changes them all.
class DDContextAllowlistFilterLogFormatter : public DDLogFormatter {
  public:
    virtual void addToAllowlist(std::int64_t context) { contextSet_.addToSet(context); }
    virtual void removeFromAllowlist(std::int64_t context) { contextSet_.removeFromSet(context); }
    // A snapshot, in no defined order.
    virtual std::vector<std::int64_t> allowlist() const { return contextSet_.currentSet(); }
    virtual bool isOnAllowlist(std::int64_t context) const { return contextSet_.isInSet(context); }

    DDText formatLogMessage(const DDLogMessage& message) override;

    // Older names, kept for existing callers.
    [[deprecated("use addToAllowlist")]] void addToWhitelist(std::int64_t context) {
        addToAllowlist(context);
    }
    [[deprecated("use removeFromAllowlist")]] void removeFromWhitelist(std::int64_t context) {
        removeFromAllowlist(context);
    }
    [[deprecated("use allowlist")]] std::vector<std::int64_t> whitelist() const { return allowlist(); }
    [[deprecated("use isOnAllowlist")]] bool isOnWhitelist(std::int64_t context) const {
        return isOnAllowlist(context);
    }

  private:
    DDLoggingContextSet contextSet_;
};
