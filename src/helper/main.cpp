// tandrel-helper: the service process. Publishes the service, then hands the main thread to the main run loop
// until SIGTERM or SIGINT.

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "dispatch/Queue.h"
#include "dispatch/RunLoop.h"
#include "dispatch/SerialQueue.h"
#include "helper/CursorHelper.h"
#include "helper/HelperOptions.h"
#include "helper/SetupLogger.h"
#include "helper/TerminationSignals.h"
#include "helper/XpcService.h"
#include "helper/logging.h"
#include "logging/DDLog.h"
#include "logging/DDLogFileManagerDefault.h"
#include "logging/extensions/DDTTYLogger.h"
#include "platform/Platform.h"
#include "platform/none/UnavailablePlatform.h"
#include "platform/x11/X11Platform.h"
#ifdef TANDREL_HAVE_WAYLAND
#include "platform/wayland/GnomePlatform.h"
#include "platform/wayland/WaylandPlatform.h"
#endif

namespace {

#ifdef TANDREL_HAVE_WAYLAND
// The Wayland desktop when $WAYLAND_DISPLAY names a compositor that offers data control, else GNOME Shell's
// through the helper's Shell extension when the shell is on the session bus; `why` says what happened either
// way.
std::unique_ptr<platform::Platform> tryWayland(std::string& why) {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (wayland == nullptr || *wayland == '\0') {
        why = "WAYLAND_DISPLAY is not set";
        return nullptr;
    }
    std::string detail;
    if (auto platform = platform::wayland::createWaylandPlatform({}, &detail)) {
        why = std::string("WAYLAND_DISPLAY=") + wayland + ": " + detail;
        return platform;
    }
    std::string gnome;
    if (auto platform = platform::wayland::createGnomePlatform(&gnome)) {
        why = std::string("WAYLAND_DISPLAY=") + wayland + ": " + detail + "; " + gnome;
        return platform;
    }
    why = std::string("WAYLAND_DISPLAY=") + wayland + ": " + detail + "; " + gnome;
    return nullptr;
}
#endif

// Wayland when the compositor offers what the helper needs, else the X11 desktop when $DISPLAY names one that
// answers (Xwayland included), else a platform without a desktop, so that the client still gets truthful
// answers (no permission, no text). `reason` says why the chosen one was taken.
std::unique_ptr<platform::Platform> choosePlatform(std::string& reason) {
    std::string waylandReason = "built without Wayland support";
#ifdef TANDREL_HAVE_WAYLAND
    if (auto wayland = tryWayland(waylandReason)) {
        reason = waylandReason;
        return wayland;
    }
#endif
    std::string x11Reason;
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        x11Reason = "DISPLAY is not set";
    } else if (auto x11 = platform::x11::createX11Platform({}, &x11Reason)) {
        reason = std::string("DISPLAY=") + display + " answers; " + waylandReason;
        return x11;
    }
    reason = x11Reason + "; " + waylandReason;
    return platform::none::createUnavailablePlatform(reason);
}

// Tells every connection that the process is about to exit and stops accepting (the socket file and its lock
// go at once, so a client started now hears that the service is not running rather than a refusal), then,
// once those notices have been handled on the main queue, flushes the logs and stops the run loop.
void terminate() {
    dispatch::Queue::main()->async([] {
        XpcService::sharedInstance().deliverTerminationImminent();
        if (const auto& listener = XpcService::sharedInstance().listener()) listener->cancel();
        dispatch::Queue::main()->async([] {
            DDLog::sharedInstance().flushLog();
            dispatch::RunLoop::main().stop();
        });
    });
}

// After the configured loggers, so that the terminal shows what they record.
void addTerminalLogger() {
    const auto& terminal = DDTTYLogger::sharedInstance();
    if (!terminal) return;
    terminal->setColorsEnabled(true);
    DDLog::sharedInstance().addLogger(terminal);
}

// The answer to an option that does not start the service; nullopt when the service is to run.
std::optional<int> answerOptions(const HelperOptions& options) {
    switch (options.outcome) {
        case HelperOptions::Outcome::Help:
            std::fputs(HelperOptions::usage().c_str(), stdout);
            return 0;
        case HelperOptions::Outcome::Version:
            std::printf("tandrel-helper %s\n", TANDREL_VERSION);
            return 0;
        case HelperOptions::Outcome::UsageError:
            std::fprintf(stderr, "%s\n%s", options.error.c_str(), HelperOptions::usage().c_str());
            return 2;
        case HelperOptions::Outcome::Run:
            break;
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char* argv[]) {
    const HelperOptions options = HelperOptions::parse(argc, argv);
    if (const auto status = answerOptions(options)) return *status;

    // Before any thread exists, so that no thread takes the signals in their default way.
    const bool signalsBlocked = TerminationSignals::block();

    DDLogFileManagerDefault::setApplicationIdentifier(XpcService::kServiceName);
    std::string platformReason;
    platform::Platform::setCurrent(choosePlatform(platformReason));
    const std::string platformName = platform::Platform::current().name();

    setup_logger();
    if (options.logToTerminal) addTerminalLogger();
    if (platformName == "x11" || platformName == "wayland" || platformName == "gnome") {
        LogI("Desktop backend %@: %@", platformName, platformReason);
    } else {
        LogW("No usable desktop (%s): answering without one", platformReason);
    }

    CursorHelper::sharedInstance().setup();
    if (!XpcService::sharedInstance().startWithServiceName(XpcService::kServiceName)) return 1;

    std::string signalError;
    std::unique_ptr<TerminationSignals> signals;
    if (signalsBlocked) signals = TerminationSignals::watch([](int) { terminate(); }, signalError);
    if (!signals) {
        LogW("SIGTERM and SIGINT end the process without flushing the logs: %s",
             signalsBlocked ? signalError : std::string("cannot block them"));
        TerminationSignals::unblock();
    }

    dispatch::RunLoop::main().run();
    return 0;
}
