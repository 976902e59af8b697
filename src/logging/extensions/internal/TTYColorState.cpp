#include "logging/extensions/internal/TTYColorState.h"

#include <strings.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace logging::internal {
namespace {

struct Rgb {
    std::uint8_t r, g, b;
};

// Entries 0-15 are the 16 basic colours, 16-231 a 6x6x6 cube and 232-255 a grey ramp, with the values that
// terminals measurably show rather than nominal levels.
constexpr Rgb kPalette[256] = {
    {0, 0, 0},       {194, 54, 33},   {37, 188, 36},   {173, 173, 39},  {73, 46, 225},   {211, 56, 211},
    {51, 187, 200},  {203, 204, 205}, {129, 131, 131}, {252, 57, 31},   {49, 231, 34},   {234, 236, 35},
    {88, 51, 255},   {249, 53, 248},  {20, 240, 240},  {233, 235, 235}, {47, 49, 49},    {60, 42, 144},
    {66, 44, 183},   {73, 46, 222},   {81, 50, 253},   {88, 51, 255},   {42, 128, 37},   {42, 127, 128},
    {44, 126, 169},  {56, 125, 209},  {59, 124, 245},  {66, 123, 255},  {51, 163, 41},   {39, 162, 121},
    {42, 161, 162},  {53, 160, 202},  {45, 159, 240},  {58, 158, 255},  {31, 196, 37},   {48, 196, 115},
    {39, 195, 155},  {49, 195, 195},  {32, 194, 235},  {53, 193, 255},  {50, 229, 35},   {40, 229, 109},
    {27, 229, 149},  {49, 228, 189},  {33, 228, 228},  {53, 227, 255},  {27, 254, 30},   {30, 254, 103},
    {45, 254, 143},  {38, 253, 182},  {38, 253, 222},  {42, 253, 252},  {140, 48, 40},   {136, 51, 136},
    {135, 52, 177},  {134, 52, 217},  {135, 56, 248},  {134, 53, 255},  {125, 125, 38},  {124, 125, 125},
    {122, 124, 166}, {123, 124, 207}, {123, 122, 247}, {124, 121, 255}, {119, 160, 35},  {117, 160, 120},
    {117, 160, 160}, {115, 159, 201}, {116, 158, 240}, {117, 157, 255}, {113, 195, 39},  {110, 194, 114},
    {111, 194, 154}, {108, 194, 194}, {109, 193, 234}, {108, 192, 255}, {105, 228, 30},  {103, 228, 109},
    {105, 228, 148}, {100, 227, 188}, {99, 227, 227},  {99, 226, 253},  {92, 253, 34},   {96, 253, 103},
    {97, 253, 142},  {88, 253, 182},  {93, 253, 221},  {88, 254, 251},  {177, 53, 34},   {174, 54, 131},
    {172, 55, 172},  {171, 57, 213},  {170, 55, 249},  {170, 57, 255},  {165, 123, 37},  {163, 123, 123},
    {162, 123, 164}, {161, 122, 205}, {161, 121, 241}, {161, 121, 255}, {158, 159, 33},  {157, 158, 118},
    {157, 158, 159}, {155, 157, 199}, {155, 157, 239}, {154, 156, 255}, {152, 193, 40},  {151, 193, 113},
    {150, 193, 153}, {150, 192, 193}, {148, 192, 232}, {149, 191, 253}, {146, 227, 28},  {144, 227, 108},
    {144, 227, 147}, {144, 227, 187}, {142, 226, 227}, {142, 225, 252}, {138, 253, 36},  {137, 253, 102},
    {136, 253, 141}, {138, 254, 181}, {135, 255, 220}, {133, 255, 250}, {214, 57, 30},   {211, 59, 126},
    {209, 57, 168},  {208, 55, 208},  {207, 58, 247},  {206, 61, 255},  {204, 121, 32},  {202, 121, 121},
    {201, 121, 161}, {200, 120, 202}, {200, 120, 241}, {198, 119, 255}, {198, 157, 37},  {196, 157, 116},
    {195, 156, 157}, {195, 156, 197}, {194, 155, 236}, {193, 155, 255}, {191, 192, 36},  {190, 191, 112},
    {189, 191, 152}, {189, 191, 191}, {188, 190, 230}, {187, 190, 253}, {185, 226, 28},  {184, 226, 106},
    {183, 225, 146}, {183, 225, 186}, {182, 225, 225}, {181, 224, 252}, {178, 255, 35},  {178, 255, 101},
    {177, 254, 141}, {176, 254, 180}, {176, 254, 220}, {175, 253, 249}, {247, 56, 30},   {245, 57, 122},
    {243, 59, 163},  {244, 60, 204},  {242, 59, 241},  {240, 55, 255},  {241, 119, 36},  {240, 120, 118},
    {238, 119, 158}, {237, 119, 199}, {237, 118, 238}, {236, 118, 255}, {235, 154, 36},  {235, 154, 114},
    {234, 154, 154}, {232, 154, 194}, {232, 153, 234}, {232, 153, 255}, {230, 190, 30},  {229, 189, 110},
    {228, 189, 150}, {227, 189, 190}, {227, 189, 229}, {226, 188, 255}, {224, 224, 35},  {223, 224, 105},
    {222, 224, 144}, {222, 223, 184}, {222, 223, 224}, {220, 223, 253}, {217, 253, 28},  {217, 253, 99},
    {216, 252, 139}, {216, 252, 179}, {215, 252, 218}, {215, 251, 250}, {255, 61, 30},   {255, 60, 118},
    {255, 58, 159},  {255, 56, 199},  {255, 55, 238},  {255, 59, 255},  {255, 117, 29},  {255, 117, 115},
    {255, 117, 155}, {255, 117, 195}, {255, 116, 235}, {254, 116, 255}, {255, 152, 27},  {255, 152, 111},
    {254, 152, 152}, {255, 152, 192}, {254, 151, 231}, {253, 151, 253}, {255, 187, 33},  {253, 187, 107},
    {252, 187, 148}, {253, 187, 187}, {254, 187, 227}, {252, 186, 252}, {252, 222, 34},  {251, 222, 103},
    {251, 222, 143}, {250, 222, 182}, {251, 221, 222}, {252, 221, 252}, {251, 252, 15},  {251, 252, 97},
    {249, 252, 137}, {247, 252, 177}, {247, 253, 217}, {254, 255, 255}, {52, 53, 53},    {57, 58, 59},
    {66, 67, 67},    {75, 76, 76},    {83, 85, 85},    {92, 93, 94},    {101, 102, 102}, {109, 111, 111},
    {118, 119, 119}, {126, 127, 128}, {134, 136, 136}, {143, 144, 145}, {151, 152, 153}, {159, 161, 161},
    {167, 169, 169}, {176, 177, 177}, {184, 185, 186}, {192, 193, 194}, {200, 201, 202}, {208, 209, 210},
    {216, 218, 218}, {224, 226, 226}, {232, 234, 234}, {240, 242, 242},
};

std::atomic<bool> xcodeColors{false};
std::atomic<bool> ansiColors{false};
std::atomic<const TTYPalette*> currentPalette{nullptr};
std::mutex paletteMutex;

CLIColor colorOf(const Rgb& rgb) {
    return CLIColor::colorWithCalibratedRed(rgb.r / 255.0, rgb.g / 255.0, rgb.b / 255.0, 1.0);
}

template <typename Build>
void publishPalette(Build build) {
    std::lock_guard<std::mutex> lock(paletteMutex);
    if (currentPalette.load(std::memory_order_acquire) != nullptr) return;
    // Lives for the process: profiles on any queue may read it until the end.
    static TTYPalette storage;
    build(storage);
    currentPalette.store(&storage, std::memory_order_release);
}

bool containsIgnoringCase(const char* text, const char* part) {
    return text != nullptr && strcasestr(text, part) != nullptr;
}

}  // namespace

void TTYColorState::detectOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        const char* noColor = std::getenv("NO_COLOR");
        if (noColor != nullptr && *noColor != '\0') return;
        const char* xcode = std::getenv("XcodeColors");
        if (xcode != nullptr && std::strcmp(xcode, "YES") == 0) {
            xcodeColors.store(true, std::memory_order_release);
            return;
        }
        const char* term = std::getenv("TERM");
        if (!containsIgnoringCase(term, "color")) return;
        if (containsIgnoringCase(term, "256")) {
            initializeColors256();
        } else {
            initializeColors16();
        }
        ansiColors.store(true, std::memory_order_release);
    });
}

bool TTYColorState::isaXcodeColorTTY() {
    return xcodeColors.load(std::memory_order_acquire);
}

bool TTYColorState::isaColorTTY() {
    return ansiColors.load(std::memory_order_acquire);
}

void TTYColorState::initializeColors16() {
    publishPalette([](TTYPalette& palette) {
        for (int entry = 0; entry < 16; ++entry) {
            const char* bold = entry < 8 ? "" : "1;";
            palette.colors.push_back(colorOf(kPalette[entry]));
            palette.codes_fg.push_back(bold + std::string("3") + std::to_string(entry % 8) + "m");
            palette.codes_bg.push_back(bold + std::string("4") + std::to_string(entry % 8) + "m");
        }
    });
}

void TTYColorState::initializeColors256() {
    publishPalette([](TTYPalette& palette) {
        for (int entry = 16; entry < 256; ++entry) {
            palette.colors.push_back(colorOf(kPalette[entry]));
            palette.codes_fg.push_back("38;5;" + std::to_string(entry) + "m");
            palette.codes_bg.push_back("48;5;" + std::to_string(entry) + "m");
        }
    });
}

const TTYPalette* TTYColorState::palette() {
    return currentPalette.load(std::memory_order_acquire);
}

std::size_t TTYColorState::codeIndexForColor(const CLIColor& color) {
    double red = 0, green = 0, blue = 0;
    color.getRed(&red, &green, &blue, nullptr);
    const TTYPalette* colors = palette();
    if (colors == nullptr) return 0;
    double bestDistance = 100.0;
    std::size_t bestIndex = 0;
    for (std::size_t i = 0; i < colors->colors.size(); ++i) {
        double r = 0, g = 0, b = 0;
        colors->colors[i].getRed(&r, &g, &b, nullptr);
        const double distance =
            std::sqrt((red - r) * (red - r) + (green - g) * (green - g) + (blue - b) * (blue - b));
        if (bestDistance > distance) bestIndex = i;
        bestDistance = std::min(bestDistance, distance);
    }
    return bestIndex;
}

}  // namespace logging::internal
