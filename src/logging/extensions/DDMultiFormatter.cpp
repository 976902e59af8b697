#include "logging/extensions/DDMultiFormatter.h"

#include <algorithm>

DDMultiFormatter::DDMultiFormatter()
    : queue_(dispatch::ConcurrentQueue::create("cocoa.vidadudidu.multiformatter")),
      chain_(std::make_shared<Chain>()) {}

DDText DDMultiFormatter::formatLogMessage(const DDLogMessage& message) {
    DDText line = message.messageText();
    queue_->sync([&] {
        for (const DDLogFormatterPtr& formatter : chain_->formatters) {
            const DDLogMessagePtr member = logMessageForLine(line, message);
            line = formatter->formatLogMessage(*member);
            if (!line) break;
        }
    });
    return line;
}

DDLogMessagePtr DDMultiFormatter::logMessageForLine(DDText line, const DDLogMessage& originalMessage) {
    return originalMessage.copyWithMessage(std::move(line));
}

std::vector<DDLogFormatterPtr> DDMultiFormatter::formatters() {
    std::vector<DDLogFormatterPtr> snapshot;
    queue_->sync([&] { snapshot = chain_->formatters; });
    return snapshot;
}

void DDMultiFormatter::addFormatter(DDLogFormatterPtr formatter) {
    // A null member would end every chain with a crash rather than a line.
    if (!formatter) return;
    queue_->asyncBarrier(
        [chain = chain_, formatter = std::move(formatter)] { chain->formatters.push_back(formatter); });
}

void DDMultiFormatter::removeFormatter(const DDLogFormatterPtr& formatter) {
    queue_->asyncBarrier([chain = chain_, formatter] { std::erase(chain->formatters, formatter); });
}

void DDMultiFormatter::removeAllFormatters() {
    queue_->asyncBarrier([chain = chain_] { chain->formatters.clear(); });
}

bool DDMultiFormatter::isFormattingWithFormatter(const DDLogFormatterPtr& formatter) {
    bool found = false;
    queue_->sync([&] {
        found = std::find(chain_->formatters.begin(), chain_->formatters.end(), formatter) !=
                chain_->formatters.end();
    });
    return found;
}
