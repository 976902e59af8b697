#include "platform/wayland/internal/DeclaredClipboard.h"

#include <algorithm>

namespace wayland::internal {

bool DeclaredClipboard::isMetaType(std::string_view mime) {
    return mime == "TARGETS" || mime == "SAVE_TARGETS" || mime == "MULTIPLE" || mime == "TIMESTAMP" ||
           mime == "DELETE";
}

std::string DeclaredClipboard::platformName(const std::string& mime) {
    return mime == kUtf8Text ? std::string(platform::kPasteboardTypeString) : mime;
}

std::string DeclaredClipboard::mimeName(std::string_view type) {
    return std::string(type == platform::kPasteboardTypeString ? kUtf8Text : type);
}

void DeclaredClipboard::declare(const std::vector<std::string>& types) {
    entries_.clear();
    for (const std::string& type : types) entries_.emplace_back(type, std::nullopt);
}

void DeclaredClipboard::addMissing(const std::vector<platform::PasteboardItem>& items) {
    for (const platform::PasteboardItem& item : items) {
        for (const std::string& type : item.types()) {
            const bool known = std::any_of(entries_.begin(), entries_.end(),
                                           [&](const auto& entry) { return entry.first == type; });
            if (!known) entries_.emplace_back(type, *item.dataForType(type));
        }
    }
}

bool DeclaredClipboard::set(std::string_view type, std::string_view bytes) {
    for (auto& [declared, data] : entries_) {
        if (declared != type) continue;
        data = Bytes(bytes.begin(), bytes.end());
        return true;
    }
    return false;
}

std::optional<DeclaredClipboard::Bytes> DeclaredClipboard::data(std::string_view type) const {
    for (const auto& [declared, data] : entries_)
        if (declared == type) return data;
    return std::nullopt;
}

std::vector<std::string> DeclaredClipboard::writtenTypes() const {
    std::vector<std::string> types;
    for (const auto& [type, data] : entries_)
        if (data) types.push_back(type);
    return types;
}

DeclaredClipboard::Contents DeclaredClipboard::contents(const Bytes** text) const {
    Contents contents;
    *text = nullptr;
    for (const auto& [type, data] : entries_) {
        if (!data) continue;
        contents.emplace_back(mimeName(type), *data);
        if (type == platform::kPasteboardTypeString) *text = &*data;
    }
    return contents;
}

}  // namespace wayland::internal
