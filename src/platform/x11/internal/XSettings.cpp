#include "platform/x11/internal/XSettings.h"

#include <X11/Xatom.h>

#include <cstring>

namespace x11::internal {

namespace {

class Reader {
  public:
    Reader(std::string_view bytes, bool bigEndian) : bytes_(bytes), big_(bigEndian) {}
    bool has(size_t n) const { return bytes_.size() - pos_ >= n; }
    bool skip(size_t n) {
        if (!has(n)) return false;
        pos_ += n;
        return true;
    }
    bool u8(uint8_t& out) {
        if (!has(1)) return false;
        out = static_cast<uint8_t>(bytes_[pos_++]);
        return true;
    }
    bool u16(uint16_t& out) {
        uint8_t b[2];
        if (!u8(b[0]) || !u8(b[1])) return false;
        out = big_ ? static_cast<uint16_t>(b[0] << 8 | b[1]) : static_cast<uint16_t>(b[1] << 8 | b[0]);
        return true;
    }
    bool u32(uint32_t& out) {
        uint8_t b[4];
        for (auto& x : b)
            if (!u8(x)) return false;
        out = big_ ? (uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3])
                   : (uint32_t(b[3]) << 24 | uint32_t(b[2]) << 16 | uint32_t(b[1]) << 8 | b[0]);
        return true;
    }
    bool text(size_t n, std::string& out) {
        if (!has(n)) return false;
        out.assign(bytes_.substr(pos_, n));
        pos_ += n;
        return skip((4 - n % 4) % 4);
    }

  private:
    std::string_view bytes_;
    size_t pos_ = 0;
    bool big_;
};

}  // namespace

std::map<std::string, int32_t> XSettings::parseIntegers(std::string_view bytes) {
    std::map<std::string, int32_t> out;
    if (bytes.empty()) return out;
    Reader r(bytes, bytes[0] != 0);  // LSBFirst 0, MSBFirst 1
    uint32_t serial = 0, count = 0;
    if (!r.skip(4) || !r.u32(serial) || !r.u32(count)) return out;
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t type = 0;
        uint16_t nameLength = 0;
        std::string name;
        uint32_t lastChange = 0;
        if (!r.u8(type) || !r.skip(1) || !r.u16(nameLength) || !r.text(nameLength, name) ||
            !r.u32(lastChange))
            return out;
        if (type == 0) {  // integer
            uint32_t value = 0;
            if (!r.u32(value)) return out;
            out[name] = static_cast<int32_t>(value);
        } else if (type == 1) {  // string
            uint32_t length = 0;
            std::string ignored;
            if (!r.u32(length) || !r.text(length, ignored)) return out;
        } else if (type == 2) {  // colour: four 16-bit values
            if (!r.skip(8)) return out;
        } else {
            return out;
        }
    }
    return out;
}

std::map<std::string, int32_t> XSettings::readIntegers(Connection& connection) {
    ::Display* dpy = connection.get();
    std::string selection = "_XSETTINGS_S" + std::to_string(DefaultScreen(dpy));
    ::Window owner = XGetSelectionOwner(dpy, connection.atom(selection.c_str()));
    if (owner == None) return {};
    ::Atom property = connection.atom("_XSETTINGS_SETTINGS");
    auto settings = connection.property(owner, property, property, 1 << 20);
    std::map<std::string, int32_t> out;
    if (settings && settings->format == 8) out = parseIntegers(settings->bytes);
    return out;
}

}  // namespace x11::internal
