#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dispatch/SerialQueue.h"
#include "xpc/Diagnostics.h"
#include "xpc/FrameDecoder.h"
#include "xpc/Object.h"
#include "xpc/internal/ConnectionBudget.h"
#include "xpc/internal/UniqueFd.h"

namespace xpc {

class Listener;
namespace internal {
class IoWatch;
}

// One end of a message channel: a client's connection to a named service, or a connection a Listener
// accepted.
//
// Use: set the target queue (default: the main queue) and the event handler, then `resume`; nothing is read
// before that. Then:
//  1. Every message of the peer reaches the handler on the target queue, in the order it was sent, one at a
//     time.
//  2. Errors reach the same handler as error objects. ConnectionInvalid is the last event: the connection
//     was cancelled, the peer (a client) went away or sent a frame that is not a valid message, or the
//     service could not be reached. ConnectionInterrupted tells a client that the service went away; a client
//     connection is then over too and only its `cancel` (answered by ConnectionInvalid) remains.
//     TerminationImminent warns that the service is about to exit.
//  3. After ConnectionInvalid the handler is released, so it may hold the connection strongly.
//
// `send`, `cancel` and `resume` are thread-safe and never block. Messages sent from one thread leave in the
// order of the calls; a message that cannot be encoded (see FrameCodec) is dropped with a warning. Messages
// still unsent when the connection ends are dropped, as are messages sent afterwards.
//
// Lifetime: a resumed connection keeps itself alive until its transport closes; drop it with `cancel`.
// The target queue must not be blocked waiting for the connection (there is nothing to wait for: nothing here
// blocks).
class Connection : public std::enable_shared_from_this<Connection> {
  public:
    using EventHandler = std::function<void(const Object& event)>;

    // A client connection to the service `name`; it connects at `resume`.
    static std::shared_ptr<Connection> connectToService(
        std::string name, std::shared_ptr<dispatch::SerialQueue> target = nullptr,
        DiagnosticHandler diagnostics = {});
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Both only before `resume`; later calls are ignored.
    void setTargetQueue(std::shared_ptr<dispatch::SerialQueue> queue);
    void setEventHandler(EventHandler handler);
    // Starts delivery (and, for a client, connects). A second call is ignored.
    void resume();
    // Ends the connection; ConnectionInvalid follows on the target queue unless it was already delivered.
    void cancel();
    void send(const Object& message);

    // The peer's process and user ids: known at once for accepted connections, after connecting for clients
    // (-1 before).
    pid_t peerPid() const;
    uid_t peerUid() const;

  private:
    friend class Listener;
    enum class State { Created, Open, Interrupted, Closed };
    struct Peer {
        pid_t pid = -1;
        uid_t uid = static_cast<uid_t>(-1);
    };

    Connection(std::string serviceName, internal::UniqueFd fd, Peer peer, DiagnosticHandler diagnostics);
    static std::shared_ptr<Connection> createAccepted(internal::UniqueFd fd, pid_t pid, uid_t uid,
                                                      DiagnosticHandler diagnostics,
                                                      std::unique_ptr<internal::ConnectionBudget::Slot> slot);
    // Queued to the target queue, after anything queued before.
    void deliverLater(ErrorCode code);

    std::shared_ptr<dispatch::SerialQueue> queue() const;
    bool isClient() const { return !serviceName_.empty(); }
    // All below run on the target queue.
    void start();
    bool connect();
    void onReadable();
    void onWritable();
    // Accepted connections: charge the unfinished frame to the listener's budget and drop a frame that
    // stops arriving.
    void trackUnfinished();
    void armStallCheck(std::chrono::nanoseconds delay);
    void checkStall();
    void enqueue(std::vector<std::uint8_t> frame);
    void flush();
    void deliver(const Object& event);
    // Ends the transport and queues `finalEvent` (Interrupted for a client whose service went away, else
    // Invalid, after which the handler is released).
    void close(ErrorCode finalEvent);
    void warn(const std::string& text) const;
    std::string peerName() const;

    const std::string serviceName_;  // empty for accepted connections
    const DiagnosticHandler diagnostics_;

    mutable std::mutex setupMutex_;
    std::shared_ptr<dispatch::SerialQueue> queue_;  // guarded; fixed once resumed
    std::shared_ptr<EventHandler> handler_;         // guarded until resumed, then queue-only
    bool resumed_ = false;                          // guarded
    Peer peer_;                                     // guarded (a client learns it on the queue)

    // Target-queue only.
    State state_ = State::Created;
    internal::UniqueFd fd_;
    std::unique_ptr<internal::IoWatch> io_;
    FrameDecoder decoder_;
    std::unique_ptr<internal::ConnectionBudget::Slot> slot_;  // accepted connections, until closed
    std::chrono::steady_clock::time_point lastProgress_;      // last read that left a frame unfinished
    bool stallCheckArmed_ = false;
    std::vector<std::uint8_t> output_;
    std::size_t outputOffset_ = 0;
    bool outputRefused_ = false;  // cut off for unread messages: later ones are dropped, unwarned
    std::shared_ptr<Connection> self_;
};

}  // namespace xpc
