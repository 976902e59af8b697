#include "logging/DDASLLogCapture.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <utility>

#include "dispatch/ConcurrentQueue.h"
#include "dispatch/FdSource.h"
#include "logging/DDASLLogger.h"
#include "logging/DDLog.h"
#include "logging/DDLogFlags.h"
#include "logging/DDLogMessage.h"
#include "logging/internal/Diagnostics.h"
#include "logging/internal/JournalLevels.h"
#include "logging/internal/JournalSystemd.h"

using logging::internal::Journal;
using logging::internal::JournalReader;
using logging::internal::JournalRecord;

namespace {

std::atomic<bool> captureFlag{false};
std::atomic<std::uint64_t> captureLevelValue{LogLevel::Verbose};

// Guards the decision whether a run exists, so that a run ending and a `start` cannot both miss each other.
std::mutex stateMutex;
bool runActive = false;                   // guarded by stateMutex
std::shared_ptr<Journal> captureJournal;  // guarded by stateMutex; null means the system journal

// One capture run. Its handler is serialised by `mutex`: the cursor bookkeeping and the order of delivery
// depend on one search finishing before the next begins.
struct CaptureRun {
    std::mutex mutex;
    std::int64_t startSecond = 0;
    std::string lastCursor;                      // empty before the first record is taken
    std::unique_ptr<JournalReader> reader;       // null once the run has ended
    std::unique_ptr<dispatch::FdSource> source;  // holds the handler, which holds the run, until the end
};

void endRun(const std::shared_ptr<CaptureRun>& run) {
    // Called with run->mutex held, from the run's own handler: the source cannot be destroyed here, so the
    // reference cycle (source → handler → run) is broken on another queue once this handler has let go.
    run->source->cancel();
    dispatch::Queue::global()->async([run] {
        std::lock_guard lock(run->mutex);
        run->source.reset();
        run->reader.reset();
    });
}

void handleChange(const std::shared_ptr<CaptureRun>& run) {
    std::lock_guard lock(run->mutex);
    if (!run->reader) return;
    run->reader->acknowledgeChange();
    auto records = run->lastCursor.empty() ? run->reader->recordsSince(run->startSecond * 1'000'000)
                                           : run->reader->recordsAfter(run->lastCursor);
    for (const auto& record : records) {
        if (DDASLLogCapture::configureAslQuery(record)) DDASLLogCapture::aslMessageReceived(record);
        run->lastCursor = record.cursor;
    }
    bool end = false;
    {
        std::lock_guard state(stateMutex);
        if (!captureFlag.load()) {
            runActive = false;
            end = true;
        }
    }
    if (end) endRun(run);
}

void abandonRun(const char* why) {
    logging::internal::ddDiagnostic(std::string("DDASLLogCapture: ") + why);
    std::lock_guard state(stateMutex);
    runActive = false;
    captureFlag.store(false);
}

void beginRun() {
    std::shared_ptr<Journal> journal;
    {
        std::lock_guard state(stateMutex);
        journal = captureJournal ? captureJournal : logging::internal::JournalSystemd::shared();
    }
    auto run = std::make_shared<CaptureRun>();
    std::lock_guard lock(run->mutex);
    run->startSecond =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    run->reader = journal->openReader(getpid());
    if (!run->reader) return abandonRun("Cannot open the journal; nothing is captured");
    run->source = dispatch::FdSource::create(run->reader->changeFd(), dispatch::FdSource::Kind::Read,
                                             dispatch::Queue::global(dispatch::Qos::UserInitiated),
                                             [run] { handleChange(run); });
    if (!run->source) {
        run->reader.reset();
        return abandonRun("Cannot watch the journal; nothing is captured");
    }
}

}  // namespace

void DDASLLogCapture::start() {
    {
        std::lock_guard state(stateMutex);
        if (captureFlag.load()) return;
        captureFlag.store(true);
        // A run that has not yet seen its last notification simply goes on.
        if (runActive) return;
        runActive = true;
    }
    dispatch::Queue::global()->async(beginRun);
}

void DDASLLogCapture::stop() {
    captureFlag.store(false);
}

bool DDASLLogCapture::isCapturing() {
    return captureFlag.load();
}

std::uint64_t DDASLLogCapture::captureLevel() {
    return captureLevelValue.load(std::memory_order_relaxed);
}

void DDASLLogCapture::setCaptureLevel(std::uint64_t level) {
    captureLevelValue.store(level, std::memory_order_relaxed);
}

void DDASLLogCapture::captureAslLogs() {
    {
        std::lock_guard state(stateMutex);
        if (runActive) return;
        runActive = true;
        captureFlag.store(true);
    }
    beginRun();
}

bool DDASLLogCapture::configureAslQuery(const JournalRecord& record) {
    if (const auto* priority = record.field("PRIORITY");
        priority && logging::internal::parsePriorityText(*priority) > 7) {
        return false;
    }
    const auto* marker = record.field(kDDASLKeyDDLog);
    return !marker || *marker != kDDASLDDLogValue;
}

void DDASLLogCapture::aslMessageReceived(const JournalRecord& record) {
    const auto* text = record.field("MESSAGE");
    if (!text) return;
    const auto* priorityText = record.field("PRIORITY");
    long long priority = priorityText ? logging::internal::parsePriorityText(*priorityText) : 0;
    auto [flag, synchronous] = logging::internal::capturedLevelForPriority(priority);
    std::uint64_t level = captureLevel();
    if ((level & flag) == 0) return;

    DDLogMessage::Clock::time_point timestamp =
        record.realtimeUsec
            ? DDLogMessage::Clock::time_point(std::chrono::duration_cast<DDLogMessage::Clock::duration>(
                  std::chrono::microseconds(*record.realtimeUsec)))
            : DDLogMessage::Clock::now();
    auto message = std::make_shared<const DDLogMessage>(*text, level, flag, 0, "DDASLLogCapture", "", 0,
                                                        nullptr, 0, timestamp);
    DDLog::sharedInstance().log(!synchronous, message);
}

void DDASLLogCapture::setJournal(std::shared_ptr<Journal> journal) {
    std::lock_guard state(stateMutex);
    captureJournal = std::move(journal);
}
