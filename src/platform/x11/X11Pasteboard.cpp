#include "platform/x11/X11Pasteboard.h"

#include <X11/Xatom.h>

#include <algorithm>

namespace platform::x11 {

namespace {
using namespace std::chrono_literals;
using ::x11::internal::SelectionData;
constexpr auto kReadTimeout = 1000ms;

bool isAscii(const Bytes& bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b < 0x80; });
}
}  // namespace

X11Pasteboard::X11Pasteboard(::x11::internal::X11Desktop& desktop)
    : desktop_(desktop), presses_(desktop.connection(), [this] {
          waiters_.userInput();
          presses_.setOn(waiters_.watchesUserInput());
      }) {
    desktop_.clipboard().setOnLost([this] { declared_.clear(); });
    desktop_.owners().setOnChange([this](::Atom selection, const auto& state) {
        if (selection != desktop_.clipboardAtom()) return;
        foreignChanges_ = state.foreignChanges;
        reportChange();
    });
}

X11Pasteboard::~X11Pasteboard() {
    desktop_.owners().setOnChange(nullptr);
}

void X11Pasteboard::reportChange() {
    waiters_.changed(static_cast<std::int64_t>(foreignChanges_) + ownChanges_);
    presses_.setOn(waiters_.watchesUserInput());
}

void X11Pasteboard::waitForChange(std::int64_t since, std::chrono::nanoseconds bound, bool endOnUserInput,
                                  Scheduler& scheduler, std::function<void(bool changed)> done) {
    waiters_.add(since, changeCount(), bound, endOnUserInput, scheduler, std::move(done));
    presses_.setOn(waiters_.watchesUserInput());
    desktop_.settle();
}

std::string X11Pasteboard::nameOf(::Atom target) {
    char* name = XGetAtomName(desktop_.connection().get(), target);
    std::string out = name ? name : "";
    if (name) XFree(name);
    if (out == "UTF8_STRING") return std::string(kPasteboardTypeString);
    return out;
}

::Atom X11Pasteboard::targetOf(std::string_view name) {
    if (name == kPasteboardTypeString) return desktop_.connection().atom("UTF8_STRING");
    return desktop_.connection().atom(std::string(name).c_str());
}

bool X11Pasteboard::ownsNow() {
    desktop_.connection().dispatchPending();
    return desktop_.clipboard().owns();
}

std::int64_t X11Pasteboard::changeCount() {
    auto state = desktop_.owners().state(desktop_.clipboardAtom());
    foreignChanges_ = state.foreignChanges;
    desktop_.settle();
    return static_cast<std::int64_t>(state.foreignChanges) + ownChanges_;
}

std::size_t X11Pasteboard::itemCount() {
    std::size_t count = 0;
    if (ownsNow())
        count = declared_.empty() ? 0 : 1;
    else
        count = XGetSelectionOwner(desktop_.connection().get(), desktop_.clipboardAtom()) != None ? 1 : 0;
    desktop_.settle();
    return count;
}

std::vector<std::string> X11Pasteboard::typesOfItem(std::size_t index) {
    std::vector<std::string> out;
    if (index != 0) return out;
    if (ownsNow()) {
        for (const auto& [name, data] : declared_) out.push_back(name);
        return out;
    }
    for (::Atom target : desktop_.reader().targets(desktop_.clipboardAtom(), kReadTimeout)) {
        std::string name = nameOf(target);
        if (!name.empty() && !::x11::internal::isMetaTarget(name) &&
            std::find(out.begin(), out.end(), name) == out.end())
            out.push_back(name);
    }
    desktop_.settle();
    return out;
}

std::optional<Bytes> X11Pasteboard::dataForType(std::size_t index, std::string_view type) {
    if (index != 0) return std::nullopt;
    if (ownsNow()) {
        for (const auto& [name, data] : declared_)
            if (name == type) return data;
        return std::nullopt;
    }
    auto& c = desktop_.connection();
    auto state = desktop_.owners().state(desktop_.clipboardAtom());
    ::Window owner = XGetSelectionOwner(c.get(), desktop_.clipboardAtom());
    std::optional<Bytes> out;
    if (auto value = desktop_.reader().read(desktop_.clipboardAtom(), targetOf(type), kReadTimeout)) {
        desktop_.rememberRead(*value, owner, state.timestamp);
        out = Bytes(value->bytes.begin(), value->bytes.end());
    } else if (type == kPasteboardTypeString) {
        if (auto text = desktop_.reader().readText(desktop_.clipboardAtom(), kReadTimeout))
            out = Bytes(text->begin(), text->end());
    }
    desktop_.settle();
    return out;
}

std::int64_t X11Pasteboard::clearContents() {
    declared_.clear();
    desktop_.clipboard().own({});
    ++ownChanges_;
    reportChange();
    return changeCount();
}

bool X11Pasteboard::writeObjects(const std::vector<PasteboardItem>& items) {
    if (items.empty()) return true;
    // The clipboard holds a single item: a second one cannot be offered.
    if (items.size() > 1 || (ownsNow() && !declared_.empty())) return false;
    for (const auto& type : items.front().types())
        declared_.emplace_back(type, *items.front().dataForType(type));
    publish();
    return desktop_.clipboard().owns();
}

std::int64_t X11Pasteboard::declareTypes(const std::vector<std::string>& types) {
    declared_.clear();
    for (const auto& type : types) declared_.emplace_back(type, std::nullopt);
    desktop_.clipboard().own({});
    ++ownChanges_;
    reportChange();
    publish();
    return changeCount();
}

bool X11Pasteboard::setString(std::string_view text, std::string_view type) {
    for (auto& [name, data] : declared_) {
        if (name == type) {
            data = Bytes(text.begin(), text.end());
            publish();
            return true;
        }
    }
    return false;
}

std::vector<SelectionData> X11Pasteboard::servedValues() const {
    return desktop_.clipboard().values();
}

void X11Pasteboard::publish() {
    auto& c = desktop_.connection();
    std::vector<SelectionData> values;
    auto add = [&](::Atom target, ::Atom type, int format, const Bytes& data) {
        for (const auto& v : values)
            if (v.target == target) return;
        values.push_back(SelectionData{target, type, format, std::string(data.begin(), data.end())});
    };
    for (const auto& [name, data] : declared_) {
        if (!data) continue;
        ::Atom target = targetOf(name);
        std::string bytes(data->begin(), data->end());
        if (auto original = desktop_.rememberedBytes(target, bytes))
            add(target, original->type, original->format, *data);
        else
            add(target, target, 8, *data);
    }
    // Plain text under the names other toolkits ask for.
    for (const auto& [name, data] : declared_) {
        if (name != kPasteboardTypeString || !data) continue;
        ::Atom utf8 = c.atom("UTF8_STRING");
        add(c.atom("text/plain;charset=utf-8"), c.atom("text/plain;charset=utf-8"), 8, *data);
        add(c.atom("TEXT"), utf8, 8, *data);
        if (isAscii(*data)) add(XA_STRING, XA_STRING, 8, *data);
    }
    if (desktop_.clipboard().owns())
        desktop_.clipboard().setValues(std::move(values));
    else
        desktop_.clipboard().own(std::move(values));
    desktop_.settle();
}

std::vector<SelectionData> X11Pasteboard::readAll(::Window owner, ::Time since) {
    auto values = desktop_.rememberedFor(owner, since);
    if (!values.empty()) return values;
    for (::Atom target : desktop_.reader().targets(desktop_.clipboardAtom(), kReadTimeout)) {
        if (::x11::internal::isMetaTarget(nameOf(target) == kPasteboardTypeString ? "UTF8_STRING"
                                                                                  : nameOf(target)))
            continue;
        if (auto value = desktop_.reader().read(desktop_.clipboardAtom(), target, kReadTimeout)) {
            desktop_.rememberRead(*value, owner, since);
            values.push_back(*value);
        }
    }
    return values;
}

void X11Pasteboard::takeOverForCopy() {
    if (ownsNow()) return;
    auto& c = desktop_.connection();
    auto state = desktop_.owners().state(desktop_.clipboardAtom());
    ::Window owner = XGetSelectionOwner(c.get(), desktop_.clipboardAtom());
    std::vector<SelectionData> values;
    if (owner != None) values = readAll(owner, state.timestamp);
    declared_.clear();
    for (const auto& v : values)
        declared_.emplace_back(nameOf(v.target), Bytes(v.bytes.begin(), v.bytes.end()));
    desktop_.clipboard().own(std::move(values));
    desktop_.settle();
}

}  // namespace platform::x11
