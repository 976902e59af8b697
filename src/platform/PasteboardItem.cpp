#include "platform/PasteboardItem.h"

#include <algorithm>

namespace platform {

void PasteboardItem::setDataForType(Bytes data, std::string_view type) {
    auto it = std::find_if(entries_.begin(), entries_.end(), [&](const auto& e) { return e.first == type; });
    if (it != entries_.end()) {
        it->second = std::move(data);
    } else {
        entries_.emplace_back(std::string(type), std::move(data));
    }
}

void PasteboardItem::setStringForType(std::string_view text, std::string_view type) {
    setDataForType(Bytes(text.begin(), text.end()), type);
}

std::vector<std::string> PasteboardItem::types() const {
    std::vector<std::string> result;
    result.reserve(entries_.size());
    for (const auto& entry : entries_) result.push_back(entry.first);
    return result;
}

const Bytes* PasteboardItem::dataForType(std::string_view type) const {
    for (const auto& entry : entries_) {
        if (entry.first == type) return &entry.second;
    }
    return nullptr;
}

std::optional<std::string> PasteboardItem::stringForType(std::string_view type) const {
    const Bytes* data = dataForType(type);
    if (data == nullptr) return std::nullopt;
    return std::string(data->begin(), data->end());
}

}  // namespace platform
