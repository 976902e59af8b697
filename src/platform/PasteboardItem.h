#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

using Bytes = std::vector<std::uint8_t>;

// The type every backend understands as UTF-8 plain text, besides its own native type names.
inline constexpr std::string_view kPasteboardTypeString = "public.utf8-plain-text";

// One pasteboard item held in memory: its types in order, each with its own copy of the data. A value: it
// shares nothing with any pasteboard. Not thread-safe.
class PasteboardItem {
  public:
    // Replaces the data of a type already present (keeping its position) or appends the type.
    void setDataForType(Bytes data, std::string_view type);
    void setStringForType(std::string_view text, std::string_view type);

    std::vector<std::string> types() const;
    // Null when the item has no such type.
    const Bytes* dataForType(std::string_view type) const;
    std::optional<std::string> stringForType(std::string_view type) const;
    bool empty() const { return entries_.empty(); }

    bool operator==(const PasteboardItem&) const = default;

  private:
    std::vector<std::pair<std::string, Bytes>> entries_;
};

}  // namespace platform
