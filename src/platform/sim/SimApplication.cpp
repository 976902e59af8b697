#include "platform/sim/SimApplication.h"

#include "dispatch/WorkItem.h"
#include "platform/sim/SimPasteboard.h"

namespace platform::sim {

SimApplication::SimApplication(std::int32_t pid, std::string name, std::shared_ptr<SimElement::ReadLog> log)
    : pid_(pid),
      name_(name),
      applicationElement_(std::make_shared<SimElement>(std::move(log), std::move(name))) {
    applicationElement_->setAttributeError(kAXFocusedUIElementAttribute, AXError::NoValue);
}

void SimApplication::setFocusedElement(std::shared_ptr<SimElement> element) {
    if (element) {
        applicationElement_->setAttribute(kAXFocusedUIElementAttribute,
                                          std::shared_ptr<AXUIElement>(element));
    } else {
        applicationElement_->setAttributeError(kAXFocusedUIElementAttribute, AXError::NoValue);
    }
}

void SimApplication::setFocusedElementError(AXError error) {
    applicationElement_->setAttributeError(kAXFocusedUIElementAttribute, error);
}

void SimApplication::setSelection(std::string text) {
    PasteboardItem item;
    item.setStringForType(text, kPasteboardTypeString);
    copiedItems_ = {std::move(item)};
}

void SimApplication::setCopyReaction(CopyReaction reaction, std::chrono::nanoseconds lateBy) {
    reaction_ = reaction;
    lateBy_ = lateBy;
}

void SimApplication::receiveCopy(SimPasteboard& pasteboard, Scheduler& scheduler) {
    ++copyKeyStrokes_;
    auto copy = [&pasteboard, items = copiedItems_] { pasteboard.copyFromOtherApplication(items); };
    switch (reaction_) {
        case CopyReaction::Immediately:
            copy();
            break;
        case CopyReaction::Late:
            scheduler.scheduleAfter(lateBy_, dispatch::WorkItem::create(copy));
            break;
        case CopyReaction::Never:
            break;
    }
}

void SimApplication::receivePaste(SimPasteboard& pasteboard) {
    pastes_.push_back(pasteboard.firstString());
}

}  // namespace platform::sim
