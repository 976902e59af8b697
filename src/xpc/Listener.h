#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dispatch/SerialQueue.h"
#include "xpc/Connection.h"
#include "xpc/Diagnostics.h"
#include "xpc/internal/ConnectionBudget.h"
#include "xpc/internal/UniqueFd.h"

namespace xpc {

namespace internal {
class IoWatch;
}

// Publishes a named service: listens on the service's Unix socket and hands every accepted client to the
// connection handler on the target queue (default: the main queue).
//
// The socket is the one passed by the service manager (socket activation) when there is one, else
// `$XDG_RUNTIME_DIR/<name>`, else `<name>` in the private directory `/tmp/<name>-<uid>/` (see ServicePath).
// Creation fails when the path is served by a live process or cannot be bound; a socket file nobody serves
// any more is replaced. Only peers running as our own user are accepted: others are closed before anything is
// read, with a warning through `diagnostics`.
//
// At most `maximumConnections` accepted connections are open at once (256 unless set); past that, new peers
// are closed at once, with one warning per burst of refusals. Unfinished frames of all accepted connections
// may buffer at most `maximumUnfinishedBytes` together (32 MiB unless set), and a frame that makes no
// progress for `stallTimeout` (5 s unless set) is dropped with its connection. The buffers of messages that
// wait for their peers to read them may take at most `maximumPendingOutputBytes` together (64 MiB unless
// set), so that clients that never read cannot make the service buffer one cap per connection. The connection
// that would go over, or that stalled, is closed with a warning. One descriptor is kept in reserve, so that
// when the process runs out of them new peers are still accepted and closed at once (one warning per burst)
// instead of waiting.
//
// Accepted connections come unresumed: the handler sets their queue and handler and resumes them (a
// connection it drops unresumed is closed). `deliverTerminationImminent` queues TerminationImminent to every
// accepted connection that is still open.
//
// Call `resume`, `cancel` and `deliverTerminationImminent` from any thread; destroy the listener on its
// target queue (or before it is resumed). Destroying or cancelling stops accepting and removes the socket
// file it bound and its lock file (a socket passed by the service manager is the manager's and stays);
// connections already accepted go on. Nothing here blocks.
class Listener : public std::enable_shared_from_this<Listener> {
  public:
    using ConnectionHandler = std::function<void(std::shared_ptr<Connection> connection)>;

    // Null when the service cannot be published; `diagnostics` has then been told why.
    static std::shared_ptr<Listener> create(const std::string& name,
                                            std::shared_ptr<dispatch::SerialQueue> target = nullptr,
                                            DiagnosticHandler diagnostics = {});
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // Only before `resume`.
    void setConnectionHandler(ConnectionHandler handler);
    void setMaximumConnections(std::size_t count);
    void setMaximumUnfinishedBytes(std::size_t bytes);
    void setMaximumPendingOutputBytes(std::size_t bytes);
    void setStallTimeout(std::chrono::milliseconds timeout);
    void resume();
    void cancel();
    void deliverTerminationImminent();

    // The socket path ("" for a socket passed by the service manager).
    const std::string& path() const { return path_; }

  private:
    Listener(std::string name, std::shared_ptr<dispatch::SerialQueue> queue, DiagnosticHandler diagnostics);
    bool openActivatedSocket(int count);
    bool bindSocket();
    void watch();
    void onReadable();
    // Out of descriptors: spends the reserve on taking one peer off the queue and closing it, then takes the
    // reserve back. False when no peer was waiting.
    bool turnAwayWithReserve();
    void stop();
    void warn(const std::string& text) const;

    const std::string name_;
    const std::shared_ptr<dispatch::SerialQueue> queue_;
    const DiagnosticHandler diagnostics_;
    std::string path_;
    std::string lockPath_;
    internal::UniqueFd lock_;
    internal::UniqueFd fd_;
    dev_t boundDevice_ = 0;
    ino_t boundInode_ = 0;

    // Target-queue only after `resume`.
    ConnectionHandler handler_;
    bool resumed_ = false;
    bool cancelled_ = false;
    std::unique_ptr<internal::IoWatch> io_;
    std::vector<std::weak_ptr<Connection>> connections_;
    std::shared_ptr<internal::ConnectionBudget> budget_ = internal::ConnectionBudget::create();
    internal::UniqueFd reserve_;  // spent only while accepting without descriptors
    bool refusingOverLimit_ = false;
    bool refusingWithoutDescriptors_ = false;
};

}  // namespace xpc
