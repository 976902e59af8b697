#include "logging/DDStringFormat.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace {

struct Described {
    std::string description() const { return "<Described>"; }
};

struct CStringDescribed {
    const char* description() const { return nullptr; }
};

}  // namespace

namespace geometry {
struct Point {
    int x;
    int y;
};
std::string describe(const Point& p) {
    return "(" + std::to_string(p.x) + ", " + std::to_string(p.y) + ")";
}
}  // namespace geometry

namespace {

enum class Color : std::uint8_t { Red = 2 };

template <typename... Args>
std::string printf_(const char* format, Args... args) {
    char buf[256];
    std::snprintf(buf, sizeof buf, format, args...);
    return buf;
}

TEST(DDStringFormatTest, StandardConversionsMatchPrintfAndIntegersKeepTheirWidth) {
    for (const char* f : {"%5d", "%-+8d|", "%05d", "% d", "%.3d", "%#x", "%X", "%#o", "%u", "%.0d|"}) {
        for (int v : {0, 7, -42, 255, INT_MAX, INT_MIN})
            EXPECT_EQ(DDStringFormat::format(f, v), printf_(f, v)) << f << " " << v;
    }
    for (const char* f : {"%f", "%-12.4f|", "%+.1E", "%g", "%a", "%#.0f", "%08.2f"}) {
        for (double v : {0.0, 3.14159, -1e-7, 12345678.9}) {
            EXPECT_EQ(DDStringFormat::format(f, v), printf_(f, v)) << f << " " << v;
        }
    }
    EXPECT_EQ(DDStringFormat::format("[%10s][%-6s][%.2s][%c][%%]", "right", "left", "cut", 'z'),
              "[     right][left  ][cu][z][%]");
    // Integers keep their own width; length modifiers only narrow.
    EXPECT_EQ(DDStringFormat::format("%x %x %lx", -1, std::int64_t{-1}, -1),
              "ffffffff ffffffffffffffff ffffffff");
    EXPECT_EQ(DDStringFormat::format("%hhx %hd %d", 0x1ff, 70000, UINT64_MAX), "ff 4464 -1");
    EXPECT_EQ(DDStringFormat::format("%u %llu", UINT32_MAX, UINT64_MAX), "4294967295 18446744073709551615");
    EXPECT_EQ(DDStringFormat::format("%d %@", Color::Red, Color::Red), "2 2");
    EXPECT_EQ(DDStringFormat::format("%d %@ %s", true, false, true), "1 false true");
}

TEST(DDStringFormatTest, ObjectsAndStringsDescribeThemselves) {
    const Described object;
    EXPECT_EQ(DDStringFormat::format("%@ %@ %@ %@", object, std::string("std"), std::string_view("view"),
                                     "literal"),
              "<Described> std view literal");
    EXPECT_EQ(DDStringFormat::format("%@ %@ %@ %@", std::make_shared<const std::string>("shared"),
                                     std::make_unique<Described>(), std::shared_ptr<Described>(), &object),
              "shared <Described> (null) <Described>");
    EXPECT_EQ(DDStringFormat::format("%@ %s", geometry::Point{1, -2}, geometry::Point{3, 4}),
              "(1, -2) (3, 4)");
    EXPECT_EQ(DDStringFormat::format("%@ %@ %@ %@", 42, -7LL, 2.5, 0.1), "42 -7 2.5 0.1");
    EXPECT_EQ(DDStringFormat::format("[%8@][%-4@][%.3@]", object, 'c', object), "[<Described>][c   ][<De]");
    const char* null = nullptr;
    EXPECT_EQ(DDStringFormat::format("%s|%@|%5s|%@", null, nullptr, null, CStringDescribed{}),
              "(null)|(null)|(null)|(null)");
}

TEST(DDStringFormatTest, MismatchesAndMissingArgumentsNeverCrash) {
    const Described object;
    // A value of another kind: numbers convert, texts and objects are described.
    EXPECT_EQ(DDStringFormat::format("%d %d %f", 3.99, "text", 2), "3 text 2.000000");
    EXPECT_EQ(DDStringFormat::format("%x %c %e", object, "s", object), "<Described> s <Described>");
    EXPECT_EQ(DDStringFormat::format("%d %s|%5d|", 1), "1 (missing)|(missing)|");
    EXPECT_EQ(DDStringFormat::format("%*d", "wide", 5), "5");
    // Unknown conversions and %n are written out as they stand and take no argument; a trailing % stays.
    EXPECT_EQ(DDStringFormat::format("%n %k %d 100%", 9), "%n %k 9 100%");
    EXPECT_EQ(DDStringFormat::format("%-0"), "%-0");
    EXPECT_EQ(DDStringFormat::format(nullptr, 1), "");
    // Runaway widths are clamped instead of allocating without bound.
    EXPECT_EQ(DDStringFormat::format("%*d", INT_MAX, 1).size(), 65536u);
    EXPECT_EQ(DDStringFormat::format("%-*d|", -3, 1), "1  |");
    // Long results grow past any fixed buffer; append keeps what is there.
    EXPECT_EQ(DDStringFormat::format("%.400f", 1.0).size(), 402u);
    std::string out = "[INFO] ";
    DDStringFormat::append(out, "Got: %s", std::string(1000, 'x'));
    EXPECT_EQ(out, "[INFO] Got: " + std::string(1000, 'x'));
}

}  // namespace
