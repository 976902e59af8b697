#include "platform/x11/internal/Connection.h"

#include <X11/Xatom.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <mutex>

namespace x11::internal {

namespace {

thread_local ErrorTrap* currentTrap = nullptr;

int onIoError(::Display*) {
    // Returning hands over to the per-display exit handler, which marks the connection broken.
    return 0;
}

void installHandlersOnce();

}  // namespace

int onXError(::Display* dpy, XErrorEvent* error) {
    for (ErrorTrap* trap = currentTrap; trap; trap = trap->previous_) {
        if (trap->dpy_ == dpy) {
            if (trap->error_ == 0) trap->error_ = error->error_code;
            return 0;
        }
    }
    // Errors outside a trap come from requests whose failure the caller already tolerates (a window that went
    // away between two requests); the process must never end because of them.
    return 0;
}

namespace {
void installHandlersOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        XSetErrorHandler(onXError);
        XSetIOErrorHandler(onIoError);
    });
}
}  // namespace

std::unique_ptr<Connection> Connection::open(const std::string& name, std::string* why) {
    installHandlersOnce();
    ::Display* dpy = XOpenDisplay(name.empty() ? nullptr : name.c_str());
    if (!dpy) {
        if (why) {
            const char* shown = name.empty() ? XDisplayName(nullptr) : name.c_str();
            *why = std::string("cannot open display \"") + (shown ? shown : "") + "\"";
        }
        return nullptr;
    }
    return std::unique_ptr<Connection>(new Connection(dpy));
}

Connection::Connection(::Display* dpy) : dpy_(dpy) {
    XSetIOErrorExitHandler(dpy_, onIoErrorExit, this);
}

Connection::~Connection() {
    // After an I/O error Xlib still frees the display without touching the socket again.
    XCloseDisplay(dpy_);
}

void Connection::onIoErrorExit(::Display*, void* self) {
    static_cast<Connection*>(self)->broken_ = true;
}

int Connection::fd() const {
    return ConnectionNumber(dpy_);
}

::Window Connection::root() const {
    return DefaultRootWindow(dpy_);
}

::Atom Connection::atom(const char* name) {
    auto found = atoms_.find(name);
    if (found != atoms_.end()) return found->second;
    ::Atom value = XInternAtom(dpy_, name, False);
    atoms_.emplace(name, value);
    return value;
}

std::optional<Connection::Property> Connection::property(::Window window, ::Atom name, ::Atom type,
                                                         long maxLongs) {
    Property out;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    ErrorTrap trap(dpy_);
    // A failed request (a window that is gone) returns its error code here; the trap keeps it quiet.
    const int rc = XGetWindowProperty(dpy_, window, name, 0, maxLongs, False, type, &out.type, &out.format,
                                      &items, &after, &data);
    std::unique_ptr<unsigned char, int (*)(void*)> owned(data, &XFree);
    if (rc != Success || !data || out.type == None) return std::nullopt;
    if (type != AnyPropertyType && out.type != type) return std::nullopt;
    if (out.format == 32) {
        const auto* values = reinterpret_cast<const unsigned long*>(data);
        out.longs.assign(values, values + items);
    } else {
        out.bytes.assign(reinterpret_cast<const char*>(data),
                         items * static_cast<unsigned long>(out.format / 8));
    }
    return out;
}

int Connection::addHandler(Handler handler) {
    handlers_.emplace_back(nextHandler_, std::move(handler));
    return nextHandler_++;
}

void Connection::removeHandler(int id) {
    std::erase_if(handlers_, [id](const auto& entry) { return entry.first == id; });
}

void Connection::dispatch(XEvent& event) {
    // Handlers may add or remove handlers: iterate over a snapshot of the ids.
    std::vector<int> ids;
    ids.reserve(handlers_.size());
    for (const auto& entry : handlers_) ids.push_back(entry.first);
    for (int id : ids) {
        auto it =
            std::find_if(handlers_.begin(), handlers_.end(), [id](const auto& e) { return e.first == id; });
        if (it == handlers_.end()) continue;
        Handler handler = it->second;
        if (handler(event)) return;
    }
}

void Connection::dispatchPending(bool sync) {
    if (broken_) return;
    if (sync) XSync(dpy_, False);
    while (!broken_ && XPending(dpy_) > 0) {
        XEvent event;
        XNextEvent(dpy_, &event);
        dispatch(event);
    }
}

std::optional<XEvent> Connection::waitFor(const std::function<bool(const XEvent&)>& match,
                                          std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (broken_) return std::nullopt;
        while (XPending(dpy_) > 0 && !broken_) {
            XEvent event;
            XNextEvent(dpy_, &event);
            if (match(event)) return event;
            dispatch(event);
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || broken_) return std::nullopt;
        pollfd pfd{fd(), POLLIN, 0};
        int rc = poll(&pfd, 1, static_cast<int>(left.count()) + 1);
        if (rc < 0 && errno != EINTR) return std::nullopt;
    }
}

::Time Connection::serverTime(::Window window) {
    ::Atom property = atom("_TANDREL_TIME");
    unsigned char nothing = 0;
    XChangeProperty(dpy_, window, property, XA_STRING, 8, PropModeAppend, &nothing, 0);
    XFlush(dpy_);
    auto event = waitFor(
        [&](const XEvent& e) {
            return e.type == PropertyNotify && e.xproperty.window == window && e.xproperty.atom == property;
        },
        std::chrono::milliseconds(1000));
    return event ? event->xproperty.time : CurrentTime;
}

ErrorTrap::ErrorTrap(::Display* dpy) : dpy_(dpy), previous_(currentTrap) {
    currentTrap = this;
}

ErrorTrap::~ErrorTrap() {
    XSync(dpy_, False);
    currentTrap = previous_;
}

bool ErrorTrap::failed() {
    XSync(dpy_, False);
    return error_ != 0;
}

}  // namespace x11::internal
