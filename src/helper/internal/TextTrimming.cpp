#include "helper/internal/TextTrimming.h"

#include <cstddef>
#include <cstdint>

namespace helper::internal {
namespace {

constexpr char32_t kInvalid = 0xFFFFFFFF;

// Decodes the UTF-8 sequence starting at `pos` (a lead byte); `length` gets its byte count (1 when invalid).
char32_t decodeAt(std::string_view text, std::size_t pos, std::size_t& length) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[pos + i]); };
    const std::uint8_t lead = byte(0);
    length = 1;
    std::size_t extra;
    char32_t c;
    if (lead < 0x80) return lead;
    if ((lead & 0xE0) == 0xC0) {
        extra = 1;
        c = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2;
        c = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3;
        c = lead & 0x07;
    } else {
        return kInvalid;
    }
    if (pos + extra >= text.size()) return kInvalid;
    for (std::size_t i = 1; i <= extra; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return kInvalid;
        c = (c << 6) | (byte(i) & 0x3F);
    }
    length = extra + 1;
    return c;
}

bool isContinuation(char ch) {
    return (static_cast<std::uint8_t>(ch) & 0xC0) == 0x80;
}

}  // namespace

bool isWhitespaceOrNewline(char32_t c) {
    switch (c) {
        case 0x0009:
        case 0x000A:
        case 0x000B:
        case 0x000C:
        case 0x000D:
        case 0x0085:
        case 0x2028:
        case 0x2029:
        // Category Zs.
        case 0x0020:
        case 0x00A0:
        case 0x1680:
        case 0x202F:
        case 0x205F:
        case 0x3000:
            return true;
        default:
            return c >= 0x2000 && c <= 0x200A;
    }
}

std::string_view trimWhitespaceAndNewlines(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t length;
        if (!isWhitespaceOrNewline(decodeAt(text, begin, length))) break;
        begin += length;
    }
    std::size_t end = text.size();
    while (end > begin) {
        std::size_t start = end - 1;
        while (start > begin && isContinuation(text[start]) && end - start < 4) --start;
        std::size_t length;
        const char32_t c = decodeAt(text, start, length);
        if (start + length != end || !isWhitespaceOrNewline(c)) break;
        end = start;
    }
    return text.substr(begin, end - begin);
}

}  // namespace helper::internal
