#include "platform/x11/internal/FrontmostWindow.h"

#include <cstdio>

#include "platform/x11/internal/WindowQueries.h"

namespace x11::internal {

void FrontmostWindow::notePress() {
    releasedOver_ = None;
    activeAtRelease_ = None;
}

void FrontmostWindow::noteRelease() {
    releasedOver_ = WindowQueries::topLevelUnderPointer(connection_);
    activeAtRelease_ = WindowQueries::activeWindow(connection_);
}

::Window FrontmostWindow::choose() {
    const ::Window active = WindowQueries::activeWindow(connection_);
    if (releasedOver_ == None || active != activeAtRelease_) return active;
    const ::Window pointed = WindowQueries::applicationWindow(connection_, releasedOver_);
    if (pointed == None) return active;
    if (active == None) return pointed;
    if (WindowQueries::topLevelOf(connection_, active) == releasedOver_ ||
        WindowQueries::sameClient(connection_, active, pointed))
        return active;
    if (reported_ != std::pair{active, pointed}) {
        reported_ = {active, pointed};
        std::fprintf(stderr,
                     "FrontmostWindow: the gesture ended over window 0x%lx of another application than the "
                     "active window 0x%lx; taking the window under the pointer\n",
                     static_cast<unsigned long>(pointed), static_cast<unsigned long>(active));
    }
    return pointed;
}

bool FrontmostWindow::involvesTerminal() {
    for (::Window window : {choose(), releasedOver_, WindowQueries::keyboardRecipient(connection_)}) {
        if (window == None) continue;
        auto windowClass = WindowQueries::classOf(connection_, window);
        if (windowClass && WindowQueries::isTerminal(*windowClass)) return true;
    }
    return false;
}

}  // namespace x11::internal
