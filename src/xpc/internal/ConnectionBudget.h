#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>

namespace xpc::internal {

// What the connections accepted by one listener may take together: how many may be open at once, how many
// bytes of unfinished frames and of messages their peers have not read yet they may buffer in all, and how
// long a frame may stall before its connection is dropped. Shared by the listener and its connections, which
// may run on different queues: thread-safe.
//
// A connection holds a Slot from acceptance until it closes (or is destroyed); the slot returns what it held.
class ConnectionBudget : public std::enable_shared_from_this<ConnectionBudget> {
  public:
    static constexpr std::size_t kDefaultMaximumConnections = 256;
    static constexpr std::size_t kDefaultMaximumUnfinishedBytes = 32 * 1024 * 1024;
    static constexpr std::size_t kDefaultMaximumPendingOutputBytes = 64 * 1024 * 1024;
    static constexpr std::chrono::milliseconds kDefaultStallTimeout{5000};

    class Slot {
      public:
        explicit Slot(std::shared_ptr<ConnectionBudget> budget) : budget_(std::move(budget)) {}
        ~Slot();
        Slot(const Slot&) = delete;
        Slot& operator=(const Slot&) = delete;
        // Records that the connection now buffers `bytes` of unfinished frames; false (nothing recorded
        // beyond what was held) when that would take all connections over the limit.
        bool holdUnfinished(std::size_t bytes);
        // The same for the buffer of messages that wait for the peer to read them.
        bool holdPendingOutput(std::size_t bytes);
        std::chrono::milliseconds stallTimeout() const { return budget_->stallTimeout(); }
        std::size_t maximumUnfinishedBytes() const { return budget_->maximumUnfinishedBytes_.load(); }
        std::size_t maximumPendingOutputBytes() const { return budget_->maximumPendingOutputBytes_.load(); }

      private:
        const std::shared_ptr<ConnectionBudget> budget_;
        std::size_t held_ = 0;
        std::size_t heldOutput_ = 0;
    };

    static std::shared_ptr<ConnectionBudget> create() { return std::make_shared<ConnectionBudget>(); }

    // A slot for one more connection, or null when the most allowed are open.
    std::unique_ptr<Slot> tryOpen();

    void setMaximumConnections(std::size_t count) { maximumConnections_.store(count); }
    std::size_t maximumConnections() const { return maximumConnections_.load(); }
    void setMaximumUnfinishedBytes(std::size_t bytes) { maximumUnfinishedBytes_.store(bytes); }
    void setMaximumPendingOutputBytes(std::size_t bytes) { maximumPendingOutputBytes_.store(bytes); }
    void setStallTimeout(std::chrono::milliseconds timeout) { stallTimeoutMs_.store(timeout.count()); }
    std::chrono::milliseconds stallTimeout() const {
        return std::chrono::milliseconds(stallTimeoutMs_.load());
    }

  private:
    // Moves what `held` records to `bytes` within `total`; false (unchanged) when that would pass `limit`.
    static bool hold(std::atomic<std::size_t>& total, const std::atomic<std::size_t>& limit,
                     std::size_t& held, std::size_t bytes);

    std::atomic<std::size_t> maximumConnections_{kDefaultMaximumConnections};
    std::atomic<std::size_t> maximumUnfinishedBytes_{kDefaultMaximumUnfinishedBytes};
    std::atomic<std::size_t> maximumPendingOutputBytes_{kDefaultMaximumPendingOutputBytes};
    std::atomic<std::chrono::milliseconds::rep> stallTimeoutMs_{kDefaultStallTimeout.count()};
    std::atomic<std::size_t> open_{0};
    std::atomic<std::size_t> unfinished_{0};
    std::atomic<std::size_t> pendingOutput_{0};
};

}  // namespace xpc::internal
