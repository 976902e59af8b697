#include "helper/PasteboardHelper.h"

#include "platform/KeyboardEventSource.h"
#include "platform/Platform.h"

PasteboardHelper& PasteboardHelper::sharedInstance() {
    static PasteboardHelper instance(platform::Platform::current().generalPasteboard(),
                                     platform::Platform::current().keyboard());
    return instance;
}

std::vector<platform::PasteboardItem> PasteboardHelper::savePasteboardItems() {
    std::vector<platform::PasteboardItem> saved;
    const std::size_t count = pasteboard_.itemCount();
    saved.reserve(count);
    for (std::size_t index = 0; index < count; ++index) {
        platform::PasteboardItem copy;
        for (const auto& type : pasteboard_.typesOfItem(index)) {
            if (auto data = pasteboard_.dataForType(index, type)) copy.setDataForType(std::move(*data), type);
        }
        saved.push_back(std::move(copy));
    }
    return saved;
}

void PasteboardHelper::restorePasteboardItems(const std::vector<platform::PasteboardItem>& items) {
    ++writes_;
    pasteboard_.clearContents();
    pasteboard_.writeObjects(items);
}

void PasteboardHelper::copyTextToPasteboard(const std::string& text) {
    ++writes_;
    pasteboard_.declareTypes({std::string(platform::kPasteboardTypeString)});
    pasteboard_.setString(text, platform::kPasteboardTypeString);
}

void PasteboardHelper::simulateCopy() {
    simulateKeyStroke(platform::kVK_ANSI_C);
}

void PasteboardHelper::simulatePaste() {
    simulateKeyStroke(platform::kVK_ANSI_V);
}

void PasteboardHelper::simulateKeyStroke(std::uint16_t keyCode) {
    platform::KeyboardEventSource source(platform::EventSourceStateID::CombinedSessionState);
    // Hold back the user's own key presses while the chord is delivered, so they cannot join it; mouse and
    // system-defined events pass.
    source.setLocalEventsFilterDuringSuppressionState(platform::kEventFilterMaskPermitLocalMouseEvents |
                                                          platform::kEventFilterMaskPermitSystemDefinedEvents,
                                                      platform::EventSuppressionState::SuppressionInterval);
    auto keyDown = source.createKeyboardEvent(keyCode, true);
    keyDown.flags = platform::kEventFlagMaskCommand;
    auto keyUp = source.createKeyboardEvent(keyCode, false);
    keyUp.flags = platform::kEventFlagMaskCommand;
    keyboard_.postEvent(platform::EventTapLocation::HIDEventTap, keyDown);
    keyboard_.postEvent(platform::EventTapLocation::HIDEventTap, keyUp);
}
