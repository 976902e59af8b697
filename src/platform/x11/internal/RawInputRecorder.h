#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/x11/internal/Connection.h"
#include "platform/x11/internal/InputSource.h"
#include "platform/x11/internal/PointerEventTranslator.h"

namespace x11::internal {

// The fallback when the server has no RECORD extension: XInput 2 raw button and motion events of every
// device, on a connection of its own. Raw events carry no position, so the position is read with a query
// after each event: in fast bursts it may already be newer than the event, and pointer warps are not seen.
// Button numbers are physical, like RECORD's. Same use as InputRecorder.
class RawInputRecorder : public InputSource {
  public:
    using Callback = std::function<void(const RawInput&)>;

    static std::unique_ptr<RawInputRecorder> start(const std::string& display, Callback callback,
                                                   std::string* why = nullptr);
    int fd() const override { return connection_->fd(); }
    void process() override;
    bool isBroken() const override { return connection_->isBroken(); }

  private:
    RawInputRecorder() = default;
    std::unique_ptr<Connection> connection_;
    Callback callback_;
    int opcode_ = 0;
};

}  // namespace x11::internal
