#include "platform/wayland/internal/ShellExtension.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "dispatch/Queue.h"
#include "dispatch/SerialQueue.h"

namespace wayland::internal {

namespace {

constexpr const char* kBusName = "com.tandrel.helper.Shell";
constexpr const char* kPath = "/com/tandrel/helper/Shell";
constexpr const char* kInterface = "com.tandrel.helper.Shell";
// Text types in the order of preference; GTK and Xwayland owners offer several of them.
constexpr const char* kTextTypes[] = {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain", "STRING",
                                      "TEXT"};

struct MessageUnref {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;

const char* selectionName(ShellExtension::Selection selection) {
    return selection == ShellExtension::Selection::Primary ? "PRIMARY" : "CLIPBOARD";
}

// A method call of `member` on `destination` with arguments appended by `append`; the reply, or null when the
// call failed or timed out.
Message call(sd_bus* bus, const char* destination, const char* path, const char* interface,
             const char* member, const std::function<int(sd_bus_message*)>& append = {}) {
    sd_bus_message* raw = nullptr;
    if (sd_bus_message_new_method_call(bus, &raw, destination, path, interface, member) < 0) return nullptr;
    Message request(raw);
    if (append && append(request.get()) < 0) return nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    const auto timeout = std::chrono::duration_cast<std::chrono::microseconds>(ShellExtension::kCallTimeout);
    const int result = sd_bus_call(bus, request.get(), timeout.count(), &error, &reply);
    sd_bus_error_free(&error);
    if (result < 0) return nullptr;
    return Message(reply);
}

}  // namespace

std::unique_ptr<ShellExtension> ShellExtension::connect(std::string* why) {
    auto extension = std::unique_ptr<ShellExtension>(new ShellExtension());
    const int result = sd_bus_open_user(&extension->bus_);
    if (result < 0) {
        if (why) *why = std::string("no session bus: ") + std::strerror(-result);
        return nullptr;
    }
    // Any sender: the extension's unique name changes whenever it is enabled again.
    if (sd_bus_match_signal(
            extension->bus_, &extension->match_, nullptr, kPath, kInterface, nullptr,
            [](sd_bus_message* message, void* self, sd_bus_error*) {
                static_cast<ShellExtension*>(self)->signalled(sd_bus_message_get_member(message));
                return 0;
            },
            extension.get()) < 0) {
        if (why) *why = "cannot watch the session bus";
        return nullptr;
    }
    ShellExtension* self = extension.get();
    extension->watch_ = dispatch::RunLoop::main().watch(
        sd_bus_get_fd(extension->bus_), dispatch::RunLoop::Readable, [self](unsigned) { self->process(); });
    return extension;
}

ShellExtension::~ShellExtension() {
    watch_.reset();
    sd_bus_slot_unref(match_);
    sd_bus_flush_close_unref(bus_);
}

bool ShellExtension::nameHasOwner(const char* name) {
    auto reply =
        call(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
             [name](sd_bus_message* m) { return sd_bus_message_append(m, "s", name); });
    processSoon();
    int owned = 0;
    return reply && sd_bus_message_read(reply.get(), "b", &owned) >= 0 && owned;
}

bool ShellExtension::shellRunning() {
    return nameHasOwner("org.gnome.Shell");
}

bool ShellExtension::extensionEnabled() {
    return nameHasOwner(kBusName);
}

std::vector<std::string> ShellExtension::types(Selection selection) {
    std::vector<std::string> types;
    auto reply = call(bus_, kBusName, kPath, kInterface, "Types", [selection](sd_bus_message* m) {
        return sd_bus_message_append(m, "s", selectionName(selection));
    });
    processSoon();
    char** strv = nullptr;
    if (!reply || sd_bus_message_read_strv(reply.get(), &strv) < 0 || strv == nullptr) return types;
    for (char** type = strv; *type != nullptr; ++type) {
        if (std::find(types.begin(), types.end(), *type) == types.end()) types.emplace_back(*type);
        std::free(*type);
    }
    std::free(strv);
    return types;
}

std::optional<platform::Bytes> ShellExtension::read(Selection selection, const std::string& type) {
    auto reply = call(bus_, kBusName, kPath, kInterface, "Read", [&](sd_bus_message* m) {
        return sd_bus_message_append(m, "ss", selectionName(selection), type.c_str());
    });
    processSoon();
    const void* data = nullptr;
    std::size_t size = 0;
    if (!reply || sd_bus_message_read_array(reply.get(), 'y', &data, &size) < 0) return std::nullopt;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    return platform::Bytes(bytes, bytes + size);
}

std::optional<std::string> ShellExtension::readText(Selection selection) {
    const auto offered = types(selection);
    for (const char* type : kTextTypes) {
        if (std::find(offered.begin(), offered.end(), type) == offered.end()) continue;
        auto data = read(selection, type);
        if (!data) return std::nullopt;
        return std::string(data->begin(), data->end());
    }
    return std::nullopt;
}

bool ShellExtension::setClipboard(const std::string& type, const platform::Bytes& data) {
    auto reply = call(bus_, kBusName, kPath, kInterface, "SetClipboard", [&](sd_bus_message* m) {
        const int result = sd_bus_message_append(m, "s", type.c_str());
        return result < 0 ? result : sd_bus_message_append_array(m, 'y', data.data(), data.size());
    });
    processSoon();
    return reply != nullptr;
}

bool ShellExtension::copy() {
    auto reply = call(bus_, kBusName, kPath, kInterface, "Copy");
    processSoon();
    return reply != nullptr;
}

bool ShellExtension::paste() {
    auto reply = call(bus_, kBusName, kPath, kInterface, "Paste");
    processSoon();
    return reply != nullptr;
}

std::optional<ShellExtension::PointerPosition> ShellExtension::pointerPosition() {
    auto reply = call(bus_, kBusName, kPath, kInterface, "PointerPosition");
    processSoon();
    PointerPosition position;
    if (!reply ||
        sd_bus_message_read(reply.get(), "iii", &position.x, &position.y, &position.primaryBottom) < 0)
        return std::nullopt;
    return position;
}

int ShellExtension::addSignalHandler(std::function<void(Signal)> handler) {
    handlers_.emplace(++nextHandler_, std::move(handler));
    return nextHandler_;
}

void ShellExtension::removeSignalHandler(int id) {
    handlers_.erase(id);
}

void ShellExtension::signalled(const char* member) {
    ShellExtension* self = this;
    Signal signal;
    if (member != nullptr && std::strcmp(member, "SelectionFinished") == 0)
        signal = Signal::SelectionFinished;
    else if (member != nullptr && std::strcmp(member, "ClipboardChanged") == 0)
        signal = Signal::ClipboardChanged;
    else
        return;
    // Handlers run outside sd_bus_process, so that they may call the extension themselves.
    std::weak_ptr<bool> alive = self->alive_;
    dispatch::Queue::main()->async([self, alive, signal] {
        if (alive.expired()) return;
        // A handler may add or remove handlers, or destroy this object.
        const auto handlers = self->handlers_;
        for (const auto& [id, handler] : handlers) {
            if (alive.expired()) return;
            handler(signal);
        }
    });
}

void ShellExtension::processSoon() {
    // A call reads whatever arrives before its reply: signals among it wait in sd-bus's queue, and the
    // descriptor need not become readable again for them.
    if (processQueued_) return;
    processQueued_ = true;
    std::weak_ptr<bool> alive = alive_;
    dispatch::Queue::main()->async([this, alive] {
        if (alive.expired()) return;
        processQueued_ = false;
        process();
    });
}

void ShellExtension::process() {
    std::weak_ptr<bool> alive = alive_;
    int result;
    do {
        result = sd_bus_process(bus_, nullptr);
    } while (result > 0 && !alive.expired());
    // A lost bus stays readable for ever.
    if (result < 0 && !alive.expired()) watch_.reset();
}

}  // namespace wayland::internal
