#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Pasteboard.h"
#include "platform/PasteboardChangeWaiters.h"
#include "platform/wayland/internal/DeclaredClipboard.h"
#include "platform/wayland/internal/ShellExtension.h"
#include "platform/wayland/internal/X11ClipboardOwner.h"

namespace platform::wayland {

// The general pasteboard on GNOME Shell: the CLIPBOARD selection through the helper's Shell extension, one
// item whose types are the owner's MIME types (X11 meta targets left out; "text/plain;charset=utf-8" is the
// plain-text type). Reads are bounded.
//
// Writing plain text alone goes through the extension. The extension can serve only one type, so contents
// with other types are served by an X11 owner of CLIPBOARD on Xwayland (`x11Owner`, when it runs), which the
// shell hands on to Wayland applications with every type; without Xwayland only the text is kept. Each write
// says on standard error which way it went. What this process serves lives as long as the process.
//
// The change count moves when another program takes CLIPBOARD (the extension signals it) and when this
// process clears or declares it. Main thread only; reads block on the owner (bounded).
class GnomePasteboard : public Pasteboard {
  public:
    GnomePasteboard(::wayland::internal::ShellExtension& extension,
                    std::unique_ptr<::wayland::internal::X11ClipboardOwner> x11Owner);
    ~GnomePasteboard() override;

    std::int64_t changeCount() override { return changeCount_; }
    std::size_t itemCount() override;
    std::vector<std::string> typesOfItem(std::size_t index) override;
    std::optional<Bytes> dataForType(std::size_t index, std::string_view type) override;
    std::int64_t clearContents() override;
    bool writeObjects(const std::vector<PasteboardItem>& items) override;
    std::int64_t declareTypes(const std::vector<std::string>& types) override;
    bool setString(std::string_view text, std::string_view type) override;
    void waitForChange(std::int64_t since, std::chrono::nanoseconds bound, bool endOnUserInput,
                       Scheduler& scheduler, std::function<void(bool changed)> done) override;

  private:
    bool publish(bool clearing = false);
    void changedElsewhere();
    // Counts a change this process made and tells the waiters; returns the new count.
    std::int64_t movedByThisProcess();

    ::wayland::internal::ShellExtension& extension_;
    std::unique_ptr<::wayland::internal::X11ClipboardOwner> x11Owner_;
    int handler_ = 0;
    // What this process serves, in the platform's type names; a declared type without data is not offered.
    ::wayland::internal::DeclaredClipboard declared_;
    bool own_ = false;
    std::int64_t changeCount_ = 0;
    PasteboardChangeWaiters waiters_;
};

}  // namespace platform::wayland
