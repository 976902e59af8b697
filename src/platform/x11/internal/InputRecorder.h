#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/record.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/x11/internal/Connection.h"
#include "platform/x11/internal/InputSource.h"
#include "platform/x11/internal/PointerEventTranslator.h"

namespace x11::internal {

// Records the pointer's device events (ButtonPress..MotionNotify) of every client through the RECORD
// extension: exact root positions and server times, warps and synthetic events included, nothing altered.
//
// It opens two connections of its own: one to control the recording context and one on which the context is
// enabled asynchronously. The caller watches `fd()` for readability (on the main run loop) and calls
// `process()`, which hands each recorded event to the callback on the calling thread. Destruction disables
// the context and drains the recording until its end-of-data, without which closing the connection would
// block. Must not be destroyed from inside its own callback.
class InputRecorder : public InputSource {
  public:
    using Callback = std::function<void(const RawInput&)>;

    // Null when the display cannot be reached or has no RECORD extension (`why` says which).
    static std::unique_ptr<InputRecorder> start(const std::string& display, Callback callback,
                                                std::string* why = nullptr);
    ~InputRecorder() override;
    InputRecorder(const InputRecorder&) = delete;
    InputRecorder& operator=(const InputRecorder&) = delete;

    int fd() const override;
    // Non-blocking: handles what has arrived.
    void process() override;
    bool isBroken() const override;

  private:
    InputRecorder() = default;
    static void onRecord(XPointer closure, XRecordInterceptData* data);

    std::unique_ptr<Connection> control_;
    std::unique_ptr<Connection> data_;
    unsigned long context_ = 0;
    Callback callback_;
    bool ended_ = false;
    bool enabled_ = false;
};

}  // namespace x11::internal
