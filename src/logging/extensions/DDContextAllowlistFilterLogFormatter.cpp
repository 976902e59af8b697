#include "logging/extensions/DDContextAllowlistFilterLogFormatter.h"

DDText DDContextAllowlistFilterLogFormatter::formatLogMessage(const DDLogMessage& message) {
    return isOnAllowlist(message.context()) ? message.messageText() : nullptr;
}
