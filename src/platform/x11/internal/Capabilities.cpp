#include "platform/x11/internal/Capabilities.h"

#include <X11/extensions/XInput2.h>
#include <X11/extensions/XRes.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/record.h>

namespace x11::internal {

Capabilities Capabilities::probe(Connection& connection) {
    ::Display* dpy = connection.get();
    Capabilities c;
    int major = 0, minor = 0, event = 0, error = 0, opcode = 0;
    c.record = XRecordQueryVersion(dpy, &major, &minor);
    if (XQueryExtension(dpy, "XInputExtension", &opcode, &event, &error)) {
        major = 2;
        minor = 0;
        c.xinput2 = XIQueryVersion(dpy, &major, &minor) == Success;
    }
    c.xtest = XTestQueryExtension(dpy, &event, &error, &major, &minor);
    c.xfixes = XFixesQueryExtension(dpy, &event, &error);
    c.xres = XResQueryExtension(dpy, &event, &error);
    c.randr = XRRQueryExtension(dpy, &event, &error);
    return c;
}

std::string Capabilities::missing() const {
    std::string out;
    auto add = [&](const char* what) { out += out.empty() ? what : std::string(", ") + what; };
    if (!record && !xinput2) add("RECORD or XInputExtension 2");
    if (!xtest) add("XTEST");
    if (!xfixes) add("XFIXES");
    return out;
}

}  // namespace x11::internal
