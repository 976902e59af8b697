#include "platform/x11/internal/testing/TestWindow.h"

namespace x11::testing {

TestWindow::TestWindow(const std::string& display, int x, int y, int width, int height)
    : connection_(x11::internal::Connection::open(display)), x_(x), y_(y), width_(width), height_(height) {
    if (!connection_) return;
    XSetWindowAttributes attributes;
    attributes.override_redirect = True;
    attributes.background_pixel = WhitePixel(dpy(), DefaultScreen(dpy()));
    window_ = XCreateWindow(dpy(), connection_->root(), x, y, width, height, 0, CopyFromParent, InputOutput,
                            CopyFromParent, CWOverrideRedirect | CWBackPixel, &attributes);
    XMapRaised(dpy(), window_);
    XSync(dpy(), False);
}

TestWindow::~TestWindow() {
    if (connection_ && window_) {
        XDestroyWindow(dpy(), window_);
        XSync(dpy(), False);
    }
}

void TestWindow::setCursor(::Cursor cursor) {
    XDefineCursor(dpy(), window_, cursor);
    XSync(dpy(), False);
}

void TestWindow::pointAt() {
    XWarpPointer(dpy(), None, connection_->root(), 0, 0, 0, 0, x_ + width_ / 2, y_ + height_ / 2);
    XSync(dpy(), False);
}

}  // namespace x11::testing
