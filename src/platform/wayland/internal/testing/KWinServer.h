#pragma once

#include <string>
#include <vector>

#include "platform/wayland/internal/testing/Compositor.h"

namespace wayland::testing {

// A private headless KWin for tests, with a session bus of its own (its scripting interface lives there);
// see Compositor. KWin offers fake input only to programs whose .desktop file declares it, and reads those
// files when it starts: the trusted programs get one in its data directory before it runs. It finds a
// client's program, and reads the helper's scripts, through /proc, which its unprivileged user may do for
// root's processes only with CAP_SYS_PTRACE and CAP_DAC_READ_SEARCH: as root it keeps those two (a helper of
// the user's own needs neither). The packaged binary carries a file capability a
// container may not grant, so a copy of it runs.
class KWinServer : public Compositor {
  public:
    std::vector<std::string> helperEnv() const override;

  private:
    friend class Compositor;
    KWinServer() : Compositor(Kind::KWin) {}
    std::string prepare(const std::vector<std::string>& trusted, std::string* why) override;
    std::vector<std::string> compositorEnv() const override;
    std::string privileges() const override;
    bool ready() override;
    std::string busAddress() const { return "unix:path=" + runtimeDir_ + "/bus"; }
};

}  // namespace wayland::testing
