#pragma once

#include <wayland-client.h>

#include <cstdint>
#include <memory>
#include <string>

struct zwlr_virtual_pointer_manager_v1;
struct zwlr_virtual_pointer_v1;
struct org_kde_kwin_fake_input;

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

    // Moves to (x, y) in the layout of a `width` x `height` desktop and waits until the compositor has it.
    void moveTo(int x, int y, int width = 1280, int height = 800);
    void button(bool down);

  private:
    VirtualPointer() = default;
    void sync();

    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    wl_seat* seat_ = nullptr;
    zwlr_virtual_pointer_manager_v1* manager_ = nullptr;
    zwlr_virtual_pointer_v1* pointer_ = nullptr;
    org_kde_kwin_fake_input* fakeInput_ = nullptr;
};

}  // namespace wayland::testing
