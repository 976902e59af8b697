#include "platform/x11/internal/WindowQueries.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XRes.h>

#include <functional>

#include "platform/linux/TerminalApps.h"

namespace x11::internal {

namespace {

std::optional<::Window> windowProperty(Connection& connection, ::Window window, const char* name) {
    auto value = connection.property(window, connection.atom(name), XA_WINDOW, 1);
    if (!value || value->longs.size() != 1) return std::nullopt;
    return static_cast<::Window>(value->longs[0]);
}

std::optional<WindowQueries::WindowClass> classHint(::Display* dpy, ::Window window) {
    XClassHint hint{nullptr, nullptr};
    if (!XGetClassHint(dpy, window, &hint)) return std::nullopt;
    WindowQueries::WindowClass out{hint.res_name ? hint.res_name : "", hint.res_class ? hint.res_class : ""};
    if (hint.res_name) XFree(hint.res_name);
    if (hint.res_class) XFree(hint.res_class);
    return out;
}

}  // namespace

::Window WindowQueries::topLevelOf(Connection& connection, ::Window window) {
    ::Display* dpy = connection.get();
    ErrorTrap trap(dpy);
    ::Window current = window;
    for (int depth = 0; depth < 64 && current != None; ++depth) {
        ::Window root = None, parent = None;
        ::Window* children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(dpy, current, &root, &parent, &children, &count)) return None;
        if (children) XFree(children);
        if (parent == root || parent == None) return current == root ? None : current;
        current = parent;
    }
    return None;
}

bool WindowQueries::hasLiveWindowManager(Connection& connection) {
    auto check = windowProperty(connection, connection.root(), "_NET_SUPPORTING_WM_CHECK");
    if (!check || *check == None) return false;
    // Read with an error trap: the window may be gone.
    return windowProperty(connection, *check, "_NET_SUPPORTING_WM_CHECK") == check;
}

::Window WindowQueries::activeWindow(Connection& connection) {
    if (hasLiveWindowManager(connection)) {
        auto active = windowProperty(connection, connection.root(), "_NET_ACTIVE_WINDOW");
        if (active && *active) return *active;
    }
    // With no focus at all, the window under the pointer is still the best guess of where the user is.
    ::Window recipient = keyboardRecipient(connection);
    return recipient != None ? recipient : topLevelUnderPointer(connection);
}

::Window WindowQueries::keyboardRecipient(Connection& connection) {
    ::Window focus = None;
    int revert = 0;
    XGetInputFocus(connection.get(), &focus, &revert);
    if (focus == None) return None;
    if (focus != PointerRoot && focus != connection.root()) return focus;
    return topLevelUnderPointer(connection);
}

::Window WindowQueries::topLevelUnderPointer(Connection& connection) {
    ::Window root = None, child = None;
    int rx, ry, wx, wy;
    unsigned mask;
    if (XQueryPointer(connection.get(), connection.root(), &root, &child, &rx, &ry, &wx, &wy, &mask))
        return child;
    return None;
}

std::optional<::XID> WindowQueries::clientOf(Connection& connection, ::Window window) {
    if (window == None) return std::nullopt;
    int eventBase = 0, errorBase = 0;
    if (!XResQueryExtension(connection.get(), &eventBase, &errorBase)) return std::nullopt;
    XResClientIdSpec query{window, XRES_CLIENT_ID_XID_MASK};
    long count = 0;
    XResClientIdValue* ids = nullptr;
    ErrorTrap trap(connection.get());
    std::optional<::XID> out;
    if (XResQueryClientIds(connection.get(), 1, &query, &count, &ids) == Success) {
        for (long i = 0; i < count; ++i) {
            const auto& [id, length, value] = ids[i];
            if (XResGetClientIdType(&ids[i]) == XRES_CLIENT_ID_XID) out = id.client;
        }
        XResClientIdsDestroy(count, ids);
    }
    if (trap.failed()) return std::nullopt;
    return out;
}

bool WindowQueries::sameClient(Connection& connection, ::Window a, ::Window b) {
    auto ca = clientOf(connection, a);
    auto cb = clientOf(connection, b);
    return ca && cb && *ca == *cb;
}

std::optional<pid_t> WindowQueries::pidOf(Connection& connection, ::Window window) {
    int eventBase = 0, errorBase = 0;
    if (window == None || !XResQueryExtension(connection.get(), &eventBase, &errorBase)) return std::nullopt;
    XResClientIdSpec query{window, XRES_CLIENT_ID_PID_MASK};
    long count = 0;
    XResClientIdValue* ids = nullptr;
    ErrorTrap trap(connection.get());
    std::optional<pid_t> out;
    if (XResQueryClientIds(connection.get(), 1, &query, &count, &ids) == Success) {
        for (long i = 0; i < count; ++i) {
            pid_t pid = XResGetClientPid(&ids[i]);
            if (pid > 0) out = pid;
        }
        XResClientIdsDestroy(count, ids);
    }
    return out;
}

::Window WindowQueries::applicationWindow(Connection& connection, ::Window window) {
    ::Display* dpy = connection.get();
    ErrorTrap trap(dpy);
    if (window == None) return None;
    if (classHint(dpy, window)) return window;
    ::Window top = topLevelOf(connection, window);
    if (top == None) return None;
    if (classHint(dpy, top)) return top;
    // Inside a window manager's frame: the first descendant that has a class.
    std::function<::Window(::Window, int)> search = [&](::Window w, int depth) -> ::Window {
        if (depth > 3) return None;
        ::Window root = None, parent = None;
        ::Window* children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(dpy, w, &root, &parent, &children, &count)) return None;
        ::Window found = None;
        for (unsigned i = 0; i < count && found == None; ++i)
            if (classHint(dpy, children[i])) found = children[i];
        for (unsigned i = 0; i < count && found == None; ++i) found = search(children[i], depth + 1);
        if (children) XFree(children);
        return found;
    };
    return search(top, 0);
}

std::optional<WindowQueries::WindowClass> WindowQueries::classOf(Connection& connection, ::Window window) {
    ::Window application = applicationWindow(connection, window);
    if (application == None) return std::nullopt;
    ErrorTrap trap(connection.get());
    return classHint(connection.get(), application);
}

bool WindowQueries::isTerminal(const WindowClass& windowClass) {
    return ::linuxdesktop::TerminalApps::isTerminal(windowClass.instance) ||
           ::linuxdesktop::TerminalApps::isTerminal(windowClass.className);
}

std::string WindowQueries::atspiBusAddress(Connection& connection) {
    if (connection.isBroken()) return {};
    auto address = connection.property(connection.root(), connection.atom("AT_SPI_BUS"), XA_STRING, 1024);
    if (!address || address->format != 8) return {};
    return address->bytes;
}

}  // namespace x11::internal
