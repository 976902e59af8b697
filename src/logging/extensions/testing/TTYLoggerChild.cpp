// For the colour-mode tests: writes error "E", warning "W", info "I" and debug "D\n", all at 2026-03-04
// 05:06:07.089 UTC, through the shared terminal logger in the colour mode its environment selects, colours
// enabled and debug in pure red. Exits with 1 when a logger made after the shared one is not refused.

#include <memory>

#include "logging/DDLog.h"
#include "logging/DDLogFlags.h"
#include "logging/extensions/DDTTYLogger.h"

int main() {
    const auto& logger = DDTTYLogger::sharedInstance();
    const bool secondRefused = DDTTYLogger::create() == nullptr;
    DDLog::sharedInstance().addLogger(logger);
    logger->setColorsEnabled(true);
    logger->setForegroundColor(CLIColor::colorWithCalibratedRed(1, 0, 0, 1), std::nullopt, LogFlag::Debug);

    const auto when = DDLogMessage::Clock::time_point(std::chrono::milliseconds(1772600767089));
    const std::pair<const char*, std::uint64_t> records[] = {
        {"E", LogFlag::Error}, {"W", LogFlag::Warning}, {"I", LogFlag::Info}, {"D\n", LogFlag::Debug}};
    for (const auto& [text, flag] : records) {
        DDLog::sharedInstance().log(
            false, std::make_shared<const DDLogMessage>(std::string(text), LogLevel::All, flag, 0, "c.cpp",
                                                        "main", 1, nullptr, 0, when));
    }
    DDLog::sharedInstance().flushLog();
    return secondRefused ? 0 : 1;
}
