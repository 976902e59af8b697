#include "logging/DDLogFileFormatterDefault.h"

#include <string>

DDLogFileFormatterDefault::DDLogFileFormatterDefault(DateFormatterPtr dateFormatter)
    : dateFormatter_(dateFormatter ? std::move(dateFormatter)
                                   : std::make_shared<const logging::internal::UtcDateFormatter>(
                                         "yyyy/MM/dd HH:mm:ss:SSS")) {}

DDText DDLogFileFormatterDefault::formatLogMessage(const DDLogMessage& message) {
    auto line = std::make_shared<std::string>();
    // Room for the stamp, the two spaces, the text and the newline the logger appends: one allocation.
    line->reserve(32 + message.message().size());
    appendFormatted(message, *line);
    return line;
}

void DDLogFileFormatterDefault::appendFormatted(const DDLogMessage& message, std::string& out) const {
    dateFormatter_->appendTo(out, message.timestamp());
    out.append("  ");
    out.append(message.message());
}
