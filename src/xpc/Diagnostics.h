#pragma once

#include <functional>
#include <string>

namespace xpc {

// Receives the channel's warnings (refused peers, bad frames, failed connects) as one line of text each, on
// the queue of the object that reports them. The channel does not log by itself: its owner decides where the
// lines go. May be empty.
using DiagnosticHandler = std::function<void(const std::string& warning)>;

}  // namespace xpc
