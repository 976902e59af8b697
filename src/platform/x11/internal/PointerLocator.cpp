#include "platform/x11/internal/PointerLocator.h"

#include <X11/extensions/Xrandr.h>

namespace x11::internal {

std::vector<MonitorRect> PointerLocator::monitors(Connection& connection) {
    std::vector<MonitorRect> out;
    int eventBase = 0, errorBase = 0;
    if (!XRRQueryExtension(connection.get(), &eventBase, &errorBase)) return out;
    int count = 0;
    XRRMonitorInfo* info = XRRGetMonitors(connection.get(), connection.root(), True, &count);
    if (!info) return out;
    for (int i = 0; i < count; ++i)
        out.push_back(MonitorRect{info[i].x, info[i].y, info[i].width, info[i].height, info[i].primary != 0});
    XRRFreeMonitors(info);
    return out;
}

MonitorRect PointerLocator::reference(const std::vector<MonitorRect>& monitors, const MonitorRect& screen) {
    for (const auto& m : monitors)
        if (m.primary) return m;
    for (const auto& m : monitors)
        if (m.x <= 0 && m.y <= 0 && m.x + m.width > 0 && m.y + m.height > 0) return m;
    if (!monitors.empty()) return monitors.front();
    return screen;
}

std::optional<std::pair<double, double>> PointerLocator::location(Connection& connection) {
    ::Display* dpy = connection.get();
    ::Window root = None, child = None;
    int rootX = 0, rootY = 0, winX = 0, winY = 0;
    unsigned mask = 0;
    if (!XQueryPointer(dpy, connection.root(), &root, &child, &rootX, &rootY, &winX, &winY, &mask))
        return std::nullopt;
    int screen = DefaultScreen(dpy);
    MonitorRect whole{0, 0, DisplayWidth(dpy, screen), DisplayHeight(dpy, screen), false};
    MonitorRect p = reference(monitors(connection), whole);
    return std::make_pair(static_cast<double>(rootX - p.x), static_cast<double>(p.y + p.height - rootY));
}

}  // namespace x11::internal
