#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "logging/extensions/CLIColor.h"

namespace logging::internal {

// The palette that requested colours are matched against, with the escape codes (without the leading ESC [)
// of each entry.
struct TTYPalette {
    std::vector<CLIColor> colors;
    std::vector<std::string> codes_fg;
    std::vector<std::string> codes_bg;
};

// The process-wide colour state of the terminal logger: which escape form the terminal understands and the
// palette for the ANSI form. Decided once per process from the environment and only read afterwards.
//
// Thread-safe: the mode flags and the palette are published with release stores and read with acquire
// loads, so a profile made on any queue sees either nothing or the complete state.
class TTYColorState {
  public:
    // Runs the environment test once per process (later calls return at once): a non-empty NO_COLOR turns
    // colour off; "XcodeColors" equal to "YES" selects the RGB escape form; otherwise a "TERM" containing
    // "color" (any case) selects ANSI codes, with the 256-colour palette when it also contains "256".
    static void detectOnce();

    static bool isaXcodeColorTTY();
    static bool isaColorTTY();

    // Each builds its palette unless one exists already (the first builder wins).
    static void initializeColors16();
    static void initializeColors256();
    // The current palette; null before one is built.
    static const TTYPalette* palette();

    // Index into `palette()->colors` of the entry nearest to `color` (Euclidean distance over red, green and
    // blue; ties keep the earlier entry); 0 without a palette.
    static std::size_t codeIndexForColor(const CLIColor& color);
};

}  // namespace logging::internal
