#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The little the journal loggers need of the system journal, behind an interface so that unit tests can use
// an in-process fake while production code talks to journald through libsystemd (JournalSystemd).
//
// Who calls it: `send` from any logger's queue (thread-safe); a `JournalReader` belongs to one capture run
// and is used only by that run's serialised handler (not thread-safe).
namespace logging::internal {

// One field of a record to write: an upper-case name ("MESSAGE") and its value (any bytes).
using JournalField = std::pair<std::string, std::string>;

// One record read back.
struct JournalRecord {
    // Opaque position of the record; `recordsAfter` continues behind it.
    std::string cursor;
    // The record's time in microseconds since 1970: the sender's own time when the journal has it, else the
    // time the journal received the record. Absent when the journal knows neither.
    std::optional<std::int64_t> realtimeUsec;
    // The fields the capture reads (MESSAGE, PRIORITY, DDLOG), those that are present.
    std::map<std::string, std::string> fields;

    const std::string* field(const std::string& name) const {
        auto it = fields.find(name);
        return it == fields.end() ? nullptr : &it->second;
    }
};

// A view of one process's records, with a descriptor that turns readable when the journal changes.
class JournalReader {
  public:
    virtual ~JournalReader() = default;

    // Readable when the journal may have changed; call `acknowledgeChange` before reading so that it stops
    // being readable for the changes already seen. Owned by the reader.
    virtual int changeFd() const = 0;
    virtual void acknowledgeChange() = 0;

    // The process's records received at or after `sinceUsec` (microseconds since 1970), in journal order.
    virtual std::vector<JournalRecord> recordsSince(std::int64_t sinceUsec) = 0;
    // The process's records after the one at `cursor`, in journal order.
    virtual std::vector<JournalRecord> recordsAfter(const std::string& cursor) = 0;
};

class Journal {
  public:
    virtual ~Journal() = default;

    // Writes one record; false when the journal refused it or cannot be reached. Thread-safe.
    virtual bool send(const std::vector<JournalField>& fields) = 0;
    // A reader limited to the records of process `pid`; null (after a diagnostic) when the journal cannot be
    // opened or watched.
    virtual std::unique_ptr<JournalReader> openReader(pid_t pid) = 0;
};

}  // namespace logging::internal
