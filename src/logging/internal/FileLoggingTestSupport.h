#pragma once

// Helpers shared by the file-logging tests: a temporary directory removed at the end, whole-file reads, a
// manual wall clock, and a wait-until for work that other queues finish.

#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "logging/DDLogFileInfo.h"

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
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// How often `needle` occurs in `text` (for diagnostics printed once per attempt).
inline std::size_t occurrences(const std::string& text, const std::string& needle) {
    std::size_t n = 0;
    for (std::size_t at = 0; (at = text.find(needle, at)) != std::string::npos; at += needle.size()) ++n;
    return n;
}

inline void writeFile(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
}

// A wall clock that stands still until moved; safe to read from any queue.
class ManualClock {
  public:
    ManualClock() : nanos_(std::chrono::system_clock::now().time_since_epoch().count()) {}
    std::chrono::system_clock::time_point now() const {
        return std::chrono::system_clock::time_point(std::chrono::system_clock::duration(nanos_.load()));
    }
    void set(std::chrono::system_clock::time_point t) { nanos_.store(t.time_since_epoch().count()); }
    void advance(std::chrono::duration<double> d) {
        nanos_.fetch_add(std::chrono::duration_cast<std::chrono::system_clock::duration>(d).count());
    }
    DDWallClock function() {
        return [self = shared()] { return self->now(); };
    }

  private:
    std::shared_ptr<ManualClock> shared() { return self_.lock(); }
    friend std::shared_ptr<ManualClock> makeManualClock();
    std::weak_ptr<ManualClock> self_;
    std::atomic<std::chrono::system_clock::rep> nanos_;
};

inline std::shared_ptr<ManualClock> makeManualClock() {
    auto clock = std::make_shared<ManualClock>();
    clock->self_ = clock;
    return clock;
}

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
