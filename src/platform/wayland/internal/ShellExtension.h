#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dispatch/RunLoop.h"
#include "platform/PasteboardItem.h"

struct sd_bus;
struct sd_bus_slot;
struct sd_bus_message;

namespace wayland::internal {

// The helper's GNOME Shell extension (gnome/ in the tree), reached on the session bus: GNOME offers Wayland
// clients no data control, virtual keyboard or pointer position, so the extension does those inside the
// shell. The extension serves only its own user and names no method that types arbitrary keys.
//
// Who calls it: the main thread. Calls block for at most `kCallTimeout` (reads of another application's data
// included); the extension's signals reach the handlers from the main run loop, never inside a call.
class ShellExtension {
  public:
    static constexpr const char* kUuid = "helper@tandrel.com";
    static constexpr std::chrono::milliseconds kCallTimeout{2500};
    enum class Signal { SelectionFinished, ClipboardChanged };
    enum class Selection { Primary, Clipboard };
    struct PointerPosition {
        int x = 0;
        int y = 0;
        int primaryBottom = 0;  // the bottom edge of the primary monitor, y grows downward
    };

    // Null when there is no session bus (`why` says so).
    static std::unique_ptr<ShellExtension> connect(std::string* why = nullptr);
    ~ShellExtension();
    ShellExtension(const ShellExtension&) = delete;
    ShellExtension& operator=(const ShellExtension&) = delete;

    // Whether GNOME Shell runs on this session bus, and whether the extension is enabled in it.
    bool shellRunning();
    bool extensionEnabled();

    // The MIME types on offer (each once, in the owner's order); empty when the selection is empty or the
    // extension does not answer.
    std::vector<std::string> types(Selection selection);
    // One type's data; nothing when it is not offered, too large, or the owner does not answer in time.
    std::optional<platform::Bytes> read(Selection selection, const std::string& type);
    // The selection as UTF-8 text through the usual text types.
    std::optional<std::string> readText(Selection selection);
    // Owns CLIPBOARD with one type; the extension does not report this change as a foreign one.
    bool setClipboard(const std::string& type, const platform::Bytes& data);
    // The copy and paste chords through the extension's virtual keyboard.
    bool copy();
    bool paste();
    std::optional<PointerPosition> pointerPosition();

    int addSignalHandler(std::function<void(Signal)> handler);
    void removeSignalHandler(int id);

  private:
    ShellExtension() = default;
    bool nameHasOwner(const char* name);
    void signalled(const char* member);
    // Handles what the bus delivered; later from the main queue when a call read it meanwhile.
    void processSoon();
    void process();

    sd_bus* bus_ = nullptr;
    sd_bus_slot* match_ = nullptr;
    std::unique_ptr<dispatch::RunLoop::Watch> watch_;
    std::map<int, std::function<void(Signal)>> handlers_;
    int nextHandler_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    bool processQueued_ = false;
};

}  // namespace wayland::internal
