#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "logging/DDAbstractLogger.h"
#include "logging/internal/Journal.h"
#include "logging/internal/JournalLevels.h"  // kDDASLKeyDDLog, kDDASLDDLogValue

// The logger that writes into the system log, here the systemd journal: one record per message with PRIORITY
// from its flag (error 2, warning 3, info 4, anything else 5), MESSAGE, READ_UID (the effective user id) and
// DDLOG=1. A record is sent only when every field could be built; otherwise the message is dropped.
//
// Who calls it: the dispatcher, on this logger's queue ("cocoa.vidadudidu.aslLogger"). Messages that the
// capture produced (file name "DDASLLogCapture") are never written back.
class DDASLLogger : public DDAbstractLogger {
    struct Private {};

  public:
    // The single instance, made on the first call.
    static const std::shared_ptr<DDASLLogger>& sharedInstance();
    // A logger of its own; null once the shared instance exists.
    static std::shared_ptr<DDASLLogger> create();
    // A logger writing to `journal`, whatever the shared instance (for tests and other journals).
    static std::shared_ptr<DDASLLogger> create(std::shared_ptr<logging::internal::Journal> journal);

    DDASLLogger(Private, std::shared_ptr<logging::internal::Journal> journal);

    std::string loggerName() override;
    void logMessage(const DDLogMessagePtr& message) override;

    // The fields of one record for `text` and `flag`, in writing order; none when one cannot be built.
    static std::optional<std::vector<logging::internal::JournalField>> recordFields(const std::string& text,
                                                                                    std::uint64_t flag);

  private:
    const std::shared_ptr<logging::internal::Journal> client_;
};
