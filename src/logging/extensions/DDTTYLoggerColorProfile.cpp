#include "logging/extensions/DDTTYLoggerColorProfile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "logging/extensions/internal/TTYColorState.h"

using logging::internal::TTYColorState;

namespace {

constexpr char kEscape[] = "\033[";

void components(const CLIColor& color, std::uint8_t& r, std::uint8_t& g, std::uint8_t& b) {
    double red = 0, green = 0, blue = 0;
    color.getRed(&red, &green, &blue, nullptr);
    r = static_cast<std::uint8_t>(red * 255);
    g = static_cast<std::uint8_t>(green * 255);
    b = static_cast<std::uint8_t>(blue * 255);
}

// `into` = ESC [ + `code`; false when that does not fit.
template <std::size_t N>
bool copyCode(const std::string& code, char (&into)[N], std::size_t& length) {
    const std::size_t prefix = sizeof kEscape - 1;
    if (prefix + code.size() >= sizeof into) return false;
    std::memcpy(into, kEscape, prefix);
    std::memcpy(into + prefix, code.data(), code.size());
    into[prefix + code.size()] = '\0';
    length = prefix + code.size();
    return true;
}

// One side (foreground or background) of a profile in the current colour mode.
bool makeSequence(const std::optional<CLIColor>& color, bool foreground, std::uint8_t r, std::uint8_t g,
                  std::uint8_t b, std::size_t& index, std::optional<std::string>& raw, char (&code)[24],
                  std::size_t& length) {
    if (!color) return true;
    if (TTYColorState::isaColorTTY()) {
        const auto* palette = TTYColorState::palette();
        if (palette == nullptr || palette->colors.empty()) return true;
        index = TTYColorState::codeIndexForColor(*color);
        raw = (foreground ? palette->codes_fg : palette->codes_bg)[index];
        return copyCode(*raw, code, length);
    }
    if (TTYColorState::isaXcodeColorTTY()) {
        const int n = std::snprintf(code, sizeof code, foreground ? "%sfg%u,%u,%u;" : "%sbg%u,%u,%u;",
                                    kEscape, unsigned{r}, unsigned{g}, unsigned{b});
        length = n < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(n), sizeof code - 1);
    }
    return true;
}

}  // namespace

std::shared_ptr<DDTTYLoggerColorProfile> DDTTYLoggerColorProfile::create(
    const std::optional<CLIColor>& foreground, const std::optional<CLIColor>& background, std::uint64_t mask,
    std::int64_t context) {
    auto profile = std::make_shared<DDTTYLoggerColorProfile>();
    profile->mask = mask;
    profile->context = context;
    if (foreground) components(*foreground, profile->fg_r, profile->fg_g, profile->fg_b);
    if (background) components(*background, profile->bg_r, profile->bg_g, profile->bg_b);
    if (!makeSequence(foreground, true, profile->fg_r, profile->fg_g, profile->fg_b, profile->fgCodeIndex,
                      profile->fgCodeRaw, profile->fgCode, profile->fgCodeLen) ||
        !makeSequence(background, false, profile->bg_r, profile->bg_g, profile->bg_b, profile->bgCodeIndex,
                      profile->bgCodeRaw, profile->bgCode, profile->bgCodeLen)) {
        return nullptr;
    }
    if (TTYColorState::isaColorTTY()) {
        copyCode("0m", profile->resetCode, profile->resetCodeLen);
    } else if (TTYColorState::isaXcodeColorTTY()) {
        copyCode(";", profile->resetCode, profile->resetCodeLen);
    }
    return profile;
}

std::string DDTTYLoggerColorProfile::description() const {
    char text[256];
    const int n = std::snprintf(
        text, sizeof text,
        "<DDTTYLoggerColorProfile: %p mask:%i ctxt:%ld fg:%u,%u,%u bg:%u,%u,%u fgCode:%s "
        "bgCode:%s>",
        static_cast<const void*>(this), static_cast<int>(mask), static_cast<long>(context), unsigned{fg_r},
        unsigned{fg_g}, unsigned{fg_b}, unsigned{bg_r}, unsigned{bg_g}, unsigned{bg_b},
        fgCodeRaw ? fgCodeRaw->c_str() : "(null)", bgCodeRaw ? bgCodeRaw->c_str() : "(null)");
    return std::string(text, n < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(n), sizeof text - 1));
}
