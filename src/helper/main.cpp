// tandrel-helper: the service process. Publishes the service, then hands the main thread to the main run loop
// until SIGTERM or SIGINT.

#include <cstdlib>
#include <memory>
#include <string>

#include "dispatch/Queue.h"
#include "dispatch/RunLoop.h"
#include "dispatch/SerialQueue.h"
#include "helper/CursorHelper.h"
#include "helper/SetupLogger.h"
#include "helper/TerminationSignals.h"
#include "helper/XpcService.h"
#include "helper/logging.h"
#include "logging/DDLog.h"
#include "logging/DDLogFileManagerDefault.h"
#include "platform/Platform.h"
#include "platform/none/UnavailablePlatform.h"
#include "platform/x11/X11Platform.h"

namespace {

// The X11 desktop when $DISPLAY names one that answers; otherwise a platform without a desktop, so that the
// client still gets truthful answers (no permission, no text). `reason` says why there is no desktop.
std::unique_ptr<platform::Platform> choosePlatform(std::string& reason) {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        reason = "DISPLAY is not set";
    } else if (auto x11 = platform::x11::createX11Platform({}, &reason)) {
        return x11;
    }
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

}  // namespace

int main() {
    // Before any thread exists, so that no thread takes the signals in their default way.
    const bool signalsBlocked = TerminationSignals::block();

    DDLogFileManagerDefault::setApplicationIdentifier(XpcService::kServiceName);
    std::string noDesktopReason;
    platform::Platform::setCurrent(choosePlatform(noDesktopReason));

    setup_logger();
    if (!noDesktopReason.empty()) {
        LogW("No usable desktop (%s): answering without one", noDesktopReason);
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
