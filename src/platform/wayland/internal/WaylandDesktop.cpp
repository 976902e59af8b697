#include "platform/wayland/internal/WaylandDesktop.h"

namespace wayland::internal {

std::unique_ptr<WaylandDesktop> WaylandDesktop::open(const std::string& display, std::string* why) {
    auto desktop = std::unique_ptr<WaylandDesktop>(new WaylandDesktop());
    desktop->connection_ = Connection::open(display, why);
    if (!desktop->connection_) return nullptr;
    desktop->dataControl_ = DataControl::create(*desktop->connection_, why);
    if (!desktop->dataControl_) return nullptr;
    desktop->keyboard_ = VirtualKeyboard::create(*desktop->connection_, &desktop->keyboardMissing_);
    WaylandDesktop* self = desktop.get();
    desktop->watch_ = dispatch::RunLoop::main().watch(self->connection_->fd(), dispatch::RunLoop::Readable,
                                                      [self](unsigned) {
                                                          self->connection_->dispatchAvailable();
                                                          // A lost compositor stays readable for ever.
                                                          if (self->connection_->isBroken())
                                                              self->watch_.reset();
                                                      });
    return desktop;
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
    return missing;
}

WaylandDesktop::~WaylandDesktop() {
    watch_.reset();
    keyboard_.reset();
    dataControl_.reset();
}

}  // namespace wayland::internal
