#include "platform/none/UnavailablePlatform.h"

#include <utility>

#include "platform/MainQueueScheduler.h"
#include "platform/PasteboardChangeWaiters.h"

namespace platform::none {
namespace {

// Holds nothing and accepts nothing: there is no selection owner to talk to.
class EmptyPasteboard : public Pasteboard {
  public:
    std::int64_t changeCount() override { return 0; }
    std::size_t itemCount() override { return 0; }
    std::vector<std::string> typesOfItem(std::size_t) override { return {}; }
    std::optional<Bytes> dataForType(std::size_t, std::string_view) override { return std::nullopt; }
    std::int64_t clearContents() override { return 0; }
    bool writeObjects(const std::vector<PasteboardItem>&) override { return false; }
    std::int64_t declareTypes(const std::vector<std::string>&) override { return 0; }
    bool setString(std::string_view, std::string_view) override { return false; }
    // Nothing ever changes it: every wait runs out.
    void waitForChange(std::int64_t since, std::chrono::nanoseconds bound, bool endOnUserInput,
                       Scheduler& scheduler, std::function<void(bool)> done) override {
        waiters_.add(since, 0, bound, endOnUserInput, scheduler, std::move(done));
    }

  private:
    PasteboardChangeWaiters waiters_;
};

class UnavailablePlatform : public Platform,
                            private EventTaps,
                            private Accessibility,
                            private Workspace,
                            private Keyboard,
                            private Cursors,
                            private Pointer {
  public:
    explicit UnavailablePlatform(std::string reason) : reason_(std::move(reason)) {}

    std::string name() const override { return "none (" + reason_ + ")"; }
    EventTaps& eventTaps() override { return *this; }
    platform::Accessibility& accessibility() override { return *this; }
    platform::Workspace& workspace() override { return *this; }
    Pasteboard& generalPasteboard() override { return pasteboard_; }
    platform::Keyboard& keyboard() override { return *this; }
    platform::Cursors& cursors() override { return *this; }
    platform::Pointer& pointer() override { return *this; }
    Scheduler& mainScheduler() override { return scheduler_; }

  private:
    std::unique_ptr<EventTap> createEventTap(EventTapLocation, EventTapPlacement, EventTapOptions, EventMask,
                                             EventTapCallback) override {
        return nullptr;
    }
    bool isProcessTrustedWithOptions(bool) override { return false; }
    std::shared_ptr<AXUIElement> createApplication(const RunningApplication&) override { return nullptr; }
    std::optional<RunningApplication> frontmostApplication() override { return std::nullopt; }
    void postEvent(EventTapLocation, const KeyboardEvent&) override {}
    std::optional<CursorImage> currentSystemCursor() override { return std::nullopt; }
    std::vector<CursorImage> standardIBeamCursors() override { return {}; }
    Point mouseLocation() override { return {}; }

    const std::string reason_;
    EmptyPasteboard pasteboard_;
    MainQueueScheduler scheduler_;
};

}  // namespace

std::unique_ptr<Platform> createUnavailablePlatform(std::string reason) {
    return std::make_unique<UnavailablePlatform>(std::move(reason));
}

}  // namespace platform::none
