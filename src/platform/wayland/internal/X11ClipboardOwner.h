#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dispatch/RunLoop.h"
#include "platform/PasteboardItem.h"

namespace x11::internal {
class Connection;
class SelectionServer;
}  // namespace x11::internal

namespace wayland::internal {

// Owns CLIPBOARD on the compositor's X server (Xwayland) and serves every type given, byte for byte: GNOME
// Shell cannot serve a clipboard of several types from an extension, but it hands an X11 owner's types on to
// Wayland applications unchanged.
//
// Who calls it: the main thread; requests are served from the main run loop for as long as this process owns
// the selection.
class X11ClipboardOwner {
  public:
    using Contents = std::vector<std::pair<std::string, platform::Bytes>>;

    // Null when `display` ($DISPLAY when empty) does not answer (`why` says so).
    static std::unique_ptr<X11ClipboardOwner> open(const std::string& display, std::string* why = nullptr);
    ~X11ClipboardOwner();
    X11ClipboardOwner(const X11ClipboardOwner&) = delete;
    X11ClipboardOwner& operator=(const X11ClipboardOwner&) = delete;

    // Takes CLIPBOARD and serves `contents` (MIME types; UTF-8 text also under the X11 text targets); false
    // when the server gave it to no one.
    bool own(const Contents& contents);
    // Whether this process still owns CLIPBOARD, after taking in what the server sent.
    bool owns();

  private:
    X11ClipboardOwner() = default;
    std::unique_ptr<x11::internal::Connection> connection_;
    std::unique_ptr<x11::internal::SelectionServer> server_;
    std::unique_ptr<dispatch::RunLoop::Watch> watch_;
};

}  // namespace wayland::internal
