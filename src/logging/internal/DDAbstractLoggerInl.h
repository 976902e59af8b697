#pragma once

// Template members of DDAbstractLogger; included at the end of DDAbstractLogger.h only.

#include <optional>
#include <type_traits>
#include <utility>

#include "logging/DDLog.h"

template <typename Read>
auto DDAbstractLogger::readSetting(Read read) -> decltype(read()) {
    using Result = decltype(read());
    static_assert(!std::is_reference_v<Result>,
                  "read a setting by value: the field belongs to another queue");
    if (isOnInternalLoggerQueue()) return read();
    std::optional<Result> result;
    const auto queue = loggerQueue_;
    const auto onLoggerQueue = [&] { queue->sync([&] { result.emplace(read()); }); };
    // Always logging queue first, then the logger's queue; on the logging queue already, only the second hop.
    if (DDLog::isOnLoggingQueue()) {
        onLoggerQueue();
    } else {
        DDLog::loggingQueue()->sync(onLoggerQueue);
    }
    return std::move(*result);
}

template <typename Change>
void DDAbstractLogger::changeSetting(Change change) {
    if (isOnInternalLoggerQueue()) {
        change();
        return;
    }
    auto toLoggerQueue = [self = weak_from_this().lock(), queue = loggerQueue_,
                          change = std::move(change)]() { queue->async([self, change] { change(); }); };
    if (DDLog::isOnLoggingQueue()) {
        toLoggerQueue();
    } else {
        DDLog::loggingQueue()->async(std::move(toLoggerQueue));
    }
}
