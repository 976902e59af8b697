#pragma once

#include <memory>
#include <string>

#include "logging/DDLogFormatter.h"
#include "logging/internal/UtcDateFormatter.h"

// The formatter a file logger installs on itself: "<time stamp>  <text>", the record's time in UTC as
// "yyyy/MM/dd HH:mm:ss:SSS" (or with the date formatter given at creation), two spaces, then the text
// unchanged. Level, flag, file, function, line, context and tag are not written.
//
// Keeps no state besides its immutable date formatter, so it may serve several loggers on several queues at
// once. The result is always a new text, which the file logger treats as custom-formatted.
class DDLogFileFormatterDefault : public DDLogFormatter {
  public:
    using DateFormatterPtr = std::shared_ptr<const logging::internal::UtcDateFormatter>;

    DDLogFileFormatterDefault() : DDLogFileFormatterDefault(nullptr) {}
    // Uses `dateFormatter` unchanged (shared with whoever else holds it); null: the default one.
    explicit DDLogFileFormatterDefault(DateFormatterPtr dateFormatter);

    DDText formatLogMessage(const DDLogMessage& message) override;
    // Appends the same text to `out`, without making a text object: the file logger's write path when this
    // very class is its formatter.
    void appendFormatted(const DDLogMessage& message, std::string& out) const;

    const DateFormatterPtr& dateFormatter() const { return dateFormatter_; }

  private:
    DateFormatterPtr dateFormatter_;
};
