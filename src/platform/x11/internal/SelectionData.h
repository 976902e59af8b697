#pragma once

#include <X11/Xlib.h>

#include <string>
#include <vector>

namespace x11::internal {

// One target's value of a selection as it travels on the wire: format-32 data is kept as 32-bit units (not
// Xlib's longs), so the bytes are what the owner sent, whatever the host's word size.
struct SelectionData {
    ::Atom target = 0;
    ::Atom type = 0;
    int format = 8;  // 8, 16 or 32
    std::string bytes;

    bool operator==(const SelectionData&) const = default;
};

// Turns the data of an XGetWindowProperty result into wire bytes (format 32 arrives as longs).
std::string propertyBytes(const unsigned char* data, unsigned long items, int format);
// The longs XChangeProperty wants for format-32 wire bytes.
std::vector<long> longsOf(const std::string& bytes);

// The targets a selection reports about itself, never copied when saving or served as data.
bool isMetaTarget(const std::string& name);

}  // namespace x11::internal
