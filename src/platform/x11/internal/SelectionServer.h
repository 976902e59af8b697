#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "platform/x11/internal/Connection.h"
#include "platform/x11/internal/SelectionData.h"

namespace x11::internal {

// Owns one selection (CLIPBOARD, PRIMARY) and serves the values given to `own` to every requestor for as long
// as it owns it: each data target, plus TARGETS, TIMESTAMP and MULTIPLE; values larger than a request allows
// go out through INCR, one chunk each time the requestor deletes the property.
//
// Serving happens when the connection's events are dispatched: the owner of the connection must dispatch them
// whenever its descriptor is readable (the main run loop watches it). Ownership ends when another client
// takes the selection (the `onLost` callback runs) or on `disown`. Called on the connection's thread only.
class SelectionServer {
  public:
    SelectionServer(Connection& connection, ::Atom selection);
    ~SelectionServer();
    SelectionServer(const SelectionServer&) = delete;
    SelectionServer& operator=(const SelectionServer&) = delete;

    // Takes the selection with a real server time and serves `values`; false when the server gave it to no
    // one.
    bool own(std::vector<SelectionData> values);
    void disown();
    // Replaces what is served while owning (no new ownership, so no owner notification).
    void setValues(std::vector<SelectionData> values) { values_ = std::move(values); }
    bool owns() const { return owned_; }
    ::Window window() const { return window_; }
    ::Time ownedSince() const { return time_; }
    const std::vector<SelectionData>& values() const { return values_; }
    void setOnLost(std::function<void()> onLost) { onLost_ = std::move(onLost); }
    // Values above this many bytes go through INCR.
    size_t incrementalThreshold() const { return chunk_; }
    size_t activeTransfers() const { return transfers_.size(); }

  private:
    struct Transfer {
        ::Window requestor;
        ::Atom property;
        SelectionData value;
        size_t offset = 0;
        Clock::time_point started;
    };

    bool handle(XEvent& event);
    void answerRequest(const XSelectionRequestEvent& request);
    // Writes one target into the requestor's property; false when it cannot be served.
    bool serve(::Window requestor, ::Atom target, ::Atom property);
    void continueTransfer(const XPropertyEvent& event);
    void dropStaleTransfers();

    Connection& connection_;
    ::Atom selection_;
    ::Window window_;
    int handler_ = 0;
    bool owned_ = false;
    ::Time time_ = CurrentTime;
    std::vector<SelectionData> values_;
    std::function<void()> onLost_;
    size_t chunk_;
    std::vector<Transfer> transfers_;
};

}  // namespace x11::internal
