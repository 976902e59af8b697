// Drives a virtual pointer on a wlroots compositor from standard input, for scripts (the demo) that need
// gestures on Wayland: one command a line, "move X Y", "down", "up" (the left button) or "sleep MS". The
// compositor is $WAYLAND_DISPLAY; exit status 1 when it offers no virtual pointer.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <thread>

#include "platform/wayland/internal/testing/VirtualPointer.h"

int main() {
    std::string why;
    const char* display = std::getenv("WAYLAND_DISPLAY");
    auto pointer = wayland::testing::VirtualPointer::create(display ? display : "wayland-0", &why);
    if (!pointer) {
        std::fprintf(stderr, "tandrel-wayland-pointer: %s\n", why.c_str());
        return 1;
    }
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string command;
        int a = 0, b = 0;
        words >> command >> a >> b;
        if (command == "move") pointer->moveTo(a, b);
        if (command == "down" || command == "up") pointer->button(command == "down");
        if (command == "sleep") std::this_thread::sleep_for(std::chrono::milliseconds(a));
    }
    return 0;
}
