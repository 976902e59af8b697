#pragma once

#include <cstdint>

namespace dispatch {

// Quality-of-service classes, numbered as the log records and formatters expect them.
enum class Qos : std::uint32_t {
    Unspecified = 0x00,
    Background = 0x09,
    Utility = 0x11,
    Default = 0x15,
    UserInitiated = 0x19,
    UserInteractive = 0x21,
};

// The QoS value of the calling thread: the QoS of the queue whose work it is running (innermost when
// synchronous calls nest), or Unspecified (0) on a thread that runs no queue work (a foreign thread).
std::uint32_t currentQos();

}  // namespace dispatch
