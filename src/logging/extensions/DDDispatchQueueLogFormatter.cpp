#include "logging/extensions/DDDispatchQueueLogFormatter.h"

#include <array>
#include <utility>

namespace {

// The labels of the shared global queues, in the order they are compared.
constexpr std::array<std::string_view, 7> kGlobalQueueLabels = {
    "com.apple.root.low-priority",
    "com.apple.root.default-priority",
    "com.apple.root.high-priority",
    "com.apple.root.low-overcommit-priority",
    "com.apple.root.default-overcommit-priority",
    "com.apple.root.high-overcommit-priority",
    "com.apple.root.default-qos.overcommit",
};

// Indexed by (qos - 9) / 4 for the values 9, 13, ..., 33.
constexpr std::array<std::string_view, 7> kQosNames = {"BG", "UN", "UT", "DF", "IN", "UN", "UI"};

bool isContinuation(std::string_view text, std::size_t at) {
    return at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80;
}

// The bytes and UTF-16 units of the character that starts at `at`. A byte that begins no well-formed
// sequence is taken alone as one unit, as a decoder would replace it with one replacement character.
std::pair<std::size_t, std::size_t> characterAt(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t bytes = 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        bytes = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        bytes = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        bytes = 4;
    }
    for (std::size_t k = 1; k < bytes; ++k) {
        if (!isContinuation(text, at + k)) return {1, 1};
    }
    // Characters beyond the basic plane take a surrogate pair.
    return {bytes, bytes == 4 ? 2 : 1};
}

// Cuts `label` to at most `max` UTF-16 units (0: no limit), then fills it up with spaces to `min` units. A
// character that would straddle the cut is left out whole rather than split into broken text.
std::string fitted(std::string label, std::uint64_t min, std::uint64_t max) {
    std::size_t units = 0;
    std::size_t at = 0;
    while (at < label.size()) {
        const auto [bytes, width] = characterAt(label, at);
        if (max != 0 && units + width > max) {
            label.resize(at);
            return label;
        }
        units += width;
        at += bytes;
    }
    if (units < min) label.append(min - units, ' ');
    return label;
}

}  // namespace

DDDispatchQueueLogFormatter::DDDispatchQueueLogFormatter()
    : replacements_{{"com.apple.main-thread", "main"}} {}

DDDispatchQueueLogFormatter::DDDispatchQueueLogFormatter(std::uint64_t /*mode*/)
    : DDDispatchQueueLogFormatter() {}

DDDispatchQueueLogFormatter::~DDDispatchQueueLogFormatter() = default;

DDText DDDispatchQueueLogFormatter::formatLogMessage(const DDLogMessage& message) {
    const std::string date = stringFromDate(message.timestamp());
    const std::string label = queueThreadLabelForLogMessage(message);
    const std::string_view qos = qosName(message.qos());
    auto line = std::make_shared<std::string>();
    line->reserve(date.size() + label.size() + message.message().size() + 16);
    line->append(date).append(" [").append(label).append(" (QOS:").append(qos).append(")] ");
    line->append(message.message());
    return line;
}

std::optional<std::string> DDDispatchQueueLogFormatter::replacementStringForQueueLabel(
    std::string_view label) const {
    std::lock_guard lock(mutex_);
    const auto found = replacements_.find(label);
    if (found == replacements_.end()) return std::nullopt;
    return found->second;
}

void DDDispatchQueueLogFormatter::setReplacementString(std::optional<std::string> replacement,
                                                       std::string_view label) {
    std::lock_guard lock(mutex_);
    if (!replacement) {
        const auto found = replacements_.find(label);
        if (found != replacements_.end()) replacements_.erase(found);
        return;
    }
    replacements_.insert_or_assign(std::string(label), std::move(*replacement));
}

std::string DDDispatchQueueLogFormatter::stringFromDate(Clock::time_point date) {
    return dateFormatter().stringFromDate(date);
}

std::string DDDispatchQueueLogFormatter::queueThreadLabelForLogMessage(const DDLogMessage& message) {
    const std::uint64_t min = minQueueLength();
    const std::uint64_t max = maxQueueLength();
    const std::string& queueLabel = message.queueLabel();
    // On a global queue (or none) the thread says more than the queue.
    const bool ownQueue = !queueLabel.empty() && !isGlobalQueueLabel(queueLabel);
    const std::string& fullLabel = ownQueue ? queueLabel : message.threadName();
    std::string label;
    if (fullLabel.empty()) {
        label = message.threadID();
    } else {
        label = replacementStringForQueueLabel(fullLabel).value_or(fullLabel);
    }
    return fitted(std::move(label), min, max);
}

std::string_view DDDispatchQueueLogFormatter::qosName(std::uint64_t qos) {
    const auto value = static_cast<std::uint32_t>(qos);
    if (value < 9 || value > 33 || (value - 9) % 4 != 0) return "UN";
    return kQosNames[(value - 9) / 4];
}

bool DDDispatchQueueLogFormatter::isGlobalQueueLabel(std::string_view label) {
    for (const std::string_view global : kGlobalQueueLabels) {
        if (label == global) return true;
    }
    return false;
}

std::unique_ptr<DDDateFormatter> DDDispatchQueueLogFormatter::createDateFormatter() {
    auto dateFormatter = std::make_unique<DDDateFormatter>();
    configureDateFormatter(*dateFormatter);
    return dateFormatter;
}

void DDDispatchQueueLogFormatter::configureDateFormatter(DDDateFormatter& dateFormatter) {
    dateFormatter.setDateFormat("yyyy-MM-dd HH:mm:ss:SSS");
}

const DDDateFormatter& DDDispatchQueueLogFormatter::dateFormatter() {
    std::call_once(dateFormatterOnce_, [this] {
        auto made = createDateFormatter();
        // A specialisation that makes none gets the usual one rather than a crash on the first line.
        if (!made) made = DDDispatchQueueLogFormatter::createDateFormatter();
        dateFormatter_ = std::move(made);
    });
    return *dateFormatter_;
}
