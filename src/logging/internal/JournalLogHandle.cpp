#include "logging/internal/JournalLogHandle.h"

#include <utility>
#include <vector>

namespace logging::internal {

JournalLogHandle::JournalLogHandle(std::shared_ptr<Journal> journal,
                                   const std::optional<std::string>& subsystem,
                                   const std::optional<std::string>& category)
    : journal_(std::move(journal)) {
    // Both or neither: a handle with only one of the two names is the default log.
    if (subsystem && category) {
        subsystem_ = subsystem;
        category_ = category;
    }
}

bool JournalLogHandle::isTypeEnabled(OsLogType type) const {
    return journalPriorityForOsLogType(type) <= priorityCeiling();
}

bool JournalLogHandle::emit(OsLogType type, std::string_view text, std::string_view file, std::uint64_t line,
                            std::string_view function) const {
    std::vector<JournalField> fields;
    fields.reserve(8);
    fields.emplace_back("MESSAGE", std::string(text));
    fields.emplace_back("PRIORITY", std::to_string(journalPriorityForOsLogType(type)));
    if (subsystem_) {
        fields.emplace_back("SUBSYSTEM", *subsystem_);
        fields.emplace_back("CATEGORY", *category_);
    }
    if (!file.empty()) fields.emplace_back("CODE_FILE", std::string(file));
    if (line != 0) fields.emplace_back("CODE_LINE", std::to_string(line));
    if (!function.empty()) fields.emplace_back("CODE_FUNC", std::string(function));
    // On this platform the OS log and the system log are one journal: the marker keeps the capture from
    // reading these records back and handing every line to the other loggers a second time.
    fields.emplace_back(kDDASLKeyDDLog, kDDASLDDLogValue);
    return journal_->send(fields);
}

}  // namespace logging::internal
