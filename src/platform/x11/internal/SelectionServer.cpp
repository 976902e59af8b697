#include "platform/x11/internal/SelectionServer.h"

#include <X11/Xatom.h>

#include <algorithm>
#include <cstring>

namespace x11::internal {

namespace {
constexpr auto kTransferLifetime = std::chrono::seconds(30);

void changeProperty(::Display* dpy, ::Window window, ::Atom property, ::Atom type, int format,
                    const std::string& bytes) {
    if (format == 32) {
        auto longs = longsOf(bytes);
        XChangeProperty(dpy, window, property, type, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(longs.data()), static_cast<int>(longs.size()));
    } else {
        XChangeProperty(dpy, window, property, type, format, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(bytes.data()),
                        static_cast<int>(bytes.size() / static_cast<size_t>(format / 8)));
    }
}

std::string atomBytes(const std::vector<::Atom>& atoms) {
    std::string out(atoms.size() * 4, '\0');
    for (size_t i = 0; i < atoms.size(); ++i) {
        uint32_t v = static_cast<uint32_t>(atoms[i]);
        std::memcpy(&out[i * 4], &v, 4);
    }
    return out;
}
}  // namespace

SelectionServer::SelectionServer(Connection& connection, ::Atom selection)
    : connection_(connection), selection_(selection) {
    XSetWindowAttributes attributes;
    attributes.event_mask = PropertyChangeMask;
    window_ = XCreateWindow(connection_.get(), connection_.root(), -10, -10, 1, 1, 0, CopyFromParent,
                            InputOnly, CopyFromParent, CWEventMask, &attributes);
    // Stay well below a request's limit (in 4-byte units) and keep chunks a multiple of 4 bytes.
    chunk_ = std::min<size_t>(static_cast<size_t>(XMaxRequestSize(connection_.get())) * 4 - 1024, 256 * 1024);
    handler_ = connection_.addHandler([this](XEvent& event) { return handle(event); });
}

SelectionServer::~SelectionServer() {
    connection_.removeHandler(handler_);
    if (connection_.isBroken()) return;
    disown();
    XDestroyWindow(connection_.get(), window_);
    XFlush(connection_.get());
}

bool SelectionServer::own(std::vector<SelectionData> values) {
    ::Display* dpy = connection_.get();
    ::Time time = connection_.serverTime(window_);
    if (time == CurrentTime) return false;
    XSetSelectionOwner(dpy, selection_, window_, time);
    if (XGetSelectionOwner(dpy, selection_) != window_) {
        owned_ = false;
        return false;
    }
    values_ = std::move(values);
    time_ = time;
    owned_ = true;
    return true;
}

void SelectionServer::disown() {
    if (!owned_) return;
    owned_ = false;
    values_.clear();
    if (XGetSelectionOwner(connection_.get(), selection_) == window_)
        XSetSelectionOwner(connection_.get(), selection_, None, time_);
}

bool SelectionServer::handle(XEvent& event) {
    if (event.type == SelectionRequest && event.xselectionrequest.owner == window_ &&
        event.xselectionrequest.selection == selection_) {
        dropStaleTransfers();
        answerRequest(event.xselectionrequest);
        return true;
    }
    if (event.type == SelectionClear && event.xselectionclear.window == window_ &&
        event.xselectionclear.selection == selection_) {
        bool wasOwned = owned_;
        owned_ = false;
        values_.clear();
        if (wasOwned && onLost_) onLost_();
        return true;
    }
    if (event.type == PropertyNotify && event.xproperty.state == PropertyDelete) {
        for (const auto& transfer : transfers_) {
            if (transfer.requestor == event.xproperty.window && transfer.property == event.xproperty.atom) {
                continueTransfer(event.xproperty);
                return true;
            }
        }
    }
    return false;
}

void SelectionServer::answerRequest(const XSelectionRequestEvent& request) {
    ::Display* dpy = connection_.get();
    ErrorTrap trap(dpy);
    // Obsolete requestors give no property: the target names it.
    ::Atom property = request.property == None ? request.target : request.property;
    bool served = false;
    bool inTime = request.time == CurrentTime || static_cast<int32_t>(request.time - time_) >= 0;
    if (owned_ && inTime) {
        if (request.target == connection_.atom("MULTIPLE")) {
            served = false;
            ::Atom type = None;
            int format = 0;
            unsigned long items = 0, after = 0;
            unsigned char* data = nullptr;
            if (request.property != None &&
                XGetWindowProperty(dpy, request.requestor, request.property, 0, 1 << 16, False,
                                   AnyPropertyType, &type, &format, &items, &after, &data) == Success &&
                format == 32 && data) {
                std::vector<long> pairs(reinterpret_cast<long*>(data), reinterpret_cast<long*>(data) + items);
                for (size_t i = 0; i + 1 < pairs.size(); i += 2) {
                    if (!serve(request.requestor, static_cast<::Atom>(pairs[i]),
                               static_cast<::Atom>(pairs[i + 1])))
                        pairs[i + 1] = None;  // tells the requestor that this conversion failed
                }
                XChangeProperty(dpy, request.requestor, request.property, type, 32, PropModeReplace,
                                reinterpret_cast<unsigned char*>(pairs.data()),
                                static_cast<int>(pairs.size()));
                served = true;
            }
            if (data) XFree(data);
        } else {
            served = serve(request.requestor, request.target, property);
        }
    }
    XEvent reply{};
    reply.xselection.type = SelectionNotify;
    reply.xselection.display = dpy;
    reply.xselection.requestor = request.requestor;
    reply.xselection.selection = request.selection;
    reply.xselection.target = request.target;
    reply.xselection.property = served ? property : None;
    reply.xselection.time = request.time;
    XSendEvent(dpy, request.requestor, False, NoEventMask, &reply);
    XFlush(dpy);
}

bool SelectionServer::serve(::Window requestor, ::Atom target, ::Atom property) {
    ::Display* dpy = connection_.get();
    if (property == None) return false;
    if (target == connection_.atom("TARGETS")) {
        std::vector<::Atom> atoms{connection_.atom("TARGETS"), connection_.atom("TIMESTAMP"),
                                  connection_.atom("MULTIPLE")};
        for (const auto& value : values_) atoms.push_back(value.target);
        changeProperty(dpy, requestor, property, XA_ATOM, 32, atomBytes(atoms));
        return true;
    }
    if (target == connection_.atom("TIMESTAMP")) {
        changeProperty(dpy, requestor, property, XA_INTEGER, 32, atomBytes({time_}));
        return true;
    }
    auto found =
        std::find_if(values_.begin(), values_.end(), [&](const auto& v) { return v.target == target; });
    if (found == values_.end()) return false;
    if (found->bytes.size() <= chunk_) {
        changeProperty(dpy, requestor, property, found->type, found->format, found->bytes);
        return true;
    }
    // Too large for one request: announce the size, then send a chunk each time the requestor deletes it.
    XSelectInput(dpy, requestor, PropertyChangeMask);
    changeProperty(dpy, requestor, property, connection_.atom("INCR"), 32,
                   atomBytes({static_cast<::Atom>(found->bytes.size())}));
    transfers_.push_back(Transfer{requestor, property, *found, 0, Clock::now()});
    return true;
}

void SelectionServer::continueTransfer(const XPropertyEvent& event) {
    ::Display* dpy = connection_.get();
    ErrorTrap trap(dpy);
    auto it = std::find_if(transfers_.begin(), transfers_.end(), [&](const Transfer& t) {
        return t.requestor == event.window && t.property == event.atom;
    });
    if (it == transfers_.end()) return;
    size_t left = it->value.bytes.size() - it->offset;
    size_t n = std::min(left, chunk_);
    changeProperty(dpy, it->requestor, it->property, it->value.type, it->value.format,
                   it->value.bytes.substr(it->offset, n));
    it->offset += n;
    if (n == 0) {
        // The zero-length chunk just written ends the transfer. The requestor's window keeps the property
        // mask: it may be one of this connection's own windows, which needs it.
        transfers_.erase(it);
    }
    XFlush(dpy);
}

void SelectionServer::dropStaleTransfers() {
    // A requestor that stopped reading must not keep its copy of the data alive for ever.
    auto now = Clock::now();
    std::erase_if(transfers_, [&](const Transfer& t) { return now - t.started > kTransferLifetime; });
}

}  // namespace x11::internal
