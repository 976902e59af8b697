#include "platform/sim/SimPasteboard.h"

namespace platform::sim {

std::vector<std::string> SimPasteboard::typesOfItem(std::size_t index) {
    std::vector<std::string> types;
    if (index >= items_.size()) return types;
    for (const auto& entry : items_[index].entries) types.push_back(entry.first);
    return types;
}

std::optional<Bytes> SimPasteboard::dataForType(std::size_t index, std::string_view type) {
    if (index >= items_.size() || type == unreadableType_) return std::nullopt;
    for (const auto& entry : items_[index].entries) {
        if (entry.first == type) return entry.second;
    }
    return std::nullopt;
}

std::int64_t SimPasteboard::clearContents() {
    items_.clear();
    waiters_.changed(++changeCount_);
    return changeCount_;
}

bool SimPasteboard::writeObjects(const std::vector<PasteboardItem>& items) {
    for (const auto& item : items) {
        Item stored;
        for (const auto& type : item.types()) stored.entries.emplace_back(type, *item.dataForType(type));
        items_.push_back(std::move(stored));
    }
    return true;
}

std::int64_t SimPasteboard::declareTypes(const std::vector<std::string>& types) {
    items_.clear();
    Item declared;
    for (const auto& type : types) declared.entries.emplace_back(type, std::nullopt);
    items_.push_back(std::move(declared));
    waiters_.changed(++changeCount_);
    return changeCount_;
}

bool SimPasteboard::setString(std::string_view text, std::string_view type) {
    if (items_.empty()) return false;
    for (auto& entry : items_.back().entries) {
        if (entry.first == type) {
            entry.second = Bytes(text.begin(), text.end());
            return true;
        }
    }
    return false;
}

void SimPasteboard::waitForChange(std::int64_t since, std::chrono::nanoseconds bound, bool endOnUserInput,
                                  Scheduler& scheduler, std::function<void(bool changed)> done) {
    waiters_.add(since, changeCount_, bound, endOnUserInput, scheduler, std::move(done));
}

void SimPasteboard::copyFromOtherApplication(const std::vector<PasteboardItem>& items) {
    clearContents();
    writeObjects(items);
}

std::vector<PasteboardItem> SimPasteboard::snapshot() const {
    std::vector<PasteboardItem> result;
    for (const auto& item : items_) {
        PasteboardItem value;
        for (const auto& [type, data] : item.entries) {
            if (data) value.setDataForType(*data, type);
        }
        result.push_back(std::move(value));
    }
    return result;
}

std::optional<std::string> SimPasteboard::firstString() const {
    if (items_.empty()) return std::nullopt;
    for (const auto& [type, data] : items_.front().entries) {
        if (type == kPasteboardTypeString && data) return std::string(data->begin(), data->end());
    }
    return std::nullopt;
}

}  // namespace platform::sim
