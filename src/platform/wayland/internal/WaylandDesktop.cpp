#include "platform/wayland/internal/WaylandDesktop.h"

#include <cstdio>

#include "platform/linux/TerminalApps.h"

namespace wayland::internal {

std::unique_ptr<WaylandDesktop> WaylandDesktop::open(const std::string& display, std::string* why) {
    auto desktop = std::unique_ptr<WaylandDesktop>(new WaylandDesktop());
    desktop->connection_ = Connection::open(display, why);
    if (!desktop->connection_) return nullptr;
    desktop->dataControl_ = DataControl::create(*desktop->connection_, why);
    if (!desktop->dataControl_) return nullptr;
    desktop->keyboard_ = VirtualKeyboard::create(*desktop->connection_, &desktop->keyboardMissing_);
    desktop->toplevels_ = ForeignToplevels::create(*desktop->connection_);
    WaylandDesktop* self = desktop.get();
    desktop->watch_ = dispatch::RunLoop::main().watch(self->connection_->fd(), dispatch::RunLoop::Readable,
                                                      [self](unsigned) {
                                                          self->connection_->dispatchAvailable();
                                                          if (self->connection_->isBroken())
                                                              self->connectionLost();
                                                      });
    return desktop;
}

void WaylandDesktop::connectionLost() {
    // A lost compositor stays readable for ever.
    watch_.reset();
    std::fprintf(stderr,
                 "WaylandDesktop: the connection to the compositor is lost: no selection is seen, read or "
                 "inserted any more\n");
    while (!lostHandlers_.empty()) {
        auto handler = std::move(lostHandlers_.begin()->second);
        lostHandlers_.erase(lostHandlers_.begin());
        handler();
    }
}

int WaylandDesktop::addLostHandler(std::function<void()> handler) {
    lostHandlers_.emplace(nextLostHandler_, std::move(handler));
    return nextLostHandler_++;
}

std::optional<bool> WaylandDesktop::frontmostIsTerminal() const {
    if (!toplevels_) return std::nullopt;
    auto active = toplevels_->activated();
    if (!active) return std::nullopt;
    return ::linuxdesktop::TerminalApps::isTerminal(active->appId);
}

std::string WaylandDesktop::missingFeatures() const {
    std::string missing;
    if (!keyboard_) missing = keyboardMissing_ + ": no paste and no copy key strokes";
    if (!connection_->layerShell()) {
        if (!missing.empty()) missing += "; ";
        missing +=
            "the compositor offers no layer shell (zwlr_layer_shell_v1): the pointer position is the last "
            "known one";
    }
    if (!toplevels_) {
        if (!missing.empty()) missing += "; ";
        missing +=
            "the compositor does not list its windows (zwlr_foreign_toplevel_manager_v1): the frontmost "
            "application has no name and terminals are not recognised";
    }
    return missing;
}

WaylandDesktop::~WaylandDesktop() {
    watch_.reset();
    toplevels_.reset();
    keyboard_.reset();
    dataControl_.reset();
}

}  // namespace wayland::internal
