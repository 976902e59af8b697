#include "platform/x11/internal/X11Desktop.h"

#include <X11/Xatom.h>

namespace x11::internal {

std::unique_ptr<X11Desktop> X11Desktop::open(const std::string& display, std::string* why) {
    auto desktop = std::unique_ptr<X11Desktop>(new X11Desktop());
    desktop->connection_ = Connection::open(display, why);
    if (!desktop->connection_) return nullptr;
    Connection& c = *desktop->connection_;
    desktop->display_ = DisplayString(c.get());
    desktop->capabilities_ = Capabilities::probe(c);
    desktop->clipboardAtom_ = c.atom("CLIPBOARD");
    desktop->cursors_ = std::make_unique<CursorWatcher>(c);
    desktop->owners_ =
        std::make_unique<SelectionOwnerWatcher>(c, std::vector<::Atom>{desktop->clipboardAtom_, XA_PRIMARY});
    desktop->reader_ = std::make_unique<SelectionReader>(c);
    desktop->clipboard_ = std::make_unique<SelectionServer>(c, desktop->clipboardAtom_);
    desktop->primary_ = std::make_unique<SelectionServer>(c, XA_PRIMARY);
    desktop->owners_->ignoreOwner(desktop->clipboard_->window());
    desktop->owners_->ignoreOwner(desktop->primary_->window());
    desktop->keys_ = std::make_unique<KeySynthesizer>(c);
    desktop->frontmost_ = std::make_unique<FrontmostWindow>(c);
    XFlush(c.get());
    return desktop;
}

X11Desktop::~X11Desktop() {
    watch_.reset();
    // Members go in reverse order: the handlers before the connection they are registered with.
}

void X11Desktop::settle() {
    Connection& c = *connection_;
    if (!watch_ && !c.isBroken()) {
        watch_ = dispatch::RunLoop::main().watch(c.fd(), dispatch::RunLoop::Readable, [this](unsigned) {
            connection_->dispatchPending();
            // A lost server keeps the descriptor readable for ever: stop watching it.
            if (connection_->isBroken()) watch_.reset();
        });
    }
    c.dispatchPending();
}

void X11Desktop::rememberRead(const SelectionData& value, ::Window owner, ::Time since) {
    if (owner != rememberedOwner_ || since != rememberedSince_) {
        remembered_.clear();
        rememberedOwner_ = owner;
        rememberedSince_ = since;
    }
    remembered_[value.target] = value;
}

std::vector<SelectionData> X11Desktop::rememberedFor(::Window owner, ::Time since) const {
    std::vector<SelectionData> out;
    if (owner != rememberedOwner_ || since != rememberedSince_) return out;
    for (const auto& [target, value] : remembered_) out.push_back(value);
    return out;
}

std::optional<SelectionData> X11Desktop::rememberedBytes(::Atom target, const std::string& bytes) const {
    auto found = remembered_.find(target);
    if (found == remembered_.end() || found->second.bytes != bytes) return std::nullopt;
    return found->second;
}

}  // namespace x11::internal
