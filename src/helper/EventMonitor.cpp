#include "helper/EventMonitor.h"

#include <chrono>
#include <utility>
#include <vector>

#include "helper/internal/TextTrimming.h"
#include "helper/logging.h"

namespace {

using platform::AXError;
using platform::AXValue;
using platform::EventType;

constexpr platform::EventMask kMonitoredEvents =
    platform::maskBit(EventType::LeftMouseDown) | platform::maskBit(EventType::LeftMouseUp) |
    platform::maskBit(EventType::MouseMoved) | platform::maskBit(EventType::LeftMouseDragged);
static_assert(kMonitoredEvents == 0x66);

constexpr float kMultipleClickReadDelay = 0.2f;
// An application that has not copied this long after the chord did not copy.
constexpr std::chrono::nanoseconds kCopyWait{50000000};
// A copy that comes later still would stay in place of the user's contents: it is put back as well while it
// comes within this grace period and before the user presses anything (which may be the user's own copy).
constexpr std::chrono::nanoseconds kLateCopyGrace{1000000000};

std::optional<std::string> textOf(const AXValue& value) {
    if (const auto* text = std::get_if<std::string>(&value)) return *text;
    return std::nullopt;
}

}  // namespace

struct EventMonitor::CopyRead {
    std::vector<TextCompletion> completions;
    bool finished = false;

    // Completions may start reads that join this one: they get the same text.
    void complete(const std::string& text) {
        while (!completions.empty()) {
            for (auto& completion : std::exchange(completions, {})) completion(text);
        }
    }
};

EventMonitor& EventMonitor::sharedInstance() {
    static EventMonitor instance(platform::Platform::current(), CursorHelper::sharedInstance(),
                                 PasteboardHelper::sharedInstance());
    return instance;
}

EventMonitor::EventMonitor(platform::Platform& platform, CursorHelper& cursorHelper,
                           PasteboardHelper& pasteboardHelper)
    : platform_(platform), cursorHelper_(cursorHelper), pasteboardHelper_(pasteboardHelper) {}

EventMonitor::~EventMonitor() {
    stop();
    if (block_) block_->cancel();
}

void EventMonitor::start() {
    // A tap left installed could never be stopped again and would evaluate every gesture twice.
    stop();
    eventTap_ = platform_.eventTaps().createEventTap(
        platform::EventTapLocation::SessionEventTap, platform::EventTapPlacement::HeadInsert,
        platform::EventTapOptions::Default, kMonitoredEvents,
        [this](EventType type, const platform::InputEvent& event) { eventCallback(type, event); });
    if (!eventTap_) return;
    eventTap_->addSourceToMainRunLoop();
    eventTap_->setEnabled(true);
    LogI("Add Global CG monitor: %@", eventTap_->description());
}

void EventMonitor::stop() {
    if (!eventTap_) return;
    eventTap_->setEnabled(false);
    eventTap_->removeSourceFromMainRunLoop();
    eventTap_.reset();
}

void EventMonitor::eventCallback(EventType type, const platform::InputEvent& event) {
    const std::uint64_t flags = event.getFlags();
    switch (type) {
        case EventType::LeftMouseDown:
            event_ = std::make_unique<TDKeyEvent>();
            if (event.selectsText || cursorHelper_.isBeam()) event_->setIsBeamCursor(true);
            if (flags & platform::kEventFlagMaskShift) event_->setIsShiftDown(true);
            break;
        case EventType::LeftMouseDragged:
            if (event_) {
                event_->setIsDragged(true);
                if (cursorHelper_.isBeam()) event_->setIsBeamCursor(true);
            }
            break;
        case EventType::LeftMouseUp:
            if (event_) {
                if (event.getIntegerValueField(platform::EventField::MouseEventClickState) >= 2) {
                    event_->setIsMultipleClick(true);
                }
                event_->setIsFinished(true);
                triggerTextSelectedEvent();
            }
            break;
        default:
            break;
    }
    latestType_ = static_cast<std::uint32_t>(type);
    latestCGEvent_ = event;
}

void EventMonitor::triggerTextSelectedEvent() {
    if (!event_ || !event_->isFinished() || !event_->isBeamCursor()) return;
    if (event_->isMultipleClick()) {
        getSelectedTextDelay(kMultipleClickReadDelay);
    } else if (event_->isDragged()) {
        getSelectedText(announcingCompletion());
    }
}

void EventMonitor::getSelectedTextDelay(float delay) {
    if (block_) block_->cancel();
    block_ = dispatch::WorkItem::create([this, alive = std::weak_ptr<int>(alive_)] {
        if (alive.expired()) return;
        getSelectedText(announcingCompletion());
    });
    const auto nanoseconds = static_cast<std::int64_t>(delay * 1000000000.0f);
    platform_.mainScheduler().scheduleAfter(std::chrono::nanoseconds(nanoseconds), block_);
}

EventMonitor::TextCompletion EventMonitor::announcingCompletion() {
    return [this, alive = std::weak_ptr<int>(alive_)](const std::string& text) {
        if (alive.expired()) return;
        if (helper::internal::trimWhitespaceAndNewlines(text).empty()) return;
        if (textSelectedHandler_) textSelectedHandler_();
    };
}

void EventMonitor::getSelectedText(TextCompletion completion) {
    if (auto text = getSelectedTextByAX()) {
        LogI("Get selected text by accissibility: %@", *text);
        completion(*text);
        return;
    }
    getSelectedTextBySimulator(std::move(completion));
}

std::optional<std::string> EventMonitor::getSelectedTextByAX() {
    const auto application = platform_.workspace().frontmostApplication();
    if (!application) return std::nullopt;
    const auto applicationElement = platform_.accessibility().createApplication(*application);
    if (!applicationElement) return std::nullopt;

    AXValue focusedValue;
    if (applicationElement->copyAttributeValue(platform::kAXFocusedUIElementAttribute, focusedValue) !=
        AXError::Success) {
        return std::nullopt;
    }
    const auto* focused = std::get_if<std::shared_ptr<platform::AXUIElement>>(&focusedValue);
    if (focused == nullptr || !*focused) return std::nullopt;

    AXValue selected;
    if ((*focused)->copyAttributeValue(platform::kAXSelectedTextAttribute, selected) == AXError::Success) {
        // An answer that is not a text is no answer: fall back as for an element that does not offer it.
        if (auto text = textOf(selected)) return text;
    }
    AXValue range;
    if ((*focused)->copyAttributeValue(platform::kAXSelectedTextMarkerRangeAttribute, range) !=
        AXError::Success) {
        return std::nullopt;
    }
    AXValue forRange;
    if ((*focused)->copyParameterizedAttributeValue(
            platform::kAXStringForTextMarkerRangeParameterizedAttribute, range, forRange) !=
        AXError::Success) {
        return std::nullopt;
    }
    return textOf(forRange);
}

void EventMonitor::getSelectedTextBySimulator(TextCompletion completion) {
    // The chord would only be typed (a terminal): nothing to copy, so nothing to save either.
    if (!pasteboardHelper_.canSimulateCopy()) {
        completion(std::string());
        return;
    }
    if (auto running = copyRead_.lock(); running && !running->finished) {
        running->completions.push_back(std::move(completion));
        return;
    }
    auto read = std::make_shared<CopyRead>();
    read->completions.push_back(std::move(completion));
    copyRead_ = read;
    platform::Pasteboard& pasteboard = platform_.generalPasteboard();
    platform::Scheduler& scheduler = platform_.mainScheduler();
    const std::int64_t changeCount = pasteboard.changeCount();
    auto saved = std::make_shared<const std::vector<platform::PasteboardItem>>(
        pasteboardHelper_.savePasteboardItems());
    pasteboardHelper_.simulateCopy();
    // Captures no monitor: a pending read finishes (and restores the pasteboard) whatever happens to it.
    auto finish = [&pasteboard, &scheduler, &helper = pasteboardHelper_, changeCount, saved,
                   read](bool changed) {
        if (!changed) {
            read->complete(std::string());
            read->finished = true;
            // A change the service made itself (an insertion, another read's restore) is not a late copy.
            pasteboard.waitForChange(changeCount, kLateCopyGrace, /*endOnUserInput=*/true, scheduler,
                                     [&helper, saved, writes = helper.writes()](bool late) {
                                         if (!late || helper.writes() != writes) return;
                                         LogI("Restore pasteboard over a late copy");
                                         helper.restorePasteboardItems(*saved);
                                     });
            return;
        }
        std::string text;
        if (pasteboard.itemCount() > 0) {
            text = pasteboard.stringForType(0, platform::kPasteboardTypeString).value_or(std::string());
        }
        LogI("Get selected text by simulator: %@", text);
        read->complete(text);
        helper.restorePasteboardItems(*saved);
        read->finished = true;
    };
    pasteboard.waitForChange(changeCount, kCopyWait, /*endOnUserInput=*/false, scheduler, std::move(finish));
}

bool EventMonitor::isAccessibilityPermissionGranted(bool prompt) {
    return platform_.accessibility().isProcessTrustedWithOptions(prompt);
}

platform::Point EventMonitor::getMouseLocation() {
    return platform_.pointer().mouseLocation();
}
