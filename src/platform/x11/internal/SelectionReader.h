#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/x11/internal/Connection.h"
#include "platform/x11/internal/SelectionData.h"

namespace x11::internal {

// Reads selections (PRIMARY, CLIPBOARD) from their owners: converts a target into a property of a private
// window, waits for the owner's answer, and follows INCR transfers chunk by chunk for large values.
//
// Blocking: every read waits for the owning application, for at most `timeout` per step (the first answer,
// then each INCR chunk). While waiting, other events on the connection are dispatched, so a selection that
// this process owns is served to itself. Called on the thread that owns the connection.
class SelectionReader {
  public:
    explicit SelectionReader(Connection& connection);
    ~SelectionReader();
    SelectionReader(const SelectionReader&) = delete;
    SelectionReader& operator=(const SelectionReader&) = delete;

    // The value of one target; nothing when there is no owner, the owner refused, or it did not answer.
    std::optional<SelectionData> read(::Atom selection, ::Atom target, std::chrono::milliseconds timeout);
    // The targets the owner offers (TARGETS), in its order.
    std::vector<::Atom> targets(::Atom selection, std::chrono::milliseconds timeout);
    // The selection as UTF-8 text (UTF8_STRING, else text/plain;charset=utf-8, else Latin-1 STRING).
    std::optional<std::string> readText(::Atom selection, std::chrono::milliseconds timeout);

    ::Window window() const { return window_; }

  private:
    std::optional<SelectionData> readIncremental(::Atom target, std::chrono::milliseconds timeout);

    Connection& connection_;
    ::Window window_;
    ::Atom property_;
};

}  // namespace x11::internal
