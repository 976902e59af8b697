#include "platform/x11/internal/CursorImages.h"

#include <X11/Xcursor/Xcursor.h>
#include <X11/Xutil.h>
#include <X11/cursorfont.h>
#include <X11/extensions/Xfixes.h>

namespace x11::internal {

uint64_t hashPixels(const std::vector<uint32_t>& argb) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (uint32_t value : argb) {
        for (int i = 0; i < 4; ++i) {
            hash ^= (value >> (8 * i)) & 0xffu;
            hash *= 0x100000001b3ull;
        }
    }
    return hash;
}

std::optional<CursorPixels> CursorImages::current(Connection& connection) {
    XFixesCursorImage* image = XFixesGetCursorImage(connection.get());
    if (!image) return std::nullopt;
    CursorPixels out;
    out.width = image->width;
    out.height = image->height;
    out.serial = image->cursor_serial;
    if (image->name) out.name = image->name;
    size_t count = size_t(image->width) * size_t(image->height);
    out.argb.resize(count);
    // The pixels are unsigned long (8 bytes on 64-bit systems) with ARGB in the low 32 bits.
    for (size_t i = 0; i < count; ++i) out.argb[i] = static_cast<uint32_t>(image->pixels[i]);
    XFree(image);
    return out;
}

std::optional<CursorPixels> CursorImages::themed(Connection& connection, const char* name) {
    const char* theme = XcursorGetTheme(connection.get());
    int size = XcursorGetDefaultSize(connection.get());
    XcursorImage* image = XcursorLibraryLoadImage(name, theme, size);
    if (!image) return std::nullopt;
    CursorPixels out;
    out.width = static_cast<int>(image->width);
    out.height = static_cast<int>(image->height);
    out.name = name;
    out.argb.assign(image->pixels, image->pixels + size_t(image->width) * image->height);
    XcursorImageDestroy(image);
    return out;
}

namespace {

// The bits of one glyph drawn with its origin at (x, y) into a width x height bitmap.
std::vector<bool> glyphBits(::Display* dpy, ::Window root, XFontStruct* font, unsigned glyph, int width,
                            int height, int x, int y) {
    std::vector<bool> bits(size_t(width) * height, false);
    Pixmap pixmap = XCreatePixmap(dpy, root, width, height, 1);
    XGCValues values;
    values.font = font->fid;
    values.foreground = 0;
    GC gc = XCreateGC(dpy, pixmap, GCFont | GCForeground, &values);
    XFillRectangle(dpy, pixmap, gc, 0, 0, width, height);
    XSetForeground(dpy, gc, 1);
    char c = static_cast<char>(glyph);
    XDrawString(dpy, pixmap, gc, x, y, &c, 1);
    XImage* image = XGetImage(dpy, pixmap, 0, 0, width, height, 1, XYPixmap);
    if (image) {
        for (int row = 0; row < height; ++row)
            for (int col = 0; col < width; ++col)
                bits[size_t(row) * width + col] = XGetPixel(image, col, row) != 0;
        XDestroyImage(image);
    }
    XFreeGC(dpy, gc);
    XFreePixmap(dpy, pixmap);
    return bits;
}

const XCharStruct* metricsOf(XFontStruct* font, unsigned glyph) {
    if (glyph < font->min_char_or_byte2 || glyph > font->max_char_or_byte2) return nullptr;
    if (!font->per_char) return &font->max_bounds;
    return &font->per_char[glyph - font->min_char_or_byte2];
}

}  // namespace

std::optional<CursorPixels> CursorImages::coreGlyph(Connection& connection, unsigned glyph) {
    ::Display* dpy = connection.get();
    XFontStruct* font = XLoadQueryFont(dpy, "cursor");
    if (!font) return std::nullopt;
    std::optional<CursorPixels> out;
    const XCharStruct* mask = metricsOf(font, glyph + 1);
    if (mask && metricsOf(font, glyph)) {
        // The server sizes a glyph cursor by the mask glyph and draws both glyphs at the mask's hot spot.
        int width = mask->rbearing - mask->lbearing;
        int height = mask->ascent + mask->descent;
        int xhot = mask->lbearing > 0 ? 0 : -mask->lbearing;
        int yhot = mask->ascent;
        if (width > 0 && height > 0) {
            auto source = glyphBits(dpy, connection.root(), font, glyph, width, height, xhot, yhot);
            auto maskBits = glyphBits(dpy, connection.root(), font, glyph + 1, width, height, xhot, yhot);
            CursorPixels pixels;
            pixels.width = width;
            pixels.height = height;
            pixels.argb.resize(source.size());
            for (size_t i = 0; i < source.size(); ++i)
                pixels.argb[i] = maskBits[i] ? (source[i] ? 0xff000000u : 0xffffffffu) : 0u;
            out = std::move(pixels);
        }
    }
    XFreeFont(dpy, font);
    return out;
}

std::vector<CursorPixels> CursorImages::standardTextCursors(Connection& connection) {
    std::vector<CursorPixels> out;
    for (const char* name : {"xterm", "text"})
        if (auto image = themed(connection, name)) out.push_back(std::move(*image));
    if (auto glyph = coreGlyph(connection, XC_xterm)) out.push_back(std::move(*glyph));
    return out;
}

bool CursorImages::isTextCursorName(const std::string& name) {
    return name == "xterm" || name == "text" || name == "ibeam";
}

}  // namespace x11::internal
