#pragma once

namespace x11::internal {

// A stream of recorded pointer events read from the main run loop: watch `fd()` for readability and call
// `process()`, which hands the events to the source's callback.
class InputSource {
  public:
    virtual ~InputSource() = default;
    virtual int fd() const = 0;
    virtual void process() = 0;
    virtual bool isBroken() const = 0;
};

}  // namespace x11::internal
