#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "logging/DDAbstractLogger.h"
#include "logging/extensions/CLIColor.h"
#include "logging/extensions/DDTTYLoggerColorProfile.h"

// The terminal logger: each record becomes one line on standard error (file descriptor 2),
// "<local time> <process name>[<pid>:<thread id>] <text>", or the formatter's text alone when a formatter
// changes the text. Lines may be coloured by profiles chosen by tag, else by flag and context.
//
// Colour mode: decided once per process, when the first terminal logger is made, from the environment: a
// non-empty NO_COLOR means none; "XcodeColors" equal to "YES" the RGB escape form; otherwise a "TERM" that
// contains "color" (any case) ANSI codes, 256 colours when it also contains "256", else 16. Without a mode
// the profiles carry empty sequences and every line is plain. Whether standard error is a terminal plays no
// part. A logger starts with colours off and no profiles; `setColorsEnabled` turns them on (loading the
// default error and warning colours when there are no flag profiles at that moment).
//
// Writing: one writev(2) per line, continued after a short write or an interruption, so that neither other
// writers of the same descriptor nor signals split a line (pipes keep lines up to PIPE_BUF whole, terminals
// any line). Writing a line allocates nothing; write errors are ignored.
//
// Queues: `logMessage` and every change of profiles or of the enabled flag run on this logger's queue
// ("cocoa.vidadudidu.ttyLogger"), which is why the profiles have no lock. The set and clear operations return
// at once and take effect in log order (two hops: the logging queue, then this logger's queue); from this
// logger's queue they take effect in place. `setColorsEnabled` always takes the two hops.
//
// Waiting rules: `colorsEnabled()` blocks on the logging queue and then this logger's queue: do not call it
// from either.
class DDTTYLogger : public DDAbstractLogger {
    struct Private {};

  public:
    // The one shared logger, made on the first call.
    static const std::shared_ptr<DDTTYLogger>& sharedInstance();
    // A logger of its own; null once the shared instance exists. Prints a one-line note on standard error
    // that the journal logger is the better choice for lasting logs.
    static std::shared_ptr<DDTTYLogger> create();

    DDTTYLogger(Private, std::string app);

    std::string loggerName() override;
    void logMessage(const DDLogMessagePtr& message) override;

    // Blocking, see the waiting rules.
    bool colorsEnabled();
    void setColorsEnabled(bool enabled);

    // Sets or replaces the profile for exactly (`mask`, `context`); without a context, every context
    // (`LogContextAll`). Either colour may be absent.
    void setForegroundColor(const std::optional<CLIColor>& foreground,
                            const std::optional<CLIColor>& background, std::uint64_t mask);
    void setForegroundColor(const std::optional<CLIColor>& foreground,
                            const std::optional<CLIColor>& background, std::uint64_t mask,
                            std::int64_t context);
    // Sets or replaces the profile for `tag` (a record's `representedObject`, compared by identity). A tag
    // profile wins over every flag profile.
    void setForegroundColor(const std::optional<CLIColor>& foreground,
                            const std::optional<CLIColor>& background, DDTag tag);
    // Without a context this means context 0, so it leaves a profile set without a context in place.
    void clearColorsForFlag(std::uint64_t mask);
    void clearColorsForFlag(std::uint64_t mask, std::int64_t context);
    void clearColorsForTag(DDTag tag);
    void clearColorsForAllFlags();
    void clearColorsForAllTags();
    void clearAllColors();

    // Whether text that a formatter changed gets a newline when it has none (true at creation). Safe from any
    // thread; applies from the next record written.
    bool automaticallyAppendNewlineForCustomFormatters() const;
    void setAutomaticallyAppendNewlineForCustomFormatters(bool append);

    // The process-wide palette (each builds one unless one exists) and its nearest-entry search.
    static void initialize_colors_16();
    static void initialize_colors_256();
    static std::size_t codeIndexForColor(const CLIColor& color);
    static void getRed(double* red, double* green, double* blue, const CLIColor& color);

  private:
    using ProfilePtr = std::shared_ptr<const DDTTYLoggerColorProfile>;

    // Runs `change` on this logger's queue with the logger kept alive.
    template <typename Change>
    void changeProfiles(Change change);
    void lt_setFlagProfile(const ProfilePtr& profile);
    void lt_loadDefaultColorProfiles();
    const DDTTYLoggerColorProfile* lt_profileFor(const DDLogMessage& message) const;
    // The local-time stamp of `message` into `into` (at most 23 bytes); its length.
    std::size_t lt_formatTimestamp(const DDLogMessage& message, char (&into)[24]);

    const std::string _app;  // process name, "<UnnamedApp>" when it has none
    const std::string _pid;  // process id in decimal

    // Only on this logger's queue.
    bool _colorsEnabled = false;
    std::vector<ProfilePtr> _colorProfilesArray;
    std::unordered_map<DDTag, ProfilePtr> _colorProfilesDict;
    // The stamp's "YYYY-MM-DD HH:MM:SS" part for the second of the latest record: local-time conversion once
    // per second instead of once per line.
    std::int64_t stampSecond_ = INT64_MIN;
    char stampPrefix_[24] = {};
    std::size_t stampPrefixLen_ = 0;

    std::atomic<bool> _automaticallyAppendNewlineForCustomFormatters{true};
};
