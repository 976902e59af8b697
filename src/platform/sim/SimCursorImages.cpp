#include "platform/sim/SimCursorImages.h"

#include <cstdint>
#include <functional>
#include <string>

namespace platform::sim {
namespace {

constexpr int kSize = 16;

// Opaque black where `inside(x, y)`, transparent elsewhere.
CursorImage draw(std::string name, const std::function<bool(int, int)>& inside) {
    CursorImage image;
    image.width = kSize;
    image.height = kSize;
    image.name = std::move(name);
    image.pixels.reserve(kSize * kSize * 4);
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            const std::uint8_t alpha = inside(x, y) ? 0xFF : 0x00;
            image.pixels.insert(image.pixels.end(), {alpha, 0, 0, 0});
        }
    }
    return image;
}

}  // namespace

CursorImage SimCursorImages::iBeam() {
    return draw("ibeam", [](int x, int y) { return x == 8 || ((y == 1 || y == 14) && x >= 6 && x <= 10); });
}

CursorImage SimCursorImages::arrow() {
    return draw("arrow", [](int x, int y) { return x <= y && y < 12; });
}

CursorImage SimCursorImages::pointingHand() {
    return draw("pointing-hand",
                [](int x, int y) { return (x >= 5 && x <= 7) || (y >= 8 && x >= 3 && x <= 12); });
}

CursorImage SimCursorImages::resizeLeftRight() {
    return draw("resize-left-right", [](int x, int y) { return y == 8 || (x + y == 8) || (x - y == 7); });
}

CursorImage SimCursorImages::customIBeam() {
    CursorImage image = iBeam();
    image.name = "custom-ibeam";
    image.pixels[1] ^= 0x01;
    return image;
}

CursorImage SimCursorImages::withoutBitmap() {
    CursorImage image;
    image.width = kSize;
    image.height = kSize;
    image.name = "empty";
    return image;
}

}  // namespace platform::sim
