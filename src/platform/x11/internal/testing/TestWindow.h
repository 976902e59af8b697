#pragma once

#include <X11/Xlib.h>

#include <string>

#include "platform/x11/internal/Connection.h"

namespace x11::testing {

// A mapped top-level window on its own connection, at a fixed place (no window manager runs in the tests).
class TestWindow {
  public:
    TestWindow(const std::string& display, int x, int y, int width, int height);
    ~TestWindow();

    x11::internal::Connection& connection() { return *connection_; }
    ::Display* dpy() const { return connection_->get(); }
    ::Window window() const { return window_; }
    void setCursor(::Cursor cursor);
    // Moves the pointer into the window's centre (a warp, as a user's motion would).
    void pointAt();

  private:
    std::unique_ptr<x11::internal::Connection> connection_;
    ::Window window_ = 0;
    int x_, y_, width_, height_;
};

}  // namespace x11::testing
