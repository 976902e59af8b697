#include "logging/internal/JournalSystemd.h"

#include <sys/uio.h>
// Without this the header turns sd_journal_sendv into a macro that adds this file's CODE_FILE, CODE_LINE and
// CODE_FUNC to every record, beside the logging call's own location fields.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>

#include <charconv>
#include <cstdlib>
#include <string_view>

#include "logging/internal/Diagnostics.h"

namespace logging::internal {
namespace {

struct JournalCloser {
    void operator()(sd_journal* journal) const { sd_journal_close(journal); }
};
using JournalHandle = std::unique_ptr<sd_journal, JournalCloser>;

void diagnose(std::string_view what, int negativeErrno) {
    ddDiagnostic("JournalSystemd: " + std::string(what) + ": " + errnoDescription(-negativeErrno));
}

std::optional<std::string> readField(sd_journal* journal, const std::string& name) {
    const void* data = nullptr;
    size_t length = 0;
    if (sd_journal_get_data(journal, name.c_str(), &data, &length) < 0) return std::nullopt;
    // The data is "NAME=value".
    std::string_view entry(static_cast<const char*>(data), length);
    if (entry.size() <= name.size() || entry[name.size()] != '=') return std::nullopt;
    return std::string(entry.substr(name.size() + 1));
}

std::optional<std::int64_t> parseUsec(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    std::int64_t value = 0;
    auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (ec != std::errc() || end != text->data() + text->size() || value < 0) return std::nullopt;
    return value;
}

class SystemdReader : public JournalReader {
  public:
    SystemdReader(JournalHandle journal, int fd) : journal_(std::move(journal)), fd_(fd) {}

    int changeFd() const override { return fd_; }

    void acknowledgeChange() override {
        int r = sd_journal_process(journal_.get());
        if (r < 0) diagnose("sd_journal_process failed", r);
    }

    std::vector<JournalRecord> recordsSince(std::int64_t sinceUsec) override {
        int r = sd_journal_seek_realtime_usec(journal_.get(), static_cast<std::uint64_t>(sinceUsec));
        if (r < 0) {
            diagnose("sd_journal_seek_realtime_usec failed", r);
            return {};
        }
        return collect(nullptr, sinceUsec);
    }

    std::vector<JournalRecord> recordsAfter(const std::string& cursor) override {
        int r = sd_journal_seek_cursor(journal_.get(), cursor.c_str());
        if (r < 0) {
            diagnose("sd_journal_seek_cursor failed", r);
            return {};
        }
        return collect(&cursor, 0);
    }

  private:
    // Reads forward from the current seek position. The first entry after a cursor seek is the cursor's own
    // record (when it still exists) and is left out; records received before `sinceUsec` are left out too,
    // since a time seek over several files is only approximate.
    std::vector<JournalRecord> collect(const std::string* skipCursor, std::int64_t sinceUsec) {
        std::vector<JournalRecord> records;
        sd_journal* j = journal_.get();
        for (bool first = true;; first = false) {
            int r = sd_journal_next(j);
            if (r < 0) diagnose("sd_journal_next failed", r);
            if (r <= 0) break;
            if (first && skipCursor && sd_journal_test_cursor(j, skipCursor->c_str()) > 0) continue;
            std::uint64_t received = 0;
            bool haveReceived = sd_journal_get_realtime_usec(j, &received) >= 0;
            if (haveReceived && static_cast<std::int64_t>(received) < sinceUsec) continue;

            JournalRecord record;
            char* cursor = nullptr;
            if (sd_journal_get_cursor(j, &cursor) < 0) continue;  // cannot continue behind it: skip
            record.cursor = cursor;
            std::free(cursor);
            record.realtimeUsec = parseUsec(readField(j, "_SOURCE_REALTIME_TIMESTAMP"));
            if (!record.realtimeUsec && haveReceived)
                record.realtimeUsec = static_cast<std::int64_t>(received);
            for (const char* name : {"MESSAGE", "PRIORITY", "DDLOG"}) {
                if (auto value = readField(j, name)) record.fields.emplace(name, std::move(*value));
            }
            records.push_back(std::move(record));
        }
        return records;
    }

    JournalHandle journal_;
    int fd_;  // owned by journal_
};

}  // namespace

std::shared_ptr<Journal> JournalSystemd::shared() {
    static const std::shared_ptr<Journal> instance = std::make_shared<JournalSystemd>();
    return instance;
}

bool JournalSystemd::send(const std::vector<JournalField>& fields) {
    std::vector<std::string> entries;
    entries.reserve(fields.size());
    std::vector<iovec> iov;
    iov.reserve(fields.size());
    for (const auto& [name, value] : fields) {
        entries.push_back(name + "=" + value);
        iov.push_back({entries.back().data(), entries.back().size()});
    }
    return sd_journal_sendv(iov.data(), static_cast<int>(iov.size())) >= 0;
}

std::unique_ptr<JournalReader> JournalSystemd::openReader(pid_t pid) {
    sd_journal* raw = nullptr;
    int r = sd_journal_open(&raw, SD_JOURNAL_LOCAL_ONLY);
    if (r < 0) {
        diagnose("sd_journal_open failed", r);
        return nullptr;
    }
    JournalHandle journal(raw);
    // Long messages are read whole.
    sd_journal_set_data_threshold(journal.get(), 0);
    std::string match = "_PID=" + std::to_string(pid);
    r = sd_journal_add_match(journal.get(), match.data(), match.size());
    if (r < 0) {
        diagnose("sd_journal_add_match failed", r);
        return nullptr;
    }
    // Taken before the first read, as the change notification requires.
    int fd = sd_journal_get_fd(journal.get());
    if (fd < 0) {
        diagnose("sd_journal_get_fd failed", fd);
        return nullptr;
    }
    return std::make_unique<SystemdReader>(std::move(journal), fd);
}

}  // namespace logging::internal
