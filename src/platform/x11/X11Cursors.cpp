#include "platform/x11/X11Cursors.h"

namespace platform::x11 {

namespace {
CursorImage imageOf(const ::x11::internal::CursorPixels& pixels) {
    CursorImage image;
    image.width = pixels.width;
    image.height = pixels.height;
    image.name = pixels.name;
    image.pixels.reserve(pixels.argb.size() * 4);
    for (uint32_t value : pixels.argb)
        for (int i = 0; i < 4; ++i) image.pixels.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return image;
}
}  // namespace

std::optional<CursorImage> X11Cursors::currentSystemCursor() {
    auto pixels = desktop_.cursors().currentImage();
    desktop_.settle();
    if (!pixels) return std::nullopt;
    return imageOf(*pixels);
}

std::optional<std::uint64_t> X11Cursors::currentCursorSerial() {
    unsigned long serial = desktop_.cursors().currentSerial();
    desktop_.settle();
    if (serial == 0) return std::nullopt;
    return serial;
}

std::vector<CursorImage> X11Cursors::standardIBeamCursors() {
    std::vector<CursorImage> out;
    for (const auto& pixels : ::x11::internal::CursorImages::standardTextCursors(desktop_.connection()))
        out.push_back(imageOf(pixels));
    desktop_.settle();
    return out;
}

}  // namespace platform::x11
