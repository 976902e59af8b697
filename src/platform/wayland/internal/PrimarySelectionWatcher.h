#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "dispatch/WorkItem.h"
#include "platform/Scheduler.h"
#include "platform/wayland/internal/DataControl.h"

namespace wayland::internal {

// Tells when the user finished selecting, from PRIMARY alone: no Wayland client sees global input, but every
// selection made with the pointer becomes the new PRIMARY. Applications replace PRIMARY at each step of a
// drag and at the second press of a double click, so the text is announced once PRIMARY stayed unchanged for
// the settle time. Ignored: an emptied PRIMARY, PRIMARY served by this process, and a repeat of the text
// announced last (applications offer PRIMARY again on focus changes).
//
// Who calls it: the main thread; the settle timer runs from `scheduler`. The announcement reads the text
// (bounded) on the main thread. Destroying the watcher cancels a pending announcement.
class PrimarySelectionWatcher {
  public:
    using Announce = std::function<void(const std::string& text)>;
    static constexpr std::chrono::milliseconds kSettleTime{150};
    static constexpr std::chrono::milliseconds kReadTimeout{500};

    PrimarySelectionWatcher(DataControl& dataControl, platform::Scheduler& scheduler, Announce announce,
                            std::chrono::milliseconds settleTime = kSettleTime);
    ~PrimarySelectionWatcher();
    PrimarySelectionWatcher(const PrimarySelectionWatcher&) = delete;
    PrimarySelectionWatcher& operator=(const PrimarySelectionWatcher&) = delete;

  private:
    void onChange();
    void settled();

    DataControl& dataControl_;
    platform::Scheduler& scheduler_;
    Announce announce_;
    std::chrono::milliseconds settleTime_;
    int handler_;
    std::shared_ptr<dispatch::WorkItem> pending_;
    std::string lastAnnounced_;
};

}  // namespace wayland::internal
