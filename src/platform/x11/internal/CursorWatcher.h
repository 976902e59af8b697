#pragma once

#include <cstdint>
#include <optional>
#include <set>

#include "platform/x11/internal/Connection.h"
#include "platform/x11/internal/CursorImages.h"

namespace x11::internal {

// Answers "is the pointer showing a text cursor now?" cheaply enough for every drag event: the verdict is
// kept per cursor serial and recomputed only after the server reported a cursor change (XFixes cursor
// notifications, read from the shared connection). A cursor counts as text when its pixel hash is one of the
// recorded text hashes or its themed name is a text cursor's name.
//
// Called on the thread that owns the connection (the main thread). Keeps a handler on the connection while it
// lives; destroy it before the connection.
class CursorWatcher {
  public:
    explicit CursorWatcher(Connection& connection);
    ~CursorWatcher();
    CursorWatcher(const CursorWatcher&) = delete;
    CursorWatcher& operator=(const CursorWatcher&) = delete;

    void setTextHashes(std::set<uint64_t> hashes) {
        textHashes_ = std::move(hashes);
        haveVerdict_ = false;
    }
    const std::set<uint64_t>& textHashes() const { return textHashes_; }

    bool isTextCursor();
    // The image of the cursor showing now, fetched again only after the server reported a change.
    std::optional<CursorPixels> currentImage();
    // The server's serial of the cursor showing now, as last reported (fetched once if nothing was reported
    // yet); 0 when there is no cursor.
    unsigned long currentSerial();
    // The hash of the cursor showing now (uncached); 0 when there is none.
    uint64_t currentHash();
    // How many times the image was fetched (for tests and figures).
    uint64_t fetches() const { return fetches_; }

  private:
    Connection& connection_;
    int handler_ = 0;
    int eventBase_ = 0;
    std::set<uint64_t> textHashes_;
    bool haveVerdict_ = false;
    bool verdict_ = false;
    unsigned long verdictSerial_ = 0;
    unsigned long notifiedSerial_ = 0;
    bool changed_ = true;
    std::optional<CursorPixels> image_;
    uint64_t fetches_ = 0;
};

}  // namespace x11::internal
