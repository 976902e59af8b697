#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/PasteboardItem.h"

namespace wayland::internal {

// What a pasteboard of this process serves as CLIPBOARD on Wayland, through data control or through the GNOME
// Shell extension: the declared types in declaration order, each with its data once written, and the mapping
// between the platform's type names and MIME types. Shared by WaylandPasteboard and GnomePasteboard, which
// decide when it is cleared (another owner took CLIPBOARD). Main thread only.
class DeclaredClipboard {
  public:
    using Bytes = platform::Bytes;
    using Contents = std::vector<std::pair<std::string, Bytes>>;

    // The MIME type of UTF-8 text, which the platform calls kPasteboardTypeString.
    static constexpr std::string_view kUtf8Text = "text/plain;charset=utf-8";
    // X11 selection machinery that Xwayland owners offer as types: not data, and some owners never answer
    // them.
    static bool isMetaType(std::string_view mime);
    static std::string platformName(const std::string& mime);
    static std::string mimeName(std::string_view type);

    void clear() { entries_.clear(); }
    // Replaces the declaration with `types`, none of them written yet.
    void declare(const std::vector<std::string>& types);
    // Adds the types of `items` not declared yet, with their data: one item is all a selection holds, so
    // later items add the types the earlier ones lack.
    void addMissing(const std::vector<platform::PasteboardItem>& items);
    // Writes a declared type's data; false when `type` was not declared.
    bool set(std::string_view type, std::string_view bytes);
    // A declared type's data; none when it was not declared or not written yet.
    std::optional<Bytes> data(std::string_view type) const;
    // The written types, in declaration order (a declared type without data is not offered).
    std::vector<std::string> writtenTypes() const;
    // The written types as (MIME type, data); `text` is pointed at the text among them (null without), valid
    // until the next change.
    Contents contents(const Bytes** text) const;

  private:
    std::vector<std::pair<std::string, std::optional<Bytes>>> entries_;
};

}  // namespace wayland::internal
