#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/Pasteboard.h"
#include "platform/PasteboardChangeWaiters.h"

namespace platform::sim {

// An in-memory general pasteboard. Behaves like a real one in what the service can observe: `clearContents`
// and `declareTypes` move the change count, `writeObjects` and `setString` add to the current contents
// without moving it. Tests also script it as another application would (`copyFromOtherApplication`) and can
// make one type unreadable. Single-threaded.
class SimPasteboard : public Pasteboard {
  public:
    std::int64_t changeCount() override { return changeCount_; }
    std::size_t itemCount() override { return items_.size(); }
    std::vector<std::string> typesOfItem(std::size_t index) override;
    std::optional<Bytes> dataForType(std::size_t index, std::string_view type) override;
    std::int64_t clearContents() override;
    bool writeObjects(const std::vector<PasteboardItem>& items) override;
    std::int64_t declareTypes(const std::vector<std::string>& types) override;
    bool setString(std::string_view text, std::string_view type) override;
    void waitForChange(std::int64_t since, std::chrono::nanoseconds bound, bool endOnUserInput,
                       Scheduler& scheduler, std::function<void(bool changed)> done) override;

    // Scripting.
    // Another application takes the pasteboard over with these items.
    void copyFromOtherApplication(const std::vector<PasteboardItem>& items);
    // The user presses a key or a button (ends the waits that end on user input).
    void userInput() { waiters_.userInput(); }
    // Reads of this type fail (its owner cannot provide it), though the type stays listed.
    void setUnreadableType(std::string type) { unreadableType_ = std::move(type); }
    // The contents as values; a declared type without data is left out.
    std::vector<PasteboardItem> snapshot() const;
    // The plain text of the first item, if any.
    std::optional<std::string> firstString() const;

  private:
    struct Item {
        std::vector<std::pair<std::string, std::optional<Bytes>>> entries;
    };
    std::vector<Item> items_;
    std::int64_t changeCount_ = 0;
    PasteboardChangeWaiters waiters_;
    std::string unreadableType_;
};

}  // namespace platform::sim
