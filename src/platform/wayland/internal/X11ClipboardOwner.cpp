#include "platform/wayland/internal/X11ClipboardOwner.h"

#include <X11/Xatom.h>

#include <algorithm>

#include "platform/x11/internal/Connection.h"
#include "platform/x11/internal/SelectionData.h"
#include "platform/x11/internal/SelectionServer.h"

namespace wayland::internal {

namespace {

constexpr std::string_view kUtf8Text = "text/plain;charset=utf-8";

bool isAscii(const platform::Bytes& bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t byte) { return byte < 0x80; });
}

}  // namespace

std::unique_ptr<X11ClipboardOwner> X11ClipboardOwner::open(const std::string& display, std::string* why) {
    auto owner = std::unique_ptr<X11ClipboardOwner>(new X11ClipboardOwner());
    owner->connection_ = x11::internal::Connection::open(display, why);
    if (!owner->connection_) return nullptr;
    auto& connection = *owner->connection_;
    owner->server_ =
        std::make_unique<x11::internal::SelectionServer>(connection, connection.atom("CLIPBOARD"));
    owner->watch_ = dispatch::RunLoop::main().watch(connection.fd(), dispatch::RunLoop::Readable,
                                                    [self = owner.get()](unsigned) {
                                                        self->connection_->dispatchPending();
                                                        // A lost server stays readable for ever.
                                                        if (self->connection_->isBroken())
                                                            self->watch_.reset();
                                                    });
    return owner;
}

X11ClipboardOwner::~X11ClipboardOwner() {
    watch_.reset();
    server_.reset();
}

bool X11ClipboardOwner::own(const Contents& contents) {
    auto& connection = *connection_;
    std::vector<x11::internal::SelectionData> values;
    auto add = [&](::Atom target, ::Atom type, const platform::Bytes& data) {
        for (const auto& value : values)
            if (value.target == target) return;
        values.push_back({target, type, 8, std::string(data.begin(), data.end())});
    };
    for (const auto& [type, data] : contents)
        add(connection.atom(type.c_str()), connection.atom(type.c_str()), data);
    // Plain text under the names X11 applications ask for.
    for (const auto& [type, data] : contents) {
        if (type != kUtf8Text) continue;
        const ::Atom utf8 = connection.atom("UTF8_STRING");
        add(utf8, utf8, data);
        add(connection.atom("text/plain"), connection.atom("text/plain"), data);
        add(connection.atom("TEXT"), utf8, data);
        if (isAscii(data)) add(XA_STRING, XA_STRING, data);
    }
    return server_->own(std::move(values));
}

bool X11ClipboardOwner::owns() {
    connection_->dispatchPending(/*sync=*/true);
    return server_->owns();
}

}  // namespace wayland::internal
