#pragma once

#include <memory>
#include <string>

#include "platform/wayland/internal/Connection.h"

struct zwlr_virtual_pointer_manager_v1;
struct zwlr_virtual_pointer_v1;

namespace wayland::testing {

// The test's own pointer device on a compositor, on a connection of its own: moves to absolute positions and
// presses the left button. Kept alive for a whole test run, since the compositor drops the first events of a
// seat that had no pointer. Where the compositor offers no virtual pointer (KWin), through fake input, which
// KWin grants only to trusted programs (see KWinServer).
class VirtualPointer {
  public:
    // Null when the compositor offers neither a virtual pointer nor fake input (`why` says so).
    static std::unique_ptr<VirtualPointer> create(const std::string& socket, std::string* why = nullptr);
    ~VirtualPointer();

    // Moves to (x, y) on the 1280x800 desktop and waits until the compositor has it.
    void moveTo(int x, int y);
    void button(bool down);

  private:
    VirtualPointer() = default;

    std::unique_ptr<internal::Connection> connection_;
    wl_registry* registry_ = nullptr;
    zwlr_virtual_pointer_manager_v1* manager_ = nullptr;
    zwlr_virtual_pointer_v1* pointer_ = nullptr;
};

}  // namespace wayland::testing
