#pragma once

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "logging/internal/Journal.h"

// An in-process journal for unit tests: keeps what the loggers send, and serves records that a test appends
// to readers, with an eventfd per reader as the change descriptor. Thread-safe.
namespace logging::internal {

class JournalFake : public Journal, public std::enable_shared_from_this<JournalFake> {
  public:
    struct Stored {
        pid_t pid;
        std::int64_t receivedUsec;
        JournalRecord record;
    };

    // --- writing side
    bool send(const std::vector<JournalField>& fields) override {
        std::lock_guard lock(mutex_);
        if (refuseSends_) return false;
        sent_.push_back(fields);
        return true;
    }
    std::vector<std::vector<JournalField>> sent() const {
        std::lock_guard lock(mutex_);
        return sent_;
    }
    void setRefuseSends(bool refuse) {
        std::lock_guard lock(mutex_);
        refuseSends_ = refuse;
    }

    // --- reading side
    // Appends a record (its cursor is its position) and notifies every open reader.
    void append(pid_t pid, std::int64_t receivedUsec, JournalRecord record) {
        std::lock_guard lock(mutex_);
        record.cursor = std::to_string(records_.size());
        records_.push_back({pid, receivedUsec, std::move(record)});
        for (auto* reader : readers_) reader->notify();
    }
    std::unique_ptr<JournalReader> openReader(pid_t pid) override {
        std::lock_guard lock(mutex_);
        ++readersOpened_;
        if (refuseReaders_) return nullptr;
        auto reader = std::make_unique<Reader>(shared_from_this(), pid);
        readers_.push_back(reader.get());
        return reader;
    }
    void setRefuseReaders(bool refuse) {
        std::lock_guard lock(mutex_);
        refuseReaders_ = refuse;
    }
    int readersOpened() const {
        std::lock_guard lock(mutex_);
        return readersOpened_;
    }
    int readersOpen() const {
        std::lock_guard lock(mutex_);
        return static_cast<int>(readers_.size());
    }

  private:
    class Reader : public JournalReader {
      public:
        Reader(std::shared_ptr<JournalFake> journal, pid_t pid)
            : journal_(std::move(journal)), pid_(pid), fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
        ~Reader() override {
            {
                std::lock_guard lock(journal_->mutex_);
                auto& readers = journal_->readers_;
                readers.erase(std::remove(readers.begin(), readers.end(), this), readers.end());
            }
            close(fd_);
        }
        int changeFd() const override { return fd_; }
        void acknowledgeChange() override {
            std::uint64_t count;
            [[maybe_unused]] auto n = read(fd_, &count, sizeof count);
        }
        std::vector<JournalRecord> recordsSince(std::int64_t sinceUsec) override {
            return select([&](std::size_t, const Stored& s) { return s.receivedUsec >= sinceUsec; });
        }
        std::vector<JournalRecord> recordsAfter(const std::string& cursor) override {
            std::size_t after = std::stoul(cursor);
            return select([&](std::size_t index, const Stored&) { return index > after; });
        }
        void notify() {
            std::uint64_t one = 1;
            [[maybe_unused]] auto n = write(fd_, &one, sizeof one);
        }

      private:
        template <typename Keep>
        std::vector<JournalRecord> select(Keep keep) {
            std::lock_guard lock(journal_->mutex_);
            std::vector<JournalRecord> out;
            const auto& records = journal_->records_;
            for (std::size_t i = 0; i < records.size(); ++i) {
                if (records[i].pid == pid_ && keep(i, records[i])) out.push_back(records[i].record);
            }
            return out;
        }
        std::shared_ptr<JournalFake> journal_;
        pid_t pid_;
        int fd_;
    };

    mutable std::mutex mutex_;
    std::vector<std::vector<JournalField>> sent_;
    bool refuseSends_ = false;
    std::vector<Stored> records_;
    std::vector<Reader*> readers_;
    int readersOpened_ = 0;
    bool refuseReaders_ = false;
};

// The value of the first field called `name`, or "<absent>".
inline std::string fieldValue(const std::vector<JournalField>& fields, const std::string& name) {
    for (const auto& [key, value] : fields) {
        if (key == name) return value;
    }
    return "<absent>";
}

}  // namespace logging::internal
