#pragma once

// Helpers shared by the file-logging tests: a temporary directory removed at the end, whole-file reads, log
// file names and marks, records, a manual wall clock, and a wait-until for work that other queues finish.

#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <thread>

#include "logging/DDLogFileInfo.h"
#include "logging/DDLogFileManagerDefault.h"
#include "logging/DDLogFlags.h"
#include "logging/DDLogMessage.h"

namespace logging::internal::testing {

class TempDir {
  public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "ddfile-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return (std::filesystem::path(path_) / name).string(); }

  private:
    std::string path_;
};

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline void writeFile(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
}

inline std::size_t occurrences(const std::string& text, const std::string& needle) {
    std::size_t n = 0;
    for (std::size_t at = 0; (at = text.find(needle, at)) != std::string::npos; at += needle.size()) ++n;
    return n;
}

// The name of this application's log file for a date such as "2026-12-06--03-26-14-123".
inline std::string logName(const std::string& date) {
    return DDLogFileManagerDefault().applicationName() + " " + date + ".log";
}

inline bool archived(const std::string& path) {
    return DDLogFileInfo(path).isArchived();
}

inline DDLogMessagePtr record(std::string text,
                              std::optional<std::chrono::system_clock::time_point> when = std::nullopt) {
    return std::make_shared<DDLogMessage>(std::move(text), LogLevel::All, LogFlag::Info, 0, "f.cpp", "fn", 1,
                                          nullptr, 0, when);
}

// A wall clock that stands still until moved; copies share one time, readable from any queue.
class ManualClock {
  public:
    std::chrono::system_clock::time_point now() const {
        return std::chrono::system_clock::time_point(std::chrono::system_clock::duration(nanos_->load()));
    }
    void set(std::chrono::system_clock::time_point t) { nanos_->store(t.time_since_epoch().count()); }
    void advance(std::chrono::system_clock::duration d) { set(now() + d); }
    DDWallClock function() const {
        return [clock = *this] { return clock.now(); };
    }

  private:
    std::shared_ptr<std::atomic<std::chrono::system_clock::rep>> nanos_ =
        std::make_shared<std::atomic<std::chrono::system_clock::rep>>(
            std::chrono::system_clock::now().time_since_epoch().count());
};

// Polls `condition` for up to five seconds; for results that another queue produces asynchronously.
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace logging::internal::testing
