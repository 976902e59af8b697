#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "logging/extensions/CLIColor.h"

// One colour choice of the terminal logger: the flags and context (or, with mask and context 0, a tag) it
// applies to, and the escape sequences that start and end the colouring, built once here so that writing a
// line does no formatting for colours. The sequences follow the process's colour mode (see `DDTTYLogger`):
// ANSI codes of the nearest palette entry, the RGB form, or nothing at all.
//
// Immutable after `create`; the terminal logger shares it between the caller that asked for it and its own
// queue.
class DDTTYLoggerColorProfile {
  public:
    // Either colour may be absent. Null when a sequence does not fit its field.
    static std::shared_ptr<DDTTYLoggerColorProfile> create(const std::optional<CLIColor>& foreground,
                                                           const std::optional<CLIColor>& background,
                                                           std::uint64_t mask, std::int64_t context);

    // "<DDTTYLoggerColorProfile: %p mask:%i ctxt:%ld fg:%u,%u,%u bg:%u,%u,%u fgCode:%@ bgCode:%@>"
    std::string description() const;

    std::uint64_t mask = 0;
    std::int64_t context = 0;
    std::uint8_t fg_r = 0, fg_g = 0, fg_b = 0;
    std::uint8_t bg_r = 0, bg_g = 0, bg_b = 0;
    // ANSI mode only: the palette entry and its code (without ESC [).
    std::size_t fgCodeIndex = 0;
    std::optional<std::string> fgCodeRaw;
    std::size_t bgCodeIndex = 0;
    std::optional<std::string> bgCodeRaw;
    char fgCode[24] = {};
    std::size_t fgCodeLen = 0;
    char bgCode[24] = {};
    std::size_t bgCodeLen = 0;
    char resetCode[8] = {};
    std::size_t resetCodeLen = 0;
};
