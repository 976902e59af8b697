#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/PasteboardItem.h"
#include "platform/Scheduler.h"

namespace platform {

// The general pasteboard (clipboard): an ordered list of items, each with ordered types, and a change count
// that moves whenever anyone (this process or another) takes the pasteboard over.
//
// Reads are lazy: data is fetched from its owner only when asked for, so reading one type of a large item is
// cheap. Reads may wait for the owning application (bounded by the backend). Main thread only.
class Pasteboard {
  public:
    virtual ~Pasteboard() = default;

    virtual std::int64_t changeCount() = 0;
    virtual std::size_t itemCount() = 0;
    // The types of item `index` in order; empty for an index past the end.
    virtual std::vector<std::string> typesOfItem(std::size_t index) = 0;
    // Null when the item has no data for that type or it cannot be read.
    virtual std::optional<Bytes> dataForType(std::size_t index, std::string_view type) = 0;
    std::optional<std::string> stringForType(std::size_t index, std::string_view type) {
        auto data = dataForType(index, type);
        if (!data) return std::nullopt;
        return std::string(data->begin(), data->end());
    }

    // Empties the pasteboard and takes it over; returns the new change count.
    virtual std::int64_t clearContents() = 0;
    // Adds the items, in order, after those already there; false when the platform refused them.
    virtual bool writeObjects(const std::vector<PasteboardItem>& items) = 0;
    // Empties the pasteboard and declares one item with the given types (no owner promises data later);
    // returns the new change count.
    virtual std::int64_t declareTypes(const std::vector<std::string>& types) = 0;
    // Sets the data of a type declared last; false when it was not declared.
    virtual bool setString(std::string_view text, std::string_view type) = 0;

    // Calls `done` once through `scheduler` (never before returning): with true as soon as the change count
    // differs from `since` (also when it already does), with false once `bound` has passed without a change.
    // With `endOnUserInput`, a key or button press of the user's first also gives false, so that a copy the
    // user makes is never taken for an application's late one. The backend learns of changes as they happen
    // (no polling), so a copy is seen within the time its owner takes to announce it.
    virtual void waitForChange(std::int64_t since, std::chrono::nanoseconds bound, bool endOnUserInput,
                               Scheduler& scheduler, std::function<void(bool changed)> done) = 0;
};

}  // namespace platform
