#include "logging/DDASLLogger.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <new>
#include <utility>

#include "logging/DDLoggerNames.h"
#include "logging/internal/JournalLevels.h"
#include "logging/internal/JournalSystemd.h"

using logging::internal::Journal;
using logging::internal::JournalField;
using logging::internal::JournalSystemd;

namespace {
std::atomic<bool> sharedInstanceExists{false};
}

const std::shared_ptr<DDASLLogger>& DDASLLogger::sharedInstance() {
    static const std::shared_ptr<DDASLLogger> instance = [] {
        auto logger = create(JournalSystemd::shared());
        sharedInstanceExists.store(true, std::memory_order_release);
        return logger;
    }();
    return instance;
}

std::shared_ptr<DDASLLogger> DDASLLogger::create() {
    if (sharedInstanceExists.load(std::memory_order_acquire)) return nullptr;
    return create(JournalSystemd::shared());
}

std::shared_ptr<DDASLLogger> DDASLLogger::create(std::shared_ptr<Journal> journal) {
    return std::make_shared<DDASLLogger>(Private{}, std::move(journal));
}

DDASLLogger::DDASLLogger(Private, std::shared_ptr<Journal> journal) : client_(std::move(journal)) {
    initLoggerQueue();
}

std::string DDASLLogger::loggerName() {
    return DDLoggerNameASL;
}

std::optional<std::vector<JournalField>> DDASLLogger::recordFields(const std::string& text,
                                                                   std::uint64_t flag) {
    try {
        std::vector<JournalField> fields;
        fields.reserve(4);
        fields.emplace_back("PRIORITY", std::to_string(logging::internal::systemLogPriorityForFlag(flag)));
        fields.emplace_back("MESSAGE", text);
        char uid[16];
        int n = std::snprintf(uid, sizeof uid, "%u", static_cast<unsigned>(geteuid()));
        if (n < 0 || static_cast<std::size_t>(n) >= sizeof uid) return std::nullopt;
        fields.emplace_back("READ_UID", uid);
        fields.emplace_back(kDDASLKeyDDLog, kDDASLDDLogValue);
        return fields;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

void DDASLLogger::logMessage(const DDLogMessagePtr& message) {
    if (message->fileName() == "DDASLLogCapture") return;
    DDText text = logFormatter_ ? logFormatter_->formatLogMessage(*message) : message->messageText();
    if (!text) return;
    if (auto fields = recordFields(*text, message->flag())) client_->send(*fields);
}
