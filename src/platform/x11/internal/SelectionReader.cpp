#include "platform/x11/internal/SelectionReader.h"

#include <X11/Xatom.h>

namespace x11::internal {

namespace {

std::string latin1ToUtf8(const std::string& in) {
    std::string out;
    for (unsigned char c : in) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back(static_cast<char>(0xc0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3f)));
        }
    }
    return out;
}

// Reads and (optionally) deletes a whole property; nothing when it is absent.
std::optional<SelectionData> takeProperty(::Display* dpy, ::Window window, ::Atom property, bool remove) {
    SelectionData out;
    long offset = 0;
    for (;;) {
        ::Atom type = None;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        // Read in pieces of 1 MiB (the length is in 32-bit units); delete only with the last piece.
        int rc = XGetWindowProperty(dpy, window, property, offset, 1 << 18, False, AnyPropertyType, &type,
                                    &format, &items, &after, &data);
        if (rc != Success || type == None) {
            if (data) XFree(data);
            return std::nullopt;
        }
        out.type = type;
        out.format = format;
        std::string piece = propertyBytes(data, items, format);
        out.bytes += piece;
        XFree(data);
        if (after == 0) break;
        offset += static_cast<long>(piece.size() / 4);
    }
    if (remove) XDeleteProperty(dpy, window, property);
    return out;
}

}  // namespace

SelectionReader::SelectionReader(Connection& connection) : connection_(connection) {
    XSetWindowAttributes attributes;
    attributes.event_mask = PropertyChangeMask;
    window_ = XCreateWindow(connection_.get(), connection_.root(), -10, -10, 1, 1, 0, CopyFromParent,
                            InputOnly, CopyFromParent, CWEventMask, &attributes);
    property_ = connection_.atom("_TANDREL_SELECTION");
}

SelectionReader::~SelectionReader() {
    if (!connection_.isBroken()) XDestroyWindow(connection_.get(), window_);
}

std::optional<SelectionData> SelectionReader::read(::Atom selection, ::Atom target,
                                                   std::chrono::milliseconds timeout) {
    ::Display* dpy = connection_.get();
    if (XGetSelectionOwner(dpy, selection) == None) return std::nullopt;
    XDeleteProperty(dpy, window_, property_);
    XConvertSelection(dpy, selection, target, property_, window_, CurrentTime);
    XFlush(dpy);
    auto notify = connection_.waitFor(
        [&](const XEvent& e) {
            return e.type == SelectionNotify && e.xselection.requestor == window_ &&
                   e.xselection.selection == selection;
        },
        timeout);
    if (!notify || notify->xselection.property == None) return std::nullopt;
    auto value = takeProperty(dpy, window_, property_, true);
    if (!value) return std::nullopt;
    value->target = target;
    if (value->type == connection_.atom("INCR")) return readIncremental(target, timeout);
    return value;
}

std::optional<SelectionData> SelectionReader::readIncremental(::Atom target,
                                                              std::chrono::milliseconds timeout) {
    ::Display* dpy = connection_.get();
    SelectionData out;
    out.target = target;
    bool first = true;
    for (;;) {
        // Deleting the INCR property (done by takeProperty) asked for the first chunk; each chunk deleted
        // asks for the next. A zero-length chunk ends the transfer.
        auto event = connection_.waitFor(
            [&](const XEvent& e) {
                return e.type == PropertyNotify && e.xproperty.window == window_ &&
                       e.xproperty.atom == property_ && e.xproperty.state == PropertyNewValue;
            },
            timeout);
        if (!event) return std::nullopt;
        auto chunk = takeProperty(dpy, window_, property_, true);
        if (!chunk) continue;
        if (first) {
            out.type = chunk->type;
            out.format = chunk->format;
            first = false;
        }
        if (chunk->bytes.empty()) {
            XFlush(dpy);
            return out;
        }
        out.bytes += chunk->bytes;
        XFlush(dpy);
    }
}

std::vector<::Atom> SelectionReader::targets(::Atom selection, std::chrono::milliseconds timeout) {
    auto value = read(selection, connection_.atom("TARGETS"), timeout);
    std::vector<::Atom> out;
    if (!value || value->format != 32) return out;
    for (long atom : longsOf(value->bytes))
        if (atom != None) out.push_back(static_cast<::Atom>(atom));
    return out;
}

std::optional<std::string> SelectionReader::readText(::Atom selection, std::chrono::milliseconds timeout) {
    for (const char* name : {"UTF8_STRING", "text/plain;charset=utf-8"}) {
        auto value = read(selection, connection_.atom(name), timeout);
        if (value && value->format == 8) return value->bytes;
        if (XGetSelectionOwner(connection_.get(), selection) == None) return std::nullopt;
    }
    auto value = read(selection, XA_STRING, timeout);
    if (value && value->format == 8) return latin1ToUtf8(value->bytes);
    return std::nullopt;
}

}  // namespace x11::internal
