#include "logging/extensions/DDContextDenylistFilterLogFormatter.h"

DDText DDContextDenylistFilterLogFormatter::formatLogMessage(const DDLogMessage& message) {
    return isOnDenylist(message.context()) ? nullptr : message.messageText();
}
