#include "logging/extensions/DDTTYLogger.h"

#include <errno.h>
#include <poll.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "logging/DDLog.h"
#include "logging/DDLogFlags.h"
#include "logging/DDLoggerNames.h"
#include "logging/extensions/internal/TTYColorState.h"
#include "logging/internal/Diagnostics.h"

using logging::internal::TTYColorState;

namespace {

std::atomic<bool> sharedInstanceExists{false};

// How long a line waits for a non-blocking descriptor that is full before the rest of it is dropped.
constexpr int kFullDescriptorWaitMs = 1000;

// Writes every byte of `pieces` to standard error: a short write (a signal, a full non-blocking pipe) goes on
// with the rest instead of leaving half a line. Gives up on any other error.
void writeLine(iovec* pieces, int count) {
    while (count > 0) {
        const ssize_t written = ::writev(STDERR_FILENO, pieces, count);
        if (written < 0) {
            if (errno == EINTR) continue;
            pollfd writable{STDERR_FILENO, POLLOUT, 0};
            if ((errno == EAGAIN || errno == EWOULDBLOCK) &&
                ::poll(&writable, 1, kFullDescriptorWaitMs) > 0) {
                continue;
            }
            return;
        }
        auto left = static_cast<std::size_t>(written);
        while (count > 0 && left >= pieces->iov_len) {
            left -= pieces->iov_len;
            ++pieces;
            --count;
        }
        if (count > 0) {
            pieces->iov_base = static_cast<char*>(pieces->iov_base) + left;
            pieces->iov_len -= left;
        }
    }
}

iovec piece(const char* bytes, std::size_t length) {
    return iovec{const_cast<char*>(bytes), length};
}

bool endsWithNewline(const std::string& text) {
    return !text.empty() && text.back() == '\n';
}

}  // namespace

const std::shared_ptr<DDTTYLogger>& DDTTYLogger::sharedInstance() {
    static const std::shared_ptr<DDTTYLogger> instance = [] {
        auto logger = create();
        sharedInstanceExists.store(true, std::memory_order_release);
        return logger;
    }();
    return instance;
}

std::shared_ptr<DDTTYLogger> DDTTYLogger::create() {
    if (sharedInstanceExists.load(std::memory_order_acquire)) return nullptr;
    // Every logger, not only the shared one, sees the colour mode: one made before the shared instance would
    // otherwise never show colours on a colour terminal.
    TTYColorState::detectOnce();
    logging::internal::ddDiagnostic(
        "DDTTYLogger: the terminal logger is in use while the journal logger (DDOSLogger) is available; "
        "DDOSLogger is recommended for logs that outlast the terminal");
    const std::string& name = logging::internal::processName();
    return std::make_shared<DDTTYLogger>(Private{}, name.empty() ? "<UnnamedApp>" : name);
}

DDTTYLogger::DDTTYLogger(Private, std::string app) : _app(std::move(app)), _pid(std::to_string(::getpid())) {
    _colorProfilesArray.reserve(8);
    _colorProfilesDict.reserve(8);
    initLoggerQueue();
}

std::string DDTTYLogger::loggerName() {
    return DDLoggerNameTTY;
}

bool DDTTYLogger::colorsEnabled() {
    return readSetting([this] { return _colorsEnabled; });
}

void DDTTYLogger::setColorsEnabled(bool enabled) {
    // Always the two hops, even from this logger's queue: the change lands behind the records already queued.
    auto self = std::static_pointer_cast<DDTTYLogger>(shared_from_this());
    DDLog::loggingQueue()->async([self, enabled] {
        self->loggerQueue_->async([self, enabled] {
            self->_colorsEnabled = enabled;
            if (self->_colorProfilesArray.empty()) self->lt_loadDefaultColorProfiles();
        });
    });
}

template <typename Change>
void DDTTYLogger::changeProfiles(Change change) {
    changeSetting([this, change = std::move(change)] { change(*this); });
}

void DDTTYLogger::setForegroundColor(const std::optional<CLIColor>& foreground,
                                     const std::optional<CLIColor>& background, std::uint64_t mask) {
    setForegroundColor(foreground, background, mask, LogContextAll);
}

void DDTTYLogger::setForegroundColor(const std::optional<CLIColor>& foreground,
                                     const std::optional<CLIColor>& background, std::uint64_t mask,
                                     std::int64_t context) {
    ProfilePtr profile = DDTTYLoggerColorProfile::create(foreground, background, mask, context);
    if (!profile) return;
    changeProfiles([profile](DDTTYLogger& logger) { logger.lt_setFlagProfile(profile); });
}

void DDTTYLogger::setForegroundColor(const std::optional<CLIColor>& foreground,
                                     const std::optional<CLIColor>& background, DDTag tag) {
    ProfilePtr profile = DDTTYLoggerColorProfile::create(foreground, background, 0, 0);
    if (!profile || !tag) return;
    changeProfiles([profile, tag](DDTTYLogger& logger) { logger._colorProfilesDict[tag] = profile; });
}

void DDTTYLogger::clearColorsForFlag(std::uint64_t mask) {
    clearColorsForFlag(mask, 0);
}

void DDTTYLogger::clearColorsForFlag(std::uint64_t mask, std::int64_t context) {
    changeProfiles([mask, context](DDTTYLogger& logger) {
        auto& profiles = logger._colorProfilesArray;
        auto found = std::find_if(profiles.begin(), profiles.end(), [&](const ProfilePtr& profile) {
            return profile->mask == mask && profile->context == context;
        });
        if (found != profiles.end()) profiles.erase(found);
    });
}

void DDTTYLogger::clearColorsForTag(DDTag tag) {
    changeProfiles([tag](DDTTYLogger& logger) { logger._colorProfilesDict.erase(tag); });
}

void DDTTYLogger::clearColorsForAllFlags() {
    changeProfiles([](DDTTYLogger& logger) { logger._colorProfilesArray.clear(); });
}

void DDTTYLogger::clearColorsForAllTags() {
    changeProfiles([](DDTTYLogger& logger) { logger._colorProfilesDict.clear(); });
}

void DDTTYLogger::clearAllColors() {
    changeProfiles([](DDTTYLogger& logger) {
        logger._colorProfilesArray.clear();
        logger._colorProfilesDict.clear();
    });
}

bool DDTTYLogger::automaticallyAppendNewlineForCustomFormatters() const {
    return _automaticallyAppendNewlineForCustomFormatters.load(std::memory_order_relaxed);
}

void DDTTYLogger::setAutomaticallyAppendNewlineForCustomFormatters(bool append) {
    _automaticallyAppendNewlineForCustomFormatters.store(append, std::memory_order_relaxed);
}

void DDTTYLogger::initialize_colors_16() {
    TTYColorState::initializeColors16();
}

void DDTTYLogger::initialize_colors_256() {
    TTYColorState::initializeColors256();
}

std::size_t DDTTYLogger::codeIndexForColor(const CLIColor& color) {
    return TTYColorState::codeIndexForColor(color);
}

void DDTTYLogger::getRed(double* red, double* green, double* blue, const CLIColor& color) {
    color.getRed(red, green, blue, nullptr);
}

void DDTTYLogger::lt_setFlagProfile(const ProfilePtr& profile) {
    for (auto& existing : _colorProfilesArray) {
        if (existing->mask == profile->mask && existing->context == profile->context) {
            existing = profile;
            return;
        }
    }
    _colorProfilesArray.push_back(profile);
}

void DDTTYLogger::lt_loadDefaultColorProfiles() {
    const auto error = CLIColor::colorWithCalibratedRed(214 / 255.0, 57 / 255.0, 30 / 255.0, 1.0);
    const auto warning = CLIColor::colorWithCalibratedRed(204 / 255.0, 121 / 255.0, 32 / 255.0, 1.0);
    if (auto profile = DDTTYLoggerColorProfile::create(error, std::nullopt, LogFlag::Error, LogContextAll)) {
        lt_setFlagProfile(profile);
    }
    if (auto profile =
            DDTTYLoggerColorProfile::create(warning, std::nullopt, LogFlag::Warning, LogContextAll)) {
        lt_setFlagProfile(profile);
    }
}

const DDTTYLoggerColorProfile* DDTTYLogger::lt_profileFor(const DDLogMessage& message) const {
    if (const DDTag& tag = message.representedObject(); tag && !_colorProfilesDict.empty()) {
        const auto found = _colorProfilesDict.find(tag);
        if (found != _colorProfilesDict.end()) return found->second.get();
    }
    const DDTTYLoggerColorProfile* everyContext = nullptr;
    for (const auto& profile : _colorProfilesArray) {
        if ((profile->mask & message.flag()) == 0) continue;
        if (profile->context == message.context()) return profile.get();
        if (profile->context == LogContextAll) everyContext = profile.get();
    }
    return everyContext;
}

std::size_t DDTTYLogger::lt_formatTimestamp(const DDLogMessage& message, char (&into)[24]) {
    using namespace std::chrono;
    const auto time = message.timestamp();
    const auto second = floor<seconds>(time);
    const auto milliseconds = duration_cast<std::chrono::milliseconds>(time - second).count();
    const std::int64_t secondCount = second.time_since_epoch().count();
    if (secondCount != stampSecond_) {
        const time_t clock = static_cast<time_t>(secondCount);
        tm local{};
        localtime_r(&clock, &local);
        const int n = std::snprintf(stampPrefix_, sizeof stampPrefix_, "%04d-%02d-%02d %02d:%02d:%02d",
                                    local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                                    local.tm_min, local.tm_sec);
        stampPrefixLen_ =
            n < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(n), sizeof stampPrefix_ - 1);
        stampSecond_ = secondCount;
    }
    // ":mmm" by hand: a printf per line would cost more than the whole rest of the line.
    const auto ms = static_cast<int>(milliseconds);
    const char fraction[4] = {':', static_cast<char>('0' + ms / 100), static_cast<char>('0' + ms / 10 % 10),
                              static_cast<char>('0' + ms % 10)};
    const std::size_t length = std::min<std::size_t>(stampPrefixLen_ + sizeof fraction, sizeof into - 1);
    std::memcpy(into, stampPrefix_, stampPrefixLen_);
    std::memcpy(into + stampPrefixLen_, fraction, length - stampPrefixLen_);
    into[length] = '\0';
    return length;
}

void DDTTYLogger::logMessage(const DDLogMessagePtr& message) {
    const DDText& own = message->messageText();
    DDText formatted;
    const std::string* text = own.get();
    bool customFormatted = false;
    if (logFormatter_) {
        formatted = logFormatter_->formatLogMessage(*message);
        text = formatted.get();
        customFormatted = formatted != own;
    }
    if (text == nullptr) return;

    static constexpr char kEmpty[] = "";
    const DDTTYLoggerColorProfile* profile = _colorsEnabled ? lt_profileFor(*message) : nullptr;
    const iovec fg = profile ? piece(profile->fgCode, profile->fgCodeLen) : piece(kEmpty, 0);
    const iovec bg = profile ? piece(profile->bgCode, profile->bgCodeLen) : piece(kEmpty, 0);
    const iovec reset = profile ? piece(profile->resetCode, profile->resetCodeLen) : piece(kEmpty, 0);
    const bool newline = !endsWithNewline(*text);

    if (customFormatted) {
        iovec pieces[5] = {fg, bg, piece(text->data(), text->size())};
        int count = 3;
        if (automaticallyAppendNewlineForCustomFormatters()) pieces[count++] = piece("\n", newline ? 1 : 0);
        pieces[count++] = reset;
        writeLine(pieces, count);
        return;
    }

    char stamp[24];
    const std::size_t stampLength = lt_formatTimestamp(*message, stamp);
    const std::string& threadID = message->threadID();
    iovec pieces[13] = {
        fg,
        bg,
        piece(stamp, stampLength),
        piece(" ", 1),
        piece(_app.data(), _app.size()),
        piece("[", 1),
        piece(_pid.data(), _pid.size()),
        piece(":", 1),
        piece(threadID.data(), std::min<std::size_t>(threadID.size(), 8)),
        piece("] ", 2),
        piece(text->data(), text->size()),
        piece("\n", newline ? 1 : 0),
        reset,
    };
    writeLine(pieces, 13);
}
