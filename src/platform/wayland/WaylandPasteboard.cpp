#include "platform/wayland/WaylandPasteboard.h"

#include <algorithm>
#include <array>
#include <chrono>

namespace platform::wayland {

namespace {

using ::wayland::internal::DeclaredClipboard;

using ::wayland::internal::DataControl;
using ::wayland::internal::Selection;

constexpr std::chrono::milliseconds kReadTimeout{1000};
// Served beside the plain text, for readers that ask by another name.
constexpr std::array<std::string_view, 4> kTextAliases = {"text/plain", "UTF8_STRING", "STRING", "TEXT"};

}  // namespace

WaylandPasteboard::WaylandPasteboard(::wayland::internal::WaylandDesktop& desktop) : desktop_(desktop) {
    handler_ = desktop_.dataControl().addChangeHandler([this](Selection selection) {
        if (selection != Selection::Clipboard || desktop_.dataControl().isOwn(selection)) return;
        ++changeCount_;
        declared_.clear();
        waiters_.changed(changeCount_);
    });
}

WaylandPasteboard::~WaylandPasteboard() {
    desktop_.dataControl().removeChangeHandler(handler_);
}

std::int64_t WaylandPasteboard::changeCount() {
    desktop_.connection().dispatchAvailable();
    return changeCount_;
}

std::size_t WaylandPasteboard::itemCount() {
    return typesOfItem(0).empty() ? 0 : 1;
}

std::vector<std::string> WaylandPasteboard::typesOfItem(std::size_t index) {
    std::vector<std::string> types;
    if (index != 0) return types;
    if (desktop_.dataControl().isOwn(Selection::Clipboard)) return declared_.writtenTypes();
    for (const auto& mime : desktop_.dataControl().types(Selection::Clipboard))
        if (!DeclaredClipboard::isMetaType(mime)) types.push_back(DeclaredClipboard::platformName(mime));
    return types;
}

std::optional<Bytes> WaylandPasteboard::dataForType(std::size_t index, std::string_view type) {
    if (index != 0) return std::nullopt;
    if (desktop_.dataControl().isOwn(Selection::Clipboard)) return declared_.data(type);
    return desktop_.dataControl().read(Selection::Clipboard, DeclaredClipboard::mimeName(type), kReadTimeout);
}

std::int64_t WaylandPasteboard::clearContents() {
    declared_.clear();
    publish();
    return movedByThisProcess();
}

bool WaylandPasteboard::writeObjects(const std::vector<PasteboardItem>& items) {
    if (!desktop_.dataControl().isOwn(Selection::Clipboard)) declared_.clear();
    declared_.addMissing(items);
    return publish();
}

std::int64_t WaylandPasteboard::declareTypes(const std::vector<std::string>& types) {
    declared_.declare(types);
    publish();
    return movedByThisProcess();
}

std::int64_t WaylandPasteboard::movedByThisProcess() {
    waiters_.changed(++changeCount_);
    return changeCount_;
}

void WaylandPasteboard::waitForChange(std::int64_t since, std::chrono::nanoseconds bound, bool endOnUserInput,
                                      Scheduler& scheduler, std::function<void(bool changed)> done) {
    // No Wayland client sees the user's key presses, so a change after a "did not copy" verdict could be the
    // user's own copy: such a watch ends at once rather than risk restoring over it.
    if (endOnUserInput) bound = std::chrono::nanoseconds::zero();
    waiters_.add(since, changeCount(), bound, endOnUserInput, scheduler, std::move(done));
}

bool WaylandPasteboard::setString(std::string_view text, std::string_view type) {
    if (!desktop_.dataControl().isOwn(Selection::Clipboard)) return false;
    return declared_.set(type, text) && publish();
}

std::optional<Bytes> WaylandPasteboard::servedText() const {
    if (!desktop_.dataControl().isOwn(Selection::Clipboard)) return std::nullopt;
    return declared_.data(kPasteboardTypeString);
}

bool WaylandPasteboard::publish() {
    const Bytes* text = nullptr;
    DataControl::Contents contents = declared_.contents(&text);
    if (text) {
        for (std::string_view alias : kTextAliases) {
            const bool taken = std::any_of(contents.begin(), contents.end(),
                                           [&](const auto& entry) { return entry.first == alias; });
            if (!taken) contents.emplace_back(std::string(alias), *text);
        }
    }
    return desktop_.dataControl().serve(Selection::Clipboard, std::move(contents));
}

}  // namespace platform::wayland
