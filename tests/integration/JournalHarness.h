#pragma once

// For GoogleTest programs run under tests/integration/journal-harness.sh: JOURNAL_HARNESS_REQUIRED() skips
// with the harness's reason when there is no private journald; waitForRecords/readRecords read it back.

#include <systemd/sd-journal.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace journal_harness {

// Why journal tests cannot run here, or nothing when the private journald is up.
inline std::optional<std::string> unavailableReason() {
    const char* state = std::getenv("JOURNAL_HARNESS");
    if (state && std::strcmp(state, "ready") == 0) return std::nullopt;
    const char* reason = std::getenv("JOURNAL_HARNESS_REASON");
    return std::string("journal harness unavailable: ") +
           (state ? (reason ? reason : "no reason given")
                  : "not run under tests/integration/journal-harness.sh");
}

#define JOURNAL_HARNESS_REQUIRED()                                                \
    do {                                                                          \
        if (auto journalHarnessReason = ::journal_harness::unavailableReason()) { \
            GTEST_SKIP() << *journalHarnessReason;                                \
        }                                                                         \
    } while (false)

// A record's fields in journal order; a name may occur more than once (`get` gives the first value).
using Fields = std::multimap<std::string, std::string>;

inline std::string get(const Fields& fields, const std::string& name) {
    auto it = fields.lower_bound(name);
    return it == fields.end() || it->first != name ? "<absent>" : it->second;
}

// Every record of the local journal that `match` accepts, in journal order.
inline std::vector<Fields> readRecords(const std::function<bool(const Fields&)>& match) {
    std::vector<Fields> out;
    sd_journal* journal = nullptr;
    if (sd_journal_open(&journal, SD_JOURNAL_LOCAL_ONLY) < 0) return out;
    sd_journal_set_data_threshold(journal, 0);
    while (sd_journal_next(journal) > 0) {
        Fields fields;
        const void* data;
        size_t length;
        SD_JOURNAL_FOREACH_DATA(journal, data, length) {
            std::string entry(static_cast<const char*>(data), length);
            auto eq = entry.find('=');
            if (eq != std::string::npos) fields.emplace(entry.substr(0, eq), entry.substr(eq + 1));
        }
        if (match(fields)) out.push_back(std::move(fields));
    }
    sd_journal_close(journal);
    return out;
}

// Waits (up to ten seconds) until at least `count` records match, and returns those found.
inline std::vector<Fields> waitForRecords(const std::function<bool(const Fields&)>& match,
                                          std::size_t count) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        auto records = readRecords(match);
        if (records.size() >= count || std::chrono::steady_clock::now() > deadline) return records;
        // journald writes asynchronously to the sender; a short pause between full re-reads is enough.
        struct timespec pause = {0, 20'000'000};
        nanosleep(&pause, nullptr);
    }
}

}  // namespace journal_harness
