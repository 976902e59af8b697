#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Keyboard.h"
#include "platform/Pasteboard.h"

// The service's dealings with the general pasteboard and with synthetic key strokes: saving and restoring
// the user's pasteboard around a simulated copy, putting text on it for an insertion, and striking the copy
// and paste chords into the frontmost application.
//
// Main thread only. The operations are not guarded against interleaving: callers keep their own order (save,
// copy chord, read, restore; or put text, paste chord). Nothing here blocks beyond the platform's own
// pasteboard reads; nothing reports failure.
class PasteboardHelper {
  public:
    // The process's helper, on the installed platform; created once, safely under concurrent calls.
    static PasteboardHelper& sharedInstance();

    PasteboardHelper(platform::Pasteboard& pasteboard, platform::Keyboard& keyboard)
        : pasteboard_(pasteboard), keyboard_(keyboard) {}
    PasteboardHelper(const PasteboardHelper&) = delete;
    PasteboardHelper& operator=(const PasteboardHelper&) = delete;

    // A private copy of every item, every type's data in order; a type whose data cannot be read is left out,
    // an item left with no type is still kept.
    std::vector<platform::PasteboardItem> savePasteboardItems();
    // Clears the pasteboard, then writes the saved items back in one call.
    void restorePasteboardItems(const std::vector<platform::PasteboardItem>& items);
    // The pasteboard then holds `text` as its only content, as plain text. The previous contents are not
    // kept.
    void copyTextToPasteboard(const std::string& text);
    // False when a copy chord would not copy (the application it would reach types it as text), so the
    // caller need not save the pasteboard for it.
    bool canSimulateCopy() { return !keyboard_.copyChordWouldBeTyped(); }
    // Strike the copy (Command+C) or paste (Command+V) chord: key down then key up, posted at once.
    void simulateCopy();
    void simulatePaste();
    // How often this helper wrote the pasteboard (restores and insertions), so a watch can tell that the
    // pasteboard changed by the service's own hand.
    std::uint64_t writes() const { return writes_; }

  private:
    void simulateKeyStroke(std::uint16_t keyCode);

    platform::Pasteboard& pasteboard_;
    platform::Keyboard& keyboard_;
    std::uint64_t writes_ = 0;
};
