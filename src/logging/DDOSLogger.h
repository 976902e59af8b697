#pragma once

#include <memory>
#include <optional>
#include <string>

#include "logging/DDAbstractLogger.h"
#include "logging/internal/Journal.h"
#include "logging/internal/JournalLogHandle.h"

// The logger that writes into the OS log, here the systemd journal: one record per message with MESSAGE,
// PRIORITY (error 3, info 6, debug 7), the source position, and SUBSYSTEM and CATEGORY when both names were
// given (with either missing it writes to the default log, without them).
//
// Who calls it: the dispatcher, on this logger's queue ("cocoa.vidadudidu.osLogger"). The log handle is made
// at the first message on that queue and kept; `logger()`/`setLogger()` reach it in the two hops of every
// logger setting, so the getter blocks and must not be called from the logging queue (from this logger's
// queue it reads directly).
//
// Messages that the system-log capture produced (file name "DDASLLogCapture") are never written back.
class DDOSLogger : public DDAbstractLogger {
    struct Private {};

  public:
    using LogHandle = logging::internal::JournalLogHandle;

    // Both names are copied; either may be missing.
    static std::shared_ptr<DDOSLogger> create(std::optional<std::string> subsystem = std::nullopt,
                                              std::optional<std::string> category = std::nullopt);
    // The same, writing to `journal` instead of the system journal.
    static std::shared_ptr<DDOSLogger> create(std::optional<std::string> subsystem,
                                              std::optional<std::string> category,
                                              std::shared_ptr<logging::internal::Journal> journal);
    // One per process, made on the first call (safe under concurrent first calls); writes to the default log.
    static const std::shared_ptr<DDOSLogger>& sharedInstance();

    DDOSLogger(Private, std::optional<std::string> subsystem, std::optional<std::string> category,
               std::shared_ptr<logging::internal::Journal> journal);

    std::string loggerName() override;
    void logMessage(const DDLogMessagePtr& message) override;

    const std::optional<std::string>& subsystem() const { return subsystem_; }
    const std::optional<std::string>& category() const { return category_; }

    // The handle, made on first use from `subsystem` and `category` and then kept. Blocking, see above.
    std::shared_ptr<LogHandle> logger();
    // Replaces the handle (null: the next message makes a new one); returns at once.
    void setLogger(std::shared_ptr<LogHandle> handle);
    // A new handle for the current subsystem and category.
    std::shared_ptr<LogHandle> getLogger() const;

  private:
    // Only on this logger's queue.
    const std::shared_ptr<LogHandle>& lt_logger();

    const std::optional<std::string> subsystem_;
    const std::optional<std::string> category_;
    const std::shared_ptr<logging::internal::Journal> journal_;
    std::shared_ptr<LogHandle> logger_;  // only on this logger's queue
};
