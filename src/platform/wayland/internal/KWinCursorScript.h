#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "platform/wayland/internal/PointerProbe.h"

struct sd_bus;
struct sd_bus_slot;

namespace wayland::internal {

// The pointer's position from KWin itself: a one-shot KWin script, loaded over the session bus through KWin's
// scripting interface, reads the workspace's cursor position and the height of the output at the layout's
// origin and calls this process back on the bus with them; then the script is unloaded. The script is a
// memory file of this process that KWin reads through /proc, as long as the object lives.
//
// Who calls it: the main thread. `locate` blocks for at most its timeout; nothing else uses the bus
// connection meanwhile (it is this object's own).
class KWinCursorScript {
  public:
    // Null when no session bus answers or KWin is not on it (`why` says which).
    static std::unique_ptr<KWinCursorScript> create(std::string* why = nullptr);
    ~KWinCursorScript();
    KWinCursorScript(const KWinCursorScript&) = delete;
    KWinCursorScript& operator=(const KWinCursorScript&) = delete;

    // Nothing when KWin did not answer within `timeout` (`why` says what went wrong); unloading the script
    // afterwards may take a little longer (bounded).
    std::optional<PointerProbe::Position> locate(std::chrono::milliseconds timeout,
                                                 std::string* why = nullptr);

  private:
    KWinCursorScript() = default;
    using Deadline = std::chrono::steady_clock::time_point;
    // Limits the next calls to what is left until `deadline`.
    void bound(Deadline deadline);
    // Loads the script and starts it; false (`why` set) when KWin refuses.
    bool run(Deadline deadline, std::string* why);
    void unload(Deadline deadline);

    sd_bus* bus_ = nullptr;
    sd_bus_slot* slot_ = nullptr;
    int scriptFd_ = -1;
    std::string scriptPath_;
    std::string plugin_;
    std::optional<std::string> answer_;
};

}  // namespace wayland::internal
