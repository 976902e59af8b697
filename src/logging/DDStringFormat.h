#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string>

#include "logging/internal/DDFormatArg.h"

// Type-safe printf-style formatting for log lines, with "%@" for any value that has a textual description.
//
// Called by the dispatcher and the logging front on the logging thread; pure, thread-safe, never throws a
// formatting error (only std::bad_alloc), never reads past its arguments.
//
// Directives: %[flags][width][.precision][length]conversion, with flags "-+ #0'", width and precision as
// digits or "*" (taken from the next argument), length modifiers hh h l ll j z t L q (accepted; see below),
// conversions d i u x X o c s f F e E g G a A p % and @.
//
// Rules:
//  - The value decides its own width: integers are shown at the width of their type, and the length modifiers
//    hh and h only narrow (so "%x" of an int -1 is ffffffff, "%hhx" of 0x1ff is ff); l, ll, j, z, t, L and q
//    change nothing.
//  - "%@" writes the value's description: strings as themselves, numbers in decimal (floating point in the
//    shortest exact form), bool as true/false, a char as itself, objects through their description() member
//    or a describe(const T&) function found by argument-dependent lookup, smart and raw pointers to such
//    values through the value they point to, other pointers as 0x-hex. Width and precision apply as for %s.
//  - A numeric conversion given a number of another kind converts it (a double for %d is truncated, an
//  integer
//    for %f widened); given a text or an object it writes the value's description instead.
//  - %s takes any value and writes its description; %p writes the address of pointers and strings, 0x0 for
//    null; %c writes the low byte of an integer.
//  - A null string or a null pointer where a description is wanted writes "(null)"; a directive with no
//    argument left writes "(missing)"; surplus arguments are ignored.
//  - %n and unknown conversions are written out as they stand and take no argument.
//  - A type without any textual description does not compile.
class DDStringFormat {
  public:
    template <typename... Args>
    static std::string format(const char* format, const Args&... args) {
        std::string out;
        append(out, format, args...);
        return out;
    }

    // Appends the formatted text to `out`.
    template <typename... Args>
    static void append(std::string& out, const char* format, const Args&... args) {
        const std::array<logging::internal::FormatArg, sizeof...(Args)> argv{
            logging::internal::makeArg(args)...};
        appendArgs(out, format, argv);
    }

    // The text "%@" gives for `value`.
    template <typename T>
    static std::string describe(const T& value) {
        return format("%@", value);
    }

    // The non-template engine. A null `format` appends nothing.
    static void appendArgs(std::string& out, const char* format,
                           std::span<const logging::internal::FormatArg> args);
};
