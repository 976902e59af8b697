#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dispatch/RunLoop.h"
#include "platform/x11/internal/Capabilities.h"
#include "platform/x11/internal/Connection.h"
#include "platform/x11/internal/CursorWatcher.h"
#include "platform/x11/internal/FrontmostWindow.h"
#include "platform/x11/internal/KeySynthesizer.h"
#include "platform/x11/internal/SelectionOwnerWatcher.h"
#include "platform/x11/internal/SelectionReader.h"
#include "platform/x11/internal/SelectionServer.h"

namespace x11::internal {

// What the X11 facilities share: one connection to the display (watched on the main run loop, so selections
// this process owns are served and notifications are read whenever the server sends something), the cursor
// and selection-owner watchers, the selection reader and the two selections this process may own.
//
// Main thread only. Every operation that made round trips calls `settle()` before returning: Xlib may have
// queued events while waiting for replies, and those would otherwise wait for the next readable descriptor.
class X11Desktop {
  public:
    static std::unique_ptr<X11Desktop> open(const std::string& display, std::string* why);
    ~X11Desktop();

    const std::string& displayName() const { return display_; }
    Connection& connection() { return *connection_; }
    const Capabilities& capabilities() const { return capabilities_; }
    CursorWatcher& cursors() { return *cursors_; }
    SelectionOwnerWatcher& owners() { return *owners_; }
    SelectionReader& reader() { return *reader_; }
    SelectionServer& clipboard() { return *clipboard_; }
    SelectionServer& primary() { return *primary_; }
    KeySynthesizer& keys() { return *keys_; }
    FrontmostWindow& frontmost() { return *frontmost_; }
    ::Atom clipboardAtom() const { return clipboardAtom_; }

    // Dispatches what Xlib has queued (without blocking) and makes sure the main run loop watches the
    // connection.
    void settle();
    // The latest left-button press and release seen by an event tap, for the PRIMARY read: the press's server
    // time, and the local time of the latest press or release (the owner announces its selection then).
    // Both also tell `frontmost()` where the gesture happened.
    void noteLeftDown(uint32_t time) {
        lastLeftDown_ = time;
        lastLeftButtonAt_ = std::chrono::steady_clock::now();
        frontmost_->notePress();
    }
    void noteLeftUp() {
        lastLeftButtonAt_ = std::chrono::steady_clock::now();
        frontmost_->noteRelease();
    }
    std::optional<uint32_t> lastLeftDown() const { return lastLeftDown_; }
    std::chrono::steady_clock::time_point lastLeftButtonAt() const { return lastLeftButtonAt_; }

    // CLIPBOARD values read from their owner, kept so that a restore serves them with their own type and
    // format, and so that taking the clipboard over before a copy keeps offering the user's contents.
    void rememberRead(const SelectionData& value, ::Window owner, ::Time since);
    std::vector<SelectionData> rememberedFor(::Window owner, ::Time since) const;
    std::optional<SelectionData> rememberedBytes(::Atom target, const std::string& bytes) const;

  private:
    X11Desktop() = default;

    std::string display_;
    std::unique_ptr<Connection> connection_;
    Capabilities capabilities_;
    std::unique_ptr<CursorWatcher> cursors_;
    std::unique_ptr<SelectionOwnerWatcher> owners_;
    std::unique_ptr<SelectionReader> reader_;
    std::unique_ptr<SelectionServer> clipboard_;
    std::unique_ptr<SelectionServer> primary_;
    std::unique_ptr<KeySynthesizer> keys_;
    std::unique_ptr<FrontmostWindow> frontmost_;
    std::unique_ptr<dispatch::RunLoop::Watch> watch_;
    ::Atom clipboardAtom_ = 0;
    std::optional<uint32_t> lastLeftDown_;
    std::chrono::steady_clock::time_point lastLeftButtonAt_{};
    ::Window rememberedOwner_ = 0;
    ::Time rememberedSince_ = 0;
    std::map<::Atom, SelectionData> remembered_;
};

}  // namespace x11::internal
