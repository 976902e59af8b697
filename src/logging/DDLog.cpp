#include "logging/DDLog.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <thread>

#include "logging/internal/DDRecordBound.h"
#include "logging/internal/DDRecordHome.h"
#include "logging/internal/Diagnostics.h"

using logging::internal::NoDestructor;

namespace {

const char kGlobalLoggingQueueIdentityKey = 0;
// Marks every queue the dispatcher delivers on: the logging queue waits for work running there.
const char kLoggerQueueKey = 0;

// Process-wide state, created on first use and never destroyed.
struct Globals {
    Globals()
        : loggingQueue(dispatch::SerialQueue::create("cocoa.vidadudidu")),
          numProcessors(std::max(1u, std::thread::hardware_concurrency())) {
        loggingQueue->setSpecific(&kGlobalLoggingQueueIdentityKey,
                                  const_cast<char*>(&kGlobalLoggingQueueIdentityKey));
    }
    std::shared_ptr<dispatch::SerialQueue> loggingQueue;
    dispatch::Group loggingGroup;  // only used on the logging queue
    unsigned numProcessors;
    logging::internal::RecordBound inFlight{DDLog::kDefaultMaximumRecordsInFlight};
};

Globals& globals() {
    static NoDestructor<Globals> instance;
    return *instance;
}

struct ClassRegistry {
    std::mutex mutex;
    std::vector<DDLog::RegisteredClass> classes;  // in registration order
};

ClassRegistry& classRegistry() {
    static NoDestructor<ClassRegistry> instance;
    return *instance;
}

// Set while this thread runs a logger's `logMessage` for the dispatcher.
thread_local bool tl_delivering = false;

void reportLoggerFailure(const char* what) {
    logging::internal::ddDiagnostic(std::string("DDLog: a logger failed: ") + what);
}

// A logger's failure must not reach the thread that logged, nor stop the other loggers.
template <typename Call>
void callLogger(Call&& call) {
    try {
        call();
    } catch (const std::exception& e) {
        reportLoggerFailure(e.what());
    } catch (...) {
        reportLoggerFailure("unknown exception");
    }
}

void deliver(DDLogger& logger, const DDLogMessagePtr& message) {
    const bool outer = tl_delivering;
    tl_delivering = true;
    callLogger([&] { logger.logMessage(message); });
    tl_delivering = outer;
}

// True when the caller runs on the logging queue or on a queue the dispatcher delivers on: the record that
// would make room could then only be delivered after this caller returns.
bool mustNotWaitForRoom() {
    return DDLog::loggingQueue()->isCurrent() || dispatch::Queue::anyCurrentHasSpecific(&kLoggerQueueKey);
}

// Takes a place for an asynchronous record, waiting for room when the bound is reached unless waiting could
// deadlock. A queue becomes a logger's when the logger is added, possibly while work on it already waits
// here: waiters check again every few milliseconds.
void acquirePlace(bool delivering) {
    logging::internal::RecordBound& bound = globals().inFlight;
    if (bound.tryAcquire()) return;
    if (delivering || mustNotWaitForRoom()) {
        bound.acquireNow();
    } else {
        bound.acquire(&mustNotWaitForRoom);
    }
}

void exitHook() {
    DDLog::sharedInstance().applicationWillTerminate();
}

}  // namespace

DDLog& DDLog::sharedInstance() {
    static NoDestructor<DDLog> instance;
    return *instance;
}

const std::shared_ptr<dispatch::SerialQueue>& DDLog::loggingQueue() {
    return globals().loggingQueue;
}

const void* DDLog::globalLoggingQueueIdentityKey() {
    return &kGlobalLoggingQueueIdentityKey;
}

bool DDLog::isOnLoggingQueue() {
    return dispatch::Queue::currentSpecific(&kGlobalLoggingQueueIdentityKey) != nullptr;
}

unsigned DDLog::numProcessors() {
    return globals().numProcessors;
}

void DDLog::setMaximumRecordsInFlight(std::size_t count) {
    globals().inFlight.setLimit(count);
}

std::size_t DDLog::maximumRecordsInFlight() const {
    return globals().inFlight.limit();
}

std::size_t DDLog::recordsInFlight() const {
    return globals().inFlight.inFlight();
}

DDLog::DDLog() {
    loggers_.reserve(4);
    // The dispatch layer's own statics must be built before the hook is registered, so that they are torn
    // down only after it has run: exercise a queue, a group and a worker once (on a queue of its own, since
    // the dispatcher may be first used from the logging queue).
    globals();
    const auto warmUp = dispatch::SerialQueue::create("cocoa.vidadudidu.warmUp");
    dispatch::Group group;
    group.async(*warmUp, [] {});
    group.wait();
    std::atexit(&exitHook);
}

void DDLog::addLogger(DDLoggerPtr logger, std::uint64_t level) {
    if (!logger) return;
    loggingQueue()->async([logger = std::move(logger), level]() mutable {
        sharedInstance().lt_addLogger(std::move(logger), level);
    });
}

void DDLog::removeLogger(const DDLoggerPtr& logger) {
    if (!logger) return;
    loggingQueue()->async([logger] { sharedInstance().lt_removeLogger(logger); });
}

void DDLog::removeAllLoggers() {
    loggingQueue()->async([] { sharedInstance().lt_removeAllLoggers(); });
}

std::vector<DDLoggerPtr> DDLog::allLoggers() {
    if (isOnLoggingQueue()) return lt_allLoggers();
    std::vector<DDLoggerPtr> result;
    loggingQueue()->sync([&] { result = lt_allLoggers(); });
    return result;
}

std::vector<DDLoggerInformation> DDLog::allLoggersWithLevel() {
    if (isOnLoggingQueue()) return lt_allLoggersWithLevel();
    std::vector<DDLoggerInformation> result;
    loggingQueue()->sync([&] { result = lt_allLoggersWithLevel(); });
    return result;
}

void DDLog::flushLog() {
    if (isOnLoggingQueue()) {
        lt_flush();  // waiting for the logging queue from the logging queue would never return
        return;
    }
    loggingQueue()->sync([this] { lt_flush(); });
}

void DDLog::applicationWillTerminate() {
    flushLog();
}

void DDLog::log(bool asynchronous, std::string message, std::uint64_t level, std::uint64_t flag,
                std::int64_t context, const char* file, const char* function, std::uint64_t line, DDTag tag) {
    using logging::internal::RecordHome;
    const std::string_view fileText = file != nullptr ? file : "";
    const std::string_view functionText = function != nullptr ? function : "";
    std::shared_ptr<DDLogMessage> record;
    if (RecordHome* home = RecordHome::current()) {
        home->collect();
        // Text and record both come from this thread's home and go back to it.
        std::shared_ptr<const std::string> text = std::allocate_shared<const std::string>(
            logging::internal::HomeAllocator<std::string>(home), std::move(message));
        RecordHome::adoptLastBlock(text.get());
        record = std::allocate_shared<DDLogMessage>(logging::internal::HomeAllocator<DDLogMessage>(home),
                                                    std::move(text), level, flag, context, fileText,
                                                    functionText, line, std::move(tag), 0, std::nullopt);
        RecordHome::adoptLastBlock(record.get());
    } else {
        record = std::make_shared<DDLogMessage>(std::move(message), level, flag, context, fileText,
                                                functionText, line, std::move(tag), 0, std::nullopt);
    }
    if (!asynchronous) {
        queueLogMessage(std::move(record), false);
        return;
    }
    acquirePlace(tl_delivering);
    // Nobody else has seen this record yet, so it can hold the queue's reference itself (see QueueHold).
    DDLogMessage* parked = record.get();
    parked->queueHold_.self = std::move(record);
    loggingQueue()->async([parked] {
        const DDLogMessagePtr message = std::move(parked->queueHold_.self);
        sharedInstance().lt_log(message);
        globals().inFlight.release();
    });
}

void DDLog::queueLogMessage(DDLogMessagePtr message, bool asynchronous) {
    if (!message) return;
    if (!asynchronous && isOnLoggingQueue()) {
        lt_log(message);
        return;
    }
    if (asynchronous || tl_delivering) {
        acquirePlace(tl_delivering);
        // The closure holds only the record so that it fits the function object without an allocation.
        loggingQueue()->async([message = std::move(message)] {
            sharedInstance().lt_log(message);
            globals().inFlight.release();
        });
        return;
    }
    loggingQueue()->sync([&] { lt_log(message); });
}

void DDLog::lt_addLogger(DDLoggerPtr logger, std::uint64_t level) {
    for (const DDLoggerNode& node : loggers_) {
        if (node.logger == logger && node.level == level) return;
    }
    std::shared_ptr<dispatch::SerialQueue> queue = logger->loggerQueue();
    if (!queue) queue = dispatch::SerialQueue::create(logger->loggerName());
    queue->setSpecific(&kLoggerQueueKey, const_cast<char*>(&kLoggerQueueKey));
    loggers_.push_back({logger, level, queue});
    queue->async([logger, queue] { callLogger([&] { logger->didAddLoggerInQueue(queue); }); });
}

void DDLog::lt_removeLogger(const DDLoggerPtr& logger) {
    const auto it = std::find_if(loggers_.begin(), loggers_.end(),
                                 [&](const DDLoggerNode& node) { return node.logger == logger; });
    if (it == loggers_.end()) return;
    it->loggerQueue->async([logger = it->logger] { callLogger([&] { logger->willRemoveLogger(); }); });
    loggers_.erase(it);
}

void DDLog::lt_removeAllLoggers() {
    for (const DDLoggerNode& node : loggers_) {
        node.loggerQueue->async([logger = node.logger] { callLogger([&] { logger->willRemoveLogger(); }); });
    }
    loggers_.clear();
}

std::vector<DDLoggerPtr> DDLog::lt_allLoggers() {
    std::vector<DDLoggerPtr> result;
    result.reserve(loggers_.size());
    for (const DDLoggerNode& node : loggers_) result.push_back(node.logger);
    return result;
}

std::vector<DDLoggerInformation> DDLog::lt_allLoggersWithLevel() {
    std::vector<DDLoggerInformation> result;
    result.reserve(loggers_.size());
    for (const DDLoggerNode& node : loggers_) result.push_back({node.logger, node.level});
    return result;
}

void DDLog::lt_log(const DDLogMessagePtr& message) {
    const std::uint64_t flag = message->flag();
    Globals& g = globals();
    if (g.numProcessors == 1) {
        for (const DDLoggerNode& node : loggers_) {
            if ((node.level & flag) == 0) continue;
            node.loggerQueue->sync([&] { deliver(*node.logger, message); });
        }
        return;
    }
    // The last admitted logger is called synchronously: on an idle queue that runs right here, without waking
    // a thread. The others run in parallel as group members. `loggers_` cannot change meanwhile (it only
    // changes on this queue), so the members may refer to the node's logger and to `message` directly.
    const DDLoggerNode* last = nullptr;
    bool grouped = false;
    for (const DDLoggerNode& node : loggers_) {
        if ((node.level & flag) == 0) continue;
        if (last != nullptr) {
            DDLogger* logger = last->logger.get();
            g.loggingGroup.async(*last->loggerQueue, [logger, &message] { deliver(*logger, message); });
            grouped = true;
        }
        last = &node;
    }
    if (last == nullptr) return;
    last->loggerQueue->sync([&] { deliver(*last->logger, message); });
    if (grouped) g.loggingGroup.wait();
}

void DDLog::lt_flush() {
    Globals& g = globals();
    for (const DDLoggerNode& node : loggers_) {
        DDLogger* logger = node.logger.get();
        g.loggingGroup.async(*node.loggerQueue, [logger] { callLogger([&] { logger->flush(); }); });
    }
    g.loggingGroup.wait();
}

void DDLog::registerClass(RegisteredClass registered) {
    ClassRegistry& registry = classRegistry();
    const std::lock_guard lock(registry.mutex);
    for (RegisteredClass& existing : registry.classes) {
        if (existing.name == registered.name) {
            existing = std::move(registered);
            return;
        }
    }
    registry.classes.push_back(std::move(registered));
}

bool DDLog::isRegisteredClass(const std::string& name) {
    ClassRegistry& registry = classRegistry();
    const std::lock_guard lock(registry.mutex);
    return std::any_of(registry.classes.begin(), registry.classes.end(),
                       [&](const RegisteredClass& c) { return c.name == name && c.getLevel && c.setLevel; });
}

std::vector<std::string> DDLog::registeredClassNames() {
    ClassRegistry& registry = classRegistry();
    const std::lock_guard lock(registry.mutex);
    std::vector<std::string> names;
    for (const RegisteredClass& c : registry.classes) {
        if (c.getLevel && c.setLevel) names.push_back(c.name);
    }
    return names;
}

std::uint64_t DDLog::levelForClassWithName(const std::string& name) {
    std::function<std::uint64_t()> getLevel;
    {
        ClassRegistry& registry = classRegistry();
        const std::lock_guard lock(registry.mutex);
        for (const RegisteredClass& c : registry.classes) {
            if (c.name == name && c.getLevel && c.setLevel) getLevel = c.getLevel;
        }
    }
    return getLevel ? getLevel() : LogLevel::All;  // called outside the lock: it may use the registry itself
}

void DDLog::setLevelForClassWithName(std::uint64_t level, const std::string& name) {
    std::function<void(std::uint64_t)> setLevel;
    {
        ClassRegistry& registry = classRegistry();
        const std::lock_guard lock(registry.mutex);
        for (const RegisteredClass& c : registry.classes) {
            if (c.name == name && c.getLevel && c.setLevel) setLevel = c.setLevel;
        }
    }
    if (setLevel) setLevel(level);
}
