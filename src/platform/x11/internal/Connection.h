#pragma once

#include <X11/Xlib.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace x11::internal {

// One Xlib connection: closes the display when destroyed, never lets Xlib end the process (protocol errors
// are swallowed or caught by an ErrorTrap; a lost server marks the connection broken instead of exiting), and
// routes events to registered handlers.
//
// Who calls it: the thread that owns it (the main thread in the service). Not thread-safe. `waitFor` blocks
// for at most its timeout; while it waits, events that do not match are given to the handlers, so a selection
// this process serves itself is still answered while it waits for a reply.
class Connection {
  public:
    using Handler = std::function<bool(XEvent&)>;  // true when the event was consumed

    // Null when the display cannot be opened (`why` gets the reason).
    static std::unique_ptr<Connection> open(const std::string& name = {}, std::string* why = nullptr);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    ::Display* get() const { return dpy_; }
    int fd() const;
    ::Window root() const;
    bool isBroken() const { return broken_; }
    ::Atom atom(const char* name);

    // Handlers see every event not consumed by a waiter, in registration order, until one consumes it.
    int addHandler(Handler handler);
    void removeHandler(int id);

    // Reads what the server sent without blocking and dispatches it. `sync` first makes a round trip, so
    // every event caused by requests made before the call is dispatched too.
    void dispatchPending(bool sync = false);

    // Gives one event to the handlers (for an event a waiter took but others may need).
    void dispatchEvent(XEvent& event) { dispatch(event); }

    // Blocks until an event matching `match` arrives (returned, not dispatched) or `timeout` passes.
    std::optional<XEvent> waitFor(const std::function<bool(const XEvent&)>& match,
                                  std::chrono::milliseconds timeout);

    // A window property as read in one request of up to `maxLongs` 32-bit units, of `type` (AnyPropertyType
    // for any); nothing when it is missing, of another type, or the window is gone (errors are trapped).
    struct Property {
        ::Atom type = 0;
        int format = 0;
        std::string bytes;                 // format 8 and 16: the data as stored
        std::vector<unsigned long> longs;  // format 32: one value per item, as Xlib hands them over
    };
    std::optional<Property> property(::Window window, ::Atom name, ::Atom type, long maxLongs);

    // A real server time: appends nothing to a property of `window` (which must select PropertyChangeMask)
    // and returns the time of the resulting PropertyNotify; CurrentTime if the server does not answer.
    ::Time serverTime(::Window window);

  private:
    explicit Connection(::Display* dpy);
    void dispatch(XEvent& event);
    static void onIoErrorExit(::Display*, void* self);

    ::Display* dpy_;
    bool broken_ = false;
    std::vector<std::pair<int, Handler>> handlers_;
    int nextHandler_ = 1;
    std::unordered_map<std::string, ::Atom> atoms_;
};

// Catches X protocol errors raised by requests made while it lives (on this thread). `failed()` makes a round
// trip first so that errors of requests already sent are seen.
class ErrorTrap {
  public:
    explicit ErrorTrap(::Display* dpy);
    ~ErrorTrap();
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

    bool failed();
    int errorCode() const { return error_; }

  private:
    friend int onXError(::Display*, XErrorEvent*);
    ::Display* dpy_;
    ErrorTrap* previous_;
    int error_ = 0;
};

// Seconds of a steady clock, for bounded waits.
using Clock = std::chrono::steady_clock;

}  // namespace x11::internal
