#pragma once

#include <string_view>

namespace helper::internal {

// True for the platform's "whitespace and newline" characters: Unicode category Zs, U+0009, U+000A..U+000D,
// U+0085, U+2028 and U+2029.
bool isWhitespaceOrNewline(char32_t c);

// `text` (UTF-8) without those characters at either end. Bytes that are not valid UTF-8 count as text.
std::string_view trimWhitespaceAndNewlines(std::string_view text);

}  // namespace helper::internal
