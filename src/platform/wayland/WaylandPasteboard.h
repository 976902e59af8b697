#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Pasteboard.h"
#include "platform/PasteboardChangeWaiters.h"
#include "platform/wayland/internal/DeclaredClipboard.h"
#include "platform/wayland/internal/WaylandDesktop.h"

namespace platform::wayland {

// The general pasteboard is the CLIPBOARD selection through data control: one item whose types are the
// owner's MIME types (X11 meta targets left out; "text/plain;charset=utf-8" is the plain-text type). Reads
// are bounded. Writing means serving the written types (plain text also under its usual aliases, for X11
// applications under Xwayland) for as long as no one else takes CLIPBOARD; the restored clipboard lives as
// long as this process.
//
// The change count moves when another client takes CLIPBOARD and when this process clears or declares it.
// Main thread only; reads block on the owner (bounded).
class WaylandPasteboard : public Pasteboard {
  public:
    explicit WaylandPasteboard(::wayland::internal::WaylandDesktop& desktop);
    ~WaylandPasteboard() override;

    std::int64_t changeCount() override;
    std::size_t itemCount() override;
    std::vector<std::string> typesOfItem(std::size_t index) override;
    std::optional<Bytes> dataForType(std::size_t index, std::string_view type) override;
    std::int64_t clearContents() override;
    bool writeObjects(const std::vector<PasteboardItem>& items) override;
    std::int64_t declareTypes(const std::vector<std::string>& types) override;
    bool setString(std::string_view text, std::string_view type) override;
    void waitForChange(std::int64_t since, std::chrono::nanoseconds bound, bool endOnUserInput,
                       Scheduler& scheduler, std::function<void(bool changed)> done) override;

    // The plain text this process serves on CLIPBOARD, if any.
    std::optional<Bytes> servedText() const;

  private:
    bool publish();
    // Counts a change this process made and tells the waiters; returns the new count.
    std::int64_t movedByThisProcess();

    ::wayland::internal::WaylandDesktop& desktop_;
    int handler_ = 0;
    // What this process serves, in the platform's type names; a declared type without data is not offered.
    ::wayland::internal::DeclaredClipboard declared_;
    std::int64_t changeCount_ = 0;
    PasteboardChangeWaiters waiters_;
};

}  // namespace platform::wayland
