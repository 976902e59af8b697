#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dispatch/RunLoop.h"
#include "platform/PasteboardItem.h"
#include "platform/wayland/internal/Connection.h"

namespace wayland::internal {

enum class Selection { Clipboard = 0, Primary = 1 };

// The seat's CLIPBOARD and PRIMARY selections through data control (the standard protocol where the
// compositor offers it, else the wlroots one): what is on offer (MIME types), reading one type with a bounded
// wait, and serving contents of our own until another client takes the selection. Needs no window and no
// focus.
//
// Who calls it: the main thread, which also dispatches the connection's events (change handlers run from
// there). `read` blocks for at most its timeout; it never waits for this process: contents it serves itself
// are answered from memory. Served data is written without blocking, driven by the main run loop, so a slow
// reader never stalls the main thread.
class DataControl {
  public:
    using Contents = std::vector<std::pair<std::string, platform::Bytes>>;
    using ChangeHandler = std::function<void(Selection)>;

    // Null when the compositor offers no data control with PRIMARY (`why` says so).
    static std::unique_ptr<DataControl> create(Connection& connection, std::string* why = nullptr);
    // The protocol in use, for log lines.
    std::string protocolName() const;
    ~DataControl();
    DataControl(const DataControl&) = delete;
    DataControl& operator=(const DataControl&) = delete;

    // Called after each new offer of either selection (also for our own and for an emptied selection).
    int addChangeHandler(ChangeHandler handler);
    void removeChangeHandler(int id);

    // The MIME types on offer in the owner's order; empty when the selection is empty.
    std::vector<std::string> types(Selection selection) const;
    // Whether the selection on offer is the one this object serves.
    bool isOwn(Selection selection) const;
    // Moves at every new offer of the selection.
    std::uint64_t serial(Selection selection) const;

    // One type's data; nothing when the type is not offered, the owner fails or does not finish within
    // `timeout`.
    std::optional<platform::Bytes> read(Selection selection, std::string_view type,
                                        std::chrono::milliseconds timeout);
    // The selection as UTF-8 text through the usual text types; nothing when it offers none.
    std::optional<std::string> readText(Selection selection, std::chrono::milliseconds timeout);

    // Takes the selection and serves `contents` (types in this order) until another client takes it; with an
    // empty list the selection is ours with nothing on offer. False when the connection broke.
    bool serve(Selection selection, Contents contents);

  private:
    // The protocol's requests; its events come back through the entry points below. Both protocols have the
    // same messages, so everything else is shared.
    class Binding;
    template <typename Protocol>
    class ProtocolBinding;

    // Entry points of the protocol's events.
    void offerAnnounced(wl_proxy* offer);
    void offerType(wl_proxy* offer, const char* type);
    void selectionOffered(Selection selection, wl_proxy* offer);
    void deviceFinished();
    void sendRequested(wl_proxy* source, const char* type, int fd);
    void sourceCancelled(wl_proxy* source);

    struct Offer {
        wl_proxy* proxy = nullptr;
        std::vector<std::string> types;
    };
    struct Source {
        wl_proxy* proxy = nullptr;
        std::shared_ptr<const Contents> contents;
    };
    class Writer;

    DataControl(Connection& connection, std::unique_ptr<Binding> binding);
    void dropSource(Selection selection);
    void startWriter(std::shared_ptr<const Contents> contents, std::size_t index, int fd);

    Connection& connection_;
    std::unique_ptr<Binding> binding_;
    // Offers announced but not yet assigned to a selection.
    std::map<wl_proxy*, std::vector<std::string>> announced_;
    Offer current_[2];
    Source source_[2];
    std::uint64_t serial_[2] = {0, 0};
    std::map<int, ChangeHandler> handlers_;
    int nextHandler_ = 0;
    std::list<std::unique_ptr<Writer>> writers_;
};

}  // namespace wayland::internal
