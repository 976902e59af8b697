#include "platform/linux/AtspiSelection.h"

#include <atspi/atspi.h>
#include <dbus/dbus.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

#include "dispatch/RunLoop.h"
#include "dispatch/internal/NoDestructor.h"

namespace linuxdesktop {

namespace {

using namespace std::chrono_literals;

constexpr auto kSessionRetry = 5s;
// Enough for the windows and panels of an ordinary application; a deeper tree is not searched further.
constexpr int kMaxWalkedObjects = 400;
// One pump takes what the bus delivered; libatspi's idle work re-arms at most a few times.
constexpr int kMaxPumpIterations = 64;
// Top-level windows of one application looked at for the active one.
constexpr int kMaxTopLevels = 32;

// Ownership of GLib and libatspi objects.
struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using GRef = std::unique_ptr<T, GObjectUnref>;
struct GFree {
    void operator()(gpointer memory) const { g_free(memory); }
};
using GString = std::unique_ptr<gchar, GFree>;

// A GError out-parameter that frees what it received.
class GErrorSlot {
  public:
    GErrorSlot() = default;
    GErrorSlot(const GErrorSlot&) = delete;
    GErrorSlot& operator=(const GErrorSlot&) = delete;
    ~GErrorSlot() { g_clear_error(&error_); }
    GError** out() {
        g_clear_error(&error_);
        return &error_;
    }
    explicit operator bool() const { return error_ != nullptr; }

  private:
    GError* error_ = nullptr;
};

// The accessibles of a libatspi array, owned, and the array freed.
std::vector<GRef<AtspiAccessible>> takeAccessibles(GArray* array) {
    std::vector<GRef<AtspiAccessible>> out;
    if (!array) return out;
    for (guint i = 0; i < array->len; ++i)
        if (auto* a = g_array_index(array, AtspiAccessible*, i)) out.emplace_back(a);
    g_array_free(array, TRUE);
    return out;
}

struct DBusMessageUnref {
    void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};
using DBusMessagePtr = std::unique_ptr<DBusMessage, DBusMessageUnref>;
struct DBusConnectionClose {
    void operator()(DBusConnection* connection) const {
        dbus_connection_close(connection);
        dbus_connection_unref(connection);
    }
};
using DBusConnectionPtr = std::unique_ptr<DBusConnection, DBusConnectionClose>;

class DBusErrorSlot {
  public:
    DBusErrorSlot() { dbus_error_init(&error_); }
    DBusErrorSlot(const DBusErrorSlot&) = delete;
    DBusErrorSlot& operator=(const DBusErrorSlot&) = delete;
    ~DBusErrorSlot() { dbus_error_free(&error_); }
    DBusError* get() { return &error_; }

  private:
    DBusError error_;
};

// A private connection to `address`, or null when nothing answers there.
DBusConnectionPtr openPrivate(const std::string& address) {
    DBusErrorSlot error;
    DBusConnectionPtr connection(dbus_connection_open_private(address.c_str(), error.get()));
    if (connection) dbus_connection_set_exit_on_disconnect(connection.get(), FALSE);
    return connection;
}

DBusMessagePtr call(DBusConnection* connection, DBusMessagePtr message, std::chrono::milliseconds timeout) {
    DBusErrorSlot error;
    return DBusMessagePtr(dbus_connection_send_with_reply_and_block(
        connection, message.get(), static_cast<int>(timeout.count()), error.get()));
}

// libatspi's global connection, shared by every reader of the process.
struct Library {
    std::string address;  // the bus it was pointed at; empty before the first connection
    bool usable = false;
    DBusConnection* bus = nullptr;  // libatspi's own, borrowed
    std::unique_ptr<dispatch::RunLoop::Watch> watch;
    std::map<std::string, pid_t> pidByBusName;  // unique bus names are never reused on one bus
};

Library& library() {
    static dispatch::internal::NoDestructor<Library> instance;
    return *instance;
}

// Whether the library's connection still stands; once it fell it stays off (libatspi cannot reconnect).
bool libraryAlive() {
    auto& lib = library();
    if (lib.usable && !dbus_connection_get_is_connected(lib.bus)) {
        std::fprintf(stderr, "AtspiSelection: the accessibility bus at %s went away\n", lib.address.c_str());
        lib.usable = false;
        lib.watch.reset();
        lib.pidByBusName.clear();
    }
    return lib.usable;
}

// Runs what libatspi queued on the default GLib context: signals it subscribed to, replies to its own
// asynchronous calls, its deferred cache updates.
void pump() {
    for (int i = 0; i < kMaxPumpIterations && g_main_context_iteration(nullptr, FALSE); ++i) {
    }
    libraryAlive();
}

// Points libatspi at `address` for the life of the process. The environment variable it reads first is set
// only for the call that connects, so that nothing else in the process sees it.
bool initLibrary(const std::string& address) {
    const char* previous = std::getenv("AT_SPI_BUS_ADDRESS");
    const std::optional<std::string> saved = previous ? std::optional<std::string>(previous) : std::nullopt;
    setenv("AT_SPI_BUS_ADDRESS", address.c_str(), 1);
    const bool connected = atspi_init() == 0 && atspi_get_a11y_bus();
    if (saved)
        setenv("AT_SPI_BUS_ADDRESS", saved->c_str(), 1);
    else
        unsetenv("AT_SPI_BUS_ADDRESS");
    return connected;
}

bool connectLibrary(const std::string& address, std::chrono::milliseconds timeout) {
    auto& lib = library();
    if (!lib.address.empty()) return libraryAlive() && lib.address == address;
    // A stale address (a launcher that died) must not make libatspi give up for good: probe it first.
    if (!openPrivate(address)) return false;
    lib.address = address;
    const int ms = static_cast<int>(timeout.count());
    atspi_set_timeout(ms, ms);
    // Without this, libatspi would look for its bus on the session bus and could start a launcher there.
    if (!initLibrary(address)) {
        std::fprintf(stderr, "AtspiSelection: cannot use the accessibility bus at %s\n", address.c_str());
        return false;
    }
    lib.bus = atspi_get_a11y_bus();
    int fd = -1;
    // The run loop watches its own duplicate, so a descriptor libatspi closes is never confused with another.
    if (dbus_connection_get_unix_fd(lib.bus, &fd) && fd >= 0)
        lib.watch =
            dispatch::RunLoop::main().watch(fd, dispatch::RunLoop::Readable, [](unsigned) { pump(); });
    lib.usable = true;
    return true;
}

std::optional<pid_t> processOf(AtspiAccessible* application) {
    auto* app = ATSPI_OBJECT(application)->app;
    if (!app || !app->bus_name) return std::nullopt;
    auto& pids = library().pidByBusName;
    auto found = pids.find(app->bus_name);
    if (found != pids.end()) return found->second;
    GErrorSlot error;
    guint pid = atspi_accessible_get_process_id(application, error.out());
    if (error) return std::nullopt;
    pids.emplace(app->bus_name, static_cast<pid_t>(pid));
    return static_cast<pid_t>(pid);
}

// The application objects on the bus that `wanted` accepts (usually one). Cached process ids of applications
// that left are dropped on the way.
template <typename Wanted>
std::vector<GRef<AtspiAccessible>> findApplications(Wanted wanted) {
    std::vector<GRef<AtspiAccessible>> found;
    GRef<AtspiAccessible> desktop(atspi_get_desktop(0));
    if (!desktop) return found;
    GErrorSlot error;
    const gint count = atspi_accessible_get_child_count(desktop.get(), error.out());
    if (error) return found;
    std::map<std::string, pid_t> seen;
    for (gint i = 0; i < count; ++i) {
        GRef<AtspiAccessible> child(atspi_accessible_get_child_at_index(desktop.get(), i, error.out()));
        if (!child) continue;
        auto childPid = processOf(child.get());
        if (!childPid) continue;
        seen.emplace(ATSPI_OBJECT(child.get())->app->bus_name, *childPid);
        if (wanted(child.get(), *childPid)) found.push_back(std::move(child));
    }
    library().pidByBusName = std::move(seen);
    return found;
}

bool hasState(AtspiAccessible* object, AtspiStateType state) {
    GRef<AtspiStateSet> states(atspi_accessible_get_state_set(object));
    return states && atspi_state_set_contains(states.get(), state);
}

// Whether one of the application's top-level windows is the active one. States are asked afresh: the
// application tells the cache about activation only when someone listens for it.
bool hasActiveWindow(AtspiAccessible* application) {
    GErrorSlot error;
    const gint count = atspi_accessible_get_child_count(application, error.out());
    for (gint i = 0; i < count && i < kMaxTopLevels; ++i) {
        GRef<AtspiAccessible> window(atspi_accessible_get_child_at_index(application, i, error.out()));
        if (!window) continue;
        atspi_accessible_clear_cache(window.get());
        if (hasState(window.get(), ATSPI_STATE_ACTIVE)) return true;
    }
    return false;
}

// The focused object as the application finds it itself, in one call. Nothing with `answered` false when the
// application does not offer the search (a walk is worth trying then, and only then: it costs round trips).
GRef<AtspiAccessible> focusedByCollection(AtspiAccessible* application, bool& answered) {
    answered = false;
    GRef<AtspiCollection> collection(atspi_accessible_get_collection_iface(application));
    if (!collection) return nullptr;
    GArray* wanted = g_array_new(FALSE, FALSE, sizeof(AtspiStateType));
    AtspiStateType focused = ATSPI_STATE_FOCUSED;
    g_array_append_val(wanted, focused);
    GRef<AtspiStateSet> states(atspi_state_set_new(wanted));
    g_array_free(wanted, TRUE);
    GRef<AtspiMatchRule> rule(atspi_match_rule_new(
        states.get(), ATSPI_Collection_MATCH_ALL, nullptr, ATSPI_Collection_MATCH_ALL, nullptr,
        ATSPI_Collection_MATCH_ALL, nullptr, ATSPI_Collection_MATCH_ALL, FALSE));
    GErrorSlot error;
    auto matches = takeAccessibles(atspi_collection_get_matches(
        collection.get(), rule.get(), ATSPI_Collection_SORT_ORDER_CANONICAL, 1, TRUE, error.out()));
    if (error) return nullptr;
    answered = true;
    if (matches.empty()) return nullptr;
    return std::move(matches.front());
}

// The focused object found by walking the showing part of the tree, depth first, for applications without
// the search; bounded by kMaxWalkedObjects.
GRef<AtspiAccessible> focusedByWalk(AtspiAccessible* application) {
    std::vector<GRef<AtspiAccessible>> pending;
    pending.emplace_back(GRef<AtspiAccessible>(ATSPI_ACCESSIBLE(g_object_ref(application))));
    for (int visited = 0; !pending.empty() && visited < kMaxWalkedObjects; ++visited) {
        GRef<AtspiAccessible> object = std::move(pending.back());
        pending.pop_back();
        const bool isApplication = object.get() == application;
        if (!isApplication) {
            if (hasState(object.get(), ATSPI_STATE_FOCUSED)) return object;
            if (!hasState(object.get(), ATSPI_STATE_SHOWING)) continue;
        }
        GErrorSlot error;
        const gint count = atspi_accessible_get_child_count(object.get(), error.out());
        for (gint i = count - 1; i >= 0; --i) {
            GRef<AtspiAccessible> child(atspi_accessible_get_child_at_index(object.get(), i, error.out()));
            if (child) pending.push_back(std::move(child));
        }
    }
    return nullptr;
}

std::optional<std::string> selectionOf(AtspiAccessible* focused) {
    // The role decides what may be read: never trust a cached one for that.
    atspi_accessible_clear_cache(focused);
    GErrorSlot error;
    const AtspiRole role = atspi_accessible_get_role(focused, error.out());
    if (error) return std::nullopt;
    if (role == ATSPI_ROLE_PASSWORD_TEXT) return std::string();
    GRef<AtspiText> text(atspi_accessible_get_text_iface(focused));
    if (!text) return std::nullopt;
    const gint count = atspi_text_get_n_selections(text.get(), error.out());
    if (error || count <= 0) return std::nullopt;
    std::optional<std::string> joined;
    for (gint i = 0; i < count; ++i) {
        std::unique_ptr<AtspiRange, GFree> range(atspi_text_get_selection(text.get(), i, error.out()));
        if (!range || range->start_offset >= range->end_offset) continue;
        GString piece(atspi_text_get_text(text.get(), range->start_offset, range->end_offset, error.out()));
        if (!piece) continue;
        if (joined) {
            *joined += '\n';
            *joined += piece.get();
        } else {
            joined = std::string(piece.get());
        }
    }
    return joined;
}

// The selection of the focused object of the first of `applications` that has one.
std::optional<std::string> firstFocusedSelection(const std::vector<GRef<AtspiAccessible>>& applications,
                                                 bool searchFocus) {
    for (const auto& application : applications) {
        bool answered = false;
        GRef<AtspiAccessible> focused;
        if (searchFocus) focused = focusedByCollection(application.get(), answered);
        if (!answered) focused = focusedByWalk(application.get());
        if (focused) return selectionOf(focused.get());
    }
    return std::nullopt;
}

}  // namespace

AtspiSelection::Options AtspiSelection::optionsFromEnvironment() {
    Options options;
    if (const char* bus = std::getenv("AT_SPI_BUS_ADDRESS")) options.busAddress = bus;
    if (const char* session = std::getenv("DBUS_SESSION_BUS_ADDRESS")) options.sessionBusAddress = session;
    return options;
}

AtspiSelection::AtspiSelection(Options options, std::function<std::string()> displayAddress)
    : options_(std::move(options)), displayAddress_(std::move(displayAddress)) {}

std::string AtspiSelection::findBusAddress() {
    if (!options_.busAddress.empty()) return options_.busAddress;
    if (displayAddress_)
        if (auto address = displayAddress_(); !address.empty()) return address;
    if (options_.sessionBusAddress.empty()) return {};
    return addressFromSessionBus();
}

std::string AtspiSelection::addressFromSessionBus() {
    // The launcher does not move its bus: one answer serves for good.
    if (!sessionAnswer_.empty()) return sessionAnswer_;
    const auto now = std::chrono::steady_clock::now();
    if (now < nextSessionQuery_) return {};
    nextSessionQuery_ = now + kSessionRetry;
    auto session = openPrivate(options_.sessionBusAddress);
    if (!session) return {};
    DBusMessagePtr hello(dbus_message_new_method_call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                      "org.freedesktop.DBus", "Hello"));
    if (!hello || !call(session.get(), std::move(hello), options_.callTimeout)) return {};
    DBusMessagePtr ask(
        dbus_message_new_method_call("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress"));
    if (!ask) return {};
    // Asked only of a launcher that already runs: a missing one must not be started for a selection read.
    dbus_message_set_auto_start(ask.get(), FALSE);
    auto reply = call(session.get(), std::move(ask), options_.callTimeout);
    const char* address = nullptr;
    if (!reply ||
        !dbus_message_get_args(reply.get(), nullptr, DBUS_TYPE_STRING, &address, DBUS_TYPE_INVALID) ||
        !address)
        return {};
    sessionAnswer_ = address;
    return sessionAnswer_;
}

bool AtspiSelection::connect() {
    const std::string address = findBusAddress();
    return !address.empty() && connectLibrary(address, options_.callTimeout);
}

std::optional<std::string> AtspiSelection::selectedText(pid_t pid) {
    if (pid <= 0 || !connect()) return std::nullopt;
    auto text = firstFocusedSelection(
        findApplications([pid](AtspiAccessible*, pid_t childPid) { return childPid == pid; }),
        options_.searchFocus);
    pump();
    return text;
}

std::optional<std::string> AtspiSelection::selectedTextOfActiveApplication() {
    if (!connect()) return std::nullopt;
    auto text = firstFocusedSelection(
        findApplications([](AtspiAccessible* application, pid_t) { return hasActiveWindow(application); }),
        options_.searchFocus);
    pump();
    return text;
}

}  // namespace linuxdesktop
