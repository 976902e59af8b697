#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace linuxdesktop {

// Reads the text selection of an application's focused object through the accessibility bus (AT-SPI): the
// direct query that both the X11 and the Wayland accessibility try before the PRIMARY selection. It asks the
// application itself, so it works for toolkits that do not export their selection, and it tells a password
// field apart.
//
// Finding the bus is cheap when there is none: the AT_SPI_BUS_ADDRESS given in `Options`, else the address
// the display advertises (`displayAddress`; on X11 the root window's AT_SPI_BUS, one round trip), else, when
// a session bus is known, that bus's org.a11y.Bus GetAddress sent without auto-start (at most once every few
// seconds while it has no answer). Nothing is ever started: no bus found means no value, at once. The library
// connection is made at the first read that finds a bus, once per process (the accessibility library keeps
// one global connection); a later read that finds a different bus gets no value rather than a reconnection,
// which the library cannot do cleanly.
//
// Who calls it: the backends' focused elements, on the main thread only (the library is not
// thread-safe). `selectedText` blocks on the application; every D-Bus call is bounded by `callTimeout`, and a
// read makes a handful of them. The library's bus connection is watched on the main run loop so that its
// signals are consumed as they come instead of piling up between reads: do not run another GLib main loop on
// the default context in this process.
class AtspiSelection {
  public:
    struct Options {
        std::string busAddress;         // an accessibility bus given by the environment (AT_SPI_BUS_ADDRESS)
        std::string sessionBusAddress;  // the session bus (DBUS_SESSION_BUS_ADDRESS), asked only without both
        std::chrono::milliseconds callTimeout{250};
        // Ask the application for its focused object in one call where it offers that search (else, or when
        // false, walk its showing objects).
        bool searchFocus = true;
    };
    // The options this process's environment gives.
    static Options optionsFromEnvironment();

    // `displayAddress` (may be empty) answers the bus address the display advertises, empty when none.
    explicit AtspiSelection(Options options, std::function<std::string()> displayAddress = {});
    AtspiSelection(const AtspiSelection&) = delete;
    AtspiSelection& operator=(const AtspiSelection&) = delete;

    // The selected text of the focused object of the application whose process is `pid` (of the first of its
    // application objects that has a focused object): its selections joined by line breaks; the empty text
    // when the focused object is a password field (whatever it holds). Nothing when no bus is found, the
    // application is not on it, nothing in it has the focus, or the focused object has no text interface or
    // no selection: the caller then tries its other ways.
    std::optional<std::string> selectedText(pid_t pid);
    // The same for the application whose top-level window is active, for desktops that do not tell which
    // process has the focus: the first application on the bus with an active window.
    std::optional<std::string> selectedTextOfActiveApplication();

    // The accessibility bus address found now, empty when there is none.
    std::string findBusAddress();

  private:
    std::string addressFromSessionBus();
    // Finds the bus and connects the library to it; whether reads may go on.
    bool connect();

    Options options_;
    std::function<std::string()> displayAddress_;
    std::chrono::steady_clock::time_point nextSessionQuery_{};
    std::string sessionAnswer_;
};

}  // namespace linuxdesktop
