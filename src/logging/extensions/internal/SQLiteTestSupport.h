#pragma once

// Helpers shared by the SQLite logger's tests: reading the database with the sqlite3 command, and handing
// records to a logger and saving them while standard error is captured.

#include <gtest/gtest.h>
#include <stdio.h>

#include <memory>
#include <string>
#include <vector>

#include "logging/extensions/DDSQLiteLogger.h"
#include "logging/internal/FileLoggingTestSupport.h"

namespace logging::internal::testing {

// What the sqlite3 command prints for `sql` on the database at `path` (rows "|"-separated, one a line),
// errors included. Not while another thread captures standard error: the capture's fflush(nullptr) would wait
// for the stream this one is reading.
inline std::string sqlite3Command(const std::string& path, const std::string& sql) {
    FILE* pipe = ::popen(("sqlite3 -batch '" + path + "' \"" + sql + "\" 2>&1").c_str(), "r");
    if (pipe == nullptr) return "<popen failed>";
    std::string out;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    ::pclose(pipe);
    return out;
}

// Hands `texts` to the logger and saves them, on its queue; returns what the save printed on standard error.
inline std::string logAndSave(DDSQLiteLogger& logger, const std::vector<std::string>& texts) {
    ::testing::internal::CaptureStderr();
    logger.loggerQueue()->sync([&] {
        for (const auto& text : texts) logger.logMessage(record(text));
        logger.flush();
    });
    return ::testing::internal::GetCapturedStderr();
}

}  // namespace logging::internal::testing
