#include "platform/wayland/internal/KWinCursorScript.h"

#include <sys/mman.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace wayland::internal {

namespace {

constexpr const char* kKWin = "org.kde.KWin";
constexpr const char* kScripting = "org.kde.kwin.Scripting";
constexpr const char* kCallbackPath = "/org/tandrel/Cursor";
constexpr const char* kCallbackInterface = "org.tandrel.Cursor";
// Bounds the calls outside `locate`'s timeout (the first ones, and the unloading after it), so that a KWin
// that hangs cannot hold the main thread for the bus's default of 25 s.
constexpr std::int64_t kCallTimeoutUsec = 250'000;

// The output at the origin is the one y is flipped against; the first one where none is there.
constexpr const char* kScript = R"JS(var origin = null;
for (var i = 0; i < workspace.numScreens; ++i) {
    var area = workspace.clientArea(KWin.FullScreenArea, i, 1);
    if (origin === null || (area.x === 0 && area.y === 0)) origin = area;
}
callDBus("%s", "%s", "%s", "Position",
         workspace.cursorPos.x + " " + workspace.cursorPos.y + " " + (origin ? origin.height : 0));
)JS";

std::string errorText(const sd_bus_error& error, int result) {
    if (error.message) return error.message;
    return std::strerror(-result);
}

}  // namespace

std::unique_ptr<KWinCursorScript> KWinCursorScript::create(std::string* why) {
    auto script = std::unique_ptr<KWinCursorScript>(new KWinCursorScript());
    int result = sd_bus_open_user(&script->bus_);
    if (result < 0) {
        if (why) *why = std::string("no session bus: ") + std::strerror(-result);
        return nullptr;
    }
    sd_bus_set_method_call_timeout(script->bus_, kCallTimeoutUsec);
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int owned = 0;
    result = sd_bus_call_method(script->bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                "org.freedesktop.DBus", "NameHasOwner", &error, &reply, "s", kKWin);
    if (result >= 0) result = sd_bus_message_read(reply, "b", &owned);
    sd_bus_message_unref(reply);
    if (result < 0 || !owned) {
        if (why)
            *why = result < 0 ? "the session bus does not answer: " + errorText(error, result)
                              : std::string("KWin is not on the session bus");
        sd_bus_error_free(&error);
        return nullptr;
    }

    static const sd_bus_vtable vtable[] = {SD_BUS_VTABLE_START(0),
                                           SD_BUS_METHOD(
                                               "Position", "s", "",
                                               [](sd_bus_message* message, void* data, sd_bus_error*) -> int {
                                                   const char* text = nullptr;
                                                   if (sd_bus_message_read(message, "s", &text) >= 0 && text)
                                                       static_cast<KWinCursorScript*>(data)->answer_ = text;
                                                   return sd_bus_reply_method_return(message, "");
                                               },
                                               SD_BUS_VTABLE_UNPRIVILEGED),
                                           SD_BUS_VTABLE_END};
    const char* unique = nullptr;
    result = sd_bus_get_unique_name(script->bus_, &unique);
    if (result >= 0)
        result = sd_bus_add_object_vtable(script->bus_, &script->slot_, kCallbackPath, kCallbackInterface,
                                          vtable, script.get());
    if (result < 0) {
        if (why) *why = std::string("cannot take KWin's answers on the bus: ") + std::strerror(-result);
        return nullptr;
    }

    // KWin reads the script from a path itself: a memory file of this process, reachable through /proc
    // whatever KWin's mount namespace, and gone with the process.
    char text[1024];
    const int length = std::snprintf(text, sizeof text, kScript, unique, kCallbackPath, kCallbackInterface);
    script->scriptFd_ = memfd_create("tandrel-cursor.js", MFD_CLOEXEC);
    if (script->scriptFd_ < 0 || write(script->scriptFd_, text, length) != length) {
        if (why) *why = std::string("cannot write the script: ") + std::strerror(errno);
        return nullptr;
    }
    script->plugin_ = "tandrel-cursor-" + std::to_string(getpid());
    script->scriptPath_ = "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(script->scriptFd_);
    return script;
}

KWinCursorScript::~KWinCursorScript() {
    if (scriptFd_ >= 0) close(scriptFd_);
    sd_bus_slot_unref(slot_);
    sd_bus_flush_close_unref(bus_);
}

void KWinCursorScript::bound(Deadline deadline) {
    // A call made when the deadline has passed still gets a millisecond.
    const auto left =
        std::chrono::duration_cast<std::chrono::microseconds>(deadline - Deadline::clock::now());
    sd_bus_set_method_call_timeout(bus_,
                                   static_cast<std::uint64_t>(std::max<std::int64_t>(1000, left.count())));
}

bool KWinCursorScript::run(Deadline deadline, std::string* why) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int id = -1;
    bound(deadline);
    int result = sd_bus_call_method(bus_, kKWin, "/Scripting", kScripting, "loadScript", &error, &reply, "ss",
                                    scriptPath_.c_str(), plugin_.c_str());
    if (result >= 0) result = sd_bus_message_read(reply, "i", &id);
    reply = sd_bus_message_unref(reply);
    if (result < 0 || id < 0) {
        if (why)
            *why = result < 0 ? "KWin did not load the script: " + errorText(error, result)
                              : "KWin refused the script";
        sd_bus_error_free(&error);
        return false;
    }
    // KWin 5 publishes a script at /<id>, KWin 6 at /Scripting/Script<id>.
    for (const std::string path : {"/" + std::to_string(id), "/Scripting/Script" + std::to_string(id)}) {
        sd_bus_error_free(&error);
        result =
            sd_bus_call_method(bus_, kKWin, path.c_str(), "org.kde.kwin.Script", "run", &error, &reply, "");
        reply = sd_bus_message_unref(reply);
        if (result >= 0) return true;
    }
    if (why) *why = "KWin did not run the script: " + errorText(error, result);
    sd_bus_error_free(&error);
    return false;
}

void KWinCursorScript::unload(Deadline deadline) {
    bound(deadline);
    sd_bus_call_method(bus_, kKWin, "/Scripting", kScripting, "unloadScript", nullptr, nullptr, "s",
                       plugin_.c_str());
}

std::optional<PointerProbe::Position> KWinCursorScript::locate(std::chrono::milliseconds timeout,
                                                               std::string* why) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    answer_.reset();
    // One left loaded by an earlier call that timed out would make KWin refuse the name.
    unload(deadline);
    const bool started = run(deadline, why);
    if (!started) return std::nullopt;
    while (!answer_) {
        const int processed = sd_bus_process(bus_, nullptr);
        if (processed < 0) break;
        if (processed > 0) continue;
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        sd_bus_wait(bus_, static_cast<std::uint64_t>(left.count()));
    }
    unload(std::chrono::steady_clock::now() + std::chrono::microseconds(kCallTimeoutUsec));
    PointerProbe::Position position;
    if (!answer_ || std::sscanf(answer_->c_str(), "%lf %lf %lf", &position.x, &position.y,
                                &position.primaryHeight) != 3) {
        if (why)
            *why = answer_ ? "KWin's script answered \"" + *answer_ + "\"" : "KWin's script did not answer";
        return std::nullopt;
    }
    return position;
}

}  // namespace wayland::internal
