#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "logging/DDLogFormatter.h"
#include "logging/extensions/DDDateFormatter.h"

// A formatter that names where a line was logged: "<date> [<queue or thread> (QOS:<class>)] <text>", the
// date in the local time zone as "yyyy-MM-dd HH:mm:ss:SSS", the QoS class as a two-letter name ("UI", "IN",
// "DF", "UT", "BG", else "UN").
//
// The label is the record's queue label, except on the shared global queues (and with no queue), where the
// thread's name, or failing that its number, says more. Queue labels and thread names can be replaced by
// other texts (preset: the main queue shows as "main"); thread numbers never are. The label is then cut to
// `maxQueueLength` and filled up with spaces to `minQueueLength` (0 turns either off), counted in UTF-16
// units, never splitting a character.
//
// Who calls it: the loggers it is set on, each on its own queue, possibly several at once; the configuring
// code from any thread. It keeps no per-logger state, so one instance may serve any number of loggers. The
// replacement map is read and written under a mutex held for one lookup; the lengths are atomic words (a
// change applies from the next line each logger formats).
//
// Specialisations may replace the date formatter (`createDateFormatter`, `configureDateFormatter`), the date
// text (`stringFromDate`), the label (`queueThreadLabelForLogMessage`) or the lengths; the formatter reaches
// them only through virtual calls. The date formatter is made on first use, since a constructor cannot reach
// a specialisation's override.
class DDDispatchQueueLogFormatter : public DDLogFormatter {
  public:
    using Clock = std::chrono::system_clock;

    DDDispatchQueueLogFormatter();
    // The mode is accepted for older callers and ignored: every instance may be shared between loggers.
    explicit DDDispatchQueueLogFormatter(std::uint64_t mode);
    ~DDDispatchQueueLogFormatter() override;

    // Always a text, never null.
    DDText formatLogMessage(const DDLogMessage& message) override;

    // The replacement for a queue label or thread name, none when it has no entry.
    std::optional<std::string> replacementStringForQueueLabel(std::string_view label) const;
    // Stores the replacement for `label`; none removes the label's entry.
    void setReplacementString(std::optional<std::string> replacement, std::string_view label);

    virtual std::uint64_t minQueueLength() const { return minQueueLength_.load(std::memory_order_relaxed); }
    void setMinQueueLength(std::uint64_t length) { minQueueLength_.store(length, std::memory_order_relaxed); }
    virtual std::uint64_t maxQueueLength() const { return maxQueueLength_.load(std::memory_order_relaxed); }
    void setMaxQueueLength(std::uint64_t length) { maxQueueLength_.store(length, std::memory_order_relaxed); }

    // The date text of a line, formatted with the date formatter.
    virtual std::string stringFromDate(Clock::time_point date);
    // The label of a line, fitted to the lengths.
    virtual std::string queueThreadLabelForLogMessage(const DDLogMessage& message);

    // The two-letter name of a QoS class value (only its low 32 bits count).
    static std::string_view qosName(std::uint64_t qos);
    // True for the labels of the shared global queues, whose label says nothing about who logged.
    static bool isGlobalQueueLabel(std::string_view label);

  protected:
    // A new date formatter, configured by `configureDateFormatter`.
    virtual std::unique_ptr<DDDateFormatter> createDateFormatter();
    // "yyyy-MM-dd HH:mm:ss:SSS"; the time zone stays the system's current one.
    virtual void configureDateFormatter(DDDateFormatter& dateFormatter);
    // The formatter made by `createDateFormatter` on the first call; never changes afterwards.
    const DDDateFormatter& dateFormatter();

  private:
    std::once_flag dateFormatterOnce_;
    std::unique_ptr<const DDDateFormatter> dateFormatter_;
    mutable std::mutex mutex_;
    std::map<std::string, std::string, std::less<>> replacements_;  // guarded by mutex_
    std::atomic<std::uint64_t> minQueueLength_{0};
    std::atomic<std::uint64_t> maxQueueLength_{0};
};
