#include "platform/wayland/GnomePasteboard.h"

#include <algorithm>
#include <cstdio>

namespace platform::wayland {

namespace {

using ::wayland::internal::ShellExtension;

using ::wayland::internal::DeclaredClipboard;
constexpr std::string_view kUtf8Text = DeclaredClipboard::kUtf8Text;

}  // namespace

GnomePasteboard::GnomePasteboard(ShellExtension& extension,
                                 std::unique_ptr<::wayland::internal::X11ClipboardOwner> x11Owner)
    : extension_(extension), x11Owner_(std::move(x11Owner)) {
    handler_ = extension_.addSignalHandler([this](ShellExtension::Signal signal) {
        if (signal == ShellExtension::Signal::ClipboardChanged) changedElsewhere();
    });
}

GnomePasteboard::~GnomePasteboard() {
    extension_.removeSignalHandler(handler_);
}

void GnomePasteboard::changedElsewhere() {
    // The shell takes over what our X11 owner serves, and reports that as a change like any other.
    if (own_ && x11Owner_ && x11Owner_->owns()) return;
    own_ = false;
    declared_.clear();
    waiters_.changed(++changeCount_);
}

std::size_t GnomePasteboard::itemCount() {
    return typesOfItem(0).empty() ? 0 : 1;
}

std::vector<std::string> GnomePasteboard::typesOfItem(std::size_t index) {
    std::vector<std::string> types;
    if (index != 0) return types;
    if (own_) return declared_.writtenTypes();
    for (const auto& mime : extension_.types(ShellExtension::Selection::Clipboard))
        if (!DeclaredClipboard::isMetaType(mime)) types.push_back(DeclaredClipboard::platformName(mime));
    return types;
}

std::optional<Bytes> GnomePasteboard::dataForType(std::size_t index, std::string_view type) {
    if (index != 0) return std::nullopt;
    if (own_) return declared_.data(type);
    return extension_.read(ShellExtension::Selection::Clipboard, DeclaredClipboard::mimeName(type));
}

std::int64_t GnomePasteboard::clearContents() {
    declared_.clear();
    publish(/*clearing=*/true);
    return movedByThisProcess();
}

bool GnomePasteboard::writeObjects(const std::vector<PasteboardItem>& items) {
    if (!own_) declared_.clear();
    declared_.addMissing(items);
    return publish();
}

std::int64_t GnomePasteboard::declareTypes(const std::vector<std::string>& types) {
    declared_.declare(types);
    publish();
    return movedByThisProcess();
}

bool GnomePasteboard::setString(std::string_view text, std::string_view type) {
    if (!own_) return false;
    return declared_.set(type, text) && publish();
}

std::int64_t GnomePasteboard::movedByThisProcess() {
    waiters_.changed(++changeCount_);
    return changeCount_;
}

void GnomePasteboard::waitForChange(std::int64_t since, std::chrono::nanoseconds bound, bool endOnUserInput,
                                    Scheduler& scheduler, std::function<void(bool changed)> done) {
    // The shell does not tell the helper the user's key presses, so a change after a "did not copy" verdict
    // could be the user's own copy: such a watch ends at once rather than risk restoring over it.
    if (endOnUserInput) bound = std::chrono::nanoseconds::zero();
    waiters_.add(since, changeCount_, bound, endOnUserInput, scheduler, std::move(done));
}

bool GnomePasteboard::publish(bool clearing) {
    const Bytes* text = nullptr;
    ::wayland::internal::X11ClipboardOwner::Contents contents = declared_.contents(&text);
    if (contents.empty()) {
        // Nothing to offer yet (cleared, or declared without data). After a clear a restore of every type may
        // follow, so the X11 owner holds the clipboard: an empty text from the shell would reach the X server
        // after that restore and take CLIPBOARD back from it.
        own_ =
            clearing && x11Owner_ ? x11Owner_->own({}) : extension_.setClipboard(std::string(kUtf8Text), {});
        return own_;
    }
    const bool textOnly = contents.size() == 1 && text != nullptr;
    if (!textOnly && x11Owner_) {
        own_ = x11Owner_->own(contents);
        std::fprintf(stderr,
                     "GnomePasteboard: clipboard of %zu types served through Xwayland's CLIPBOARD%s\n",
                     contents.size(), own_ ? "" : " failed");
        return own_;
    }
    if (!textOnly)
        std::fprintf(
            stderr,
            "GnomePasteboard: clipboard served through the Shell extension, which keeps only its text: "
            "%zu of %zu types dropped (no Xwayland)\n",
            contents.size() - (text ? 1 : 0), contents.size());
    own_ = extension_.setClipboard(std::string(kUtf8Text), text ? *text : Bytes{});
    return own_;
}

}  // namespace platform::wayland
