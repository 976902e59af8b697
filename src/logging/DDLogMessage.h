#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class DDLogMessage;
using DDLogMessagePtr = std::shared_ptr<const DDLogMessage>;
// Text shared between records and formatters; identity (pointer equality) means "the same text object".
using DDText = std::shared_ptr<const std::string>;
// An object that travels with a record (`representedObject`, also reached as `tag`); compared by identity.
using DDTag = std::shared_ptr<const void>;

// The immutable record of one log line: the formatted text, its severity, where it was logged from, and a
// snapshot of the thread, queue and time of logging.
//
// Built by the dispatcher (or the system-log capture) on the logging thread, then read by several loggers on
// their own queues at the same time. Every field is set by the constructor and never written afterwards,
// which is what makes that lock-free sharing safe. Do not mutate a record after it has been handed to the
// dispatcher; the multi formatter's copy is the only record whose message is replaced, before anyone else
// sees it.
//
// File and function: without CopyFile / CopyFunction the record keeps a view of the caller's text, which must
// outlive the record (string literals such as __FILE__ do); with the option it keeps a private copy.
class DDLogMessage {
  public:
    using Clock = std::chrono::system_clock;

    DDLogMessage(DDText message, std::uint64_t level, std::uint64_t flag, std::int64_t context,
                 std::string_view file, std::string_view function, std::uint64_t line, DDTag tag,
                 std::int64_t options, std::optional<Clock::time_point> timestamp);
    // Convenience: `message` is copied into a new text (or moved, which is the same for the record).
    DDLogMessage(std::string message, std::uint64_t level, std::uint64_t flag, std::int64_t context,
                 std::string_view file, std::string_view function, std::uint64_t line, DDTag tag,
                 std::int64_t options, std::optional<Clock::time_point> timestamp);
    // Copying shares every field (strings and objects by reference). File and function views are re-pointed
    // at the copy's own storage when the source owned them.
    DDLogMessage(const DDLogMessage& other);
    DDLogMessage& operator=(const DDLogMessage&) = delete;

    const std::string& message() const { return *message_; }
    const DDText& messageText() const { return message_; }
    std::uint64_t level() const { return level_; }
    std::uint64_t flag() const { return flag_; }
    std::int64_t context() const { return context_; }
    std::string_view file() const { return file_; }
    std::string_view fileName() const { return fileName_; }
    std::string_view function() const { return function_; }
    std::uint64_t line() const { return line_; }
    const DDTag& tag() const { return representedObject_; }
    const DDTag& representedObject() const { return representedObject_; }
    std::int64_t options() const { return options_; }
    Clock::time_point timestamp() const { return timestamp_; }
    const std::string& threadID() const { return *threadID_; }
    // Empty when the thread has no name.
    const std::string& threadName() const { return *threadName_; }
    const std::string& queueLabel() const { return *queueLabel_; }
    std::uint64_t qos() const { return qos_; }

    // Equality is identity: a record equals only itself. The hash mixes the identity with the fields.
    bool isEqual(const DDLogMessage& other) const { return this == &other; }
    std::size_t hash() const;

    // A copy whose message is `message` (the multi formatter's fresh copy); every other field is shared.
    DDLogMessagePtr copyWithMessage(DDText message) const;

    // The file name rule: last path component without its last extension.
    static std::string_view deriveFileName(std::string_view file);

  private:
    friend class DDLog;
    // The dispatcher parks its own reference here while the record waits on the logging queue, so that the
    // queued work item holds only a plain pointer (small enough to need no allocation of its own). Never
    // copied; null whenever anyone else can see the record.
    struct QueueHold {
        QueueHold() = default;
        QueueHold(const QueueHold&) {}
        QueueHold& operator=(const QueueHold&) = delete;
        DDLogMessagePtr self;
    };

    DDText message_;
    std::uint64_t level_;
    std::uint64_t flag_;
    std::int64_t context_;
    std::shared_ptr<const std::string> ownedFile_;
    std::shared_ptr<const std::string> ownedFunction_;
    std::string_view file_;
    std::string_view fileName_;
    std::string_view function_;
    std::uint64_t line_;
    DDTag representedObject_;
    std::int64_t options_;
    Clock::time_point timestamp_;
    std::shared_ptr<const std::string> threadID_;
    std::shared_ptr<const std::string> threadName_;
    std::shared_ptr<const std::string> queueLabel_;
    std::uint64_t qos_;
    QueueHold queueHold_;
};
