#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Pasteboard.h"
#include "platform/PasteboardChangeWaiters.h"
#include "platform/x11/internal/UserPressWatcher.h"
#include "platform/x11/internal/X11Desktop.h"

namespace platform::x11 {

// The general pasteboard is the CLIPBOARD selection: one item whose types are the owner's targets (the meta
// targets left out; UTF8_STRING is the plain-text type). Reads convert from the owner, INCR included.
// Writing means owning CLIPBOARD and serving the written types (plain text also under its usual aliases),
// with TARGETS, TIMESTAMP and MULTIPLE, for as long as no one else takes it.
//
// The change count moves when another client takes CLIPBOARD and when this process clears or declares it;
// `takeOverForCopy` (used right before a simulated copy chord) takes CLIPBOARD without moving it, still
// serving the user's contents, so that an application that already owned CLIPBOARD has to take it again when
// it copies and the copy becomes visible. Main thread only; reads block on the owner (bounded).
class X11Pasteboard : public Pasteboard {
  public:
    explicit X11Pasteboard(::x11::internal::X11Desktop& desktop);
    ~X11Pasteboard() override;
    X11Pasteboard(const X11Pasteboard&) = delete;
    X11Pasteboard& operator=(const X11Pasteboard&) = delete;

    std::int64_t changeCount() override;
    std::size_t itemCount() override;
    std::vector<std::string> typesOfItem(std::size_t index) override;
    std::optional<Bytes> dataForType(std::size_t index, std::string_view type) override;
    std::int64_t clearContents() override;
    bool writeObjects(const std::vector<PasteboardItem>& items) override;
    std::int64_t declareTypes(const std::vector<std::string>& types) override;
    bool setString(std::string_view text, std::string_view type) override;
    // Woken by the owner-change notifications as the main run loop dispatches them; the user's presses are
    // watched only while a wait asks for them.
    void waitForChange(std::int64_t since, std::chrono::nanoseconds bound, bool endOnUserInput,
                       Scheduler& scheduler, std::function<void(bool changed)> done) override;

    void takeOverForCopy();
    // The text this process serves as plain text, if any (for pasting into terminals through PRIMARY).
    std::vector<::x11::internal::SelectionData> servedValues() const;

  private:
    std::string nameOf(::Atom target);
    ::Atom targetOf(std::string_view name);
    bool ownsNow();
    void publish();
    std::vector<::x11::internal::SelectionData> readAll(::Window owner, ::Time since);
    // Tells the waiters the change count as it stands without a round trip; switches the press watch.
    void reportChange();

    ::x11::internal::X11Desktop& desktop_;
    std::vector<std::pair<std::string, std::optional<Bytes>>> declared_;
    std::int64_t ownChanges_ = 0;
    std::uint64_t foreignChanges_ = 0;  // as last notified
    platform::PasteboardChangeWaiters waiters_;
    ::x11::internal::UserPressWatcher presses_;
};

}  // namespace platform::x11
