#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/Cursors.h"

// Tells whether the pointer shows the standard I-beam text cursor, by comparing a hash of the showing
// cursor's pixels with the hash recorded once at start-up (`setup`).
//
// Called on the main thread only: `setup` at start-up before any event tap exists, `isBeam` from the
// event-tap callback at each left mouse-down and drag. `isBeam` reads the cursor afresh each time (no cache).
class CursorHelper {
  public:
    // The process's helper, on the installed platform's cursors; created once, safely under concurrent calls.
    static CursorHelper& sharedInstance();

    explicit CursorHelper(platform::Cursors& cursors) : cursors_(cursors) {}
    CursorHelper(const CursorHelper&) = delete;
    CursorHelper& operator=(const CursorHelper&) = delete;

    // Records the hash of the standard I-beam (`ibeamHash`); a desktop with several standard text cursors has
    // each of them recorded.
    void setup();
    // True when the cursor showing now has a recorded I-beam's hash. False when the platform cannot tell the
    // cursor, or its image has no pixels. The image is read afresh unless the platform reports, through a
    // cursor serial, that the cursor has not changed since the last answer.
    bool isBeam();

    // A deterministic 64-bit hash of the cursor image's pixel bytes (nothing else enters it).
    static std::uint64_t imageHash(const platform::CursorImage& cursor);

    // 0 until `setup` has run.
    std::uint64_t ibeamHash() const { return ibeamHash_; }
    void setIbeamHash(std::uint64_t hash);

  private:
    bool hashesAsIBeam(const std::optional<platform::CursorImage>& cursor) const;

    platform::Cursors& cursors_;
    std::uint64_t ibeamHash_ = 0;
    std::vector<std::uint64_t> otherIbeamHashes_;
    std::optional<std::uint64_t> verdictSerial_;
    bool verdict_ = false;
};
