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

WaylandDesktop::~WaylandDesktop() {
    watch_.reset();
    keyboard_.reset();
    dataControl_.reset();
}

}  // namespace wayland::internal
