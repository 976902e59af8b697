#include "xpc/Connection.h"

#include <malloc.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "xpc/FrameCodec.h"
#include "xpc/internal/IoWatch.h"
#include "xpc/internal/ServicePath.h"

namespace xpc {
namespace {

constexpr std::size_t kReadChunk = 64 * 1024;
// A peer that stops reading must not make us buffer without bound.
constexpr std::size_t kMaxPendingOutput = 64 * 1024 * 1024;
constexpr std::size_t kKeptOutputCapacity = 1024 * 1024;

// Frees `output`; a large buffer's pages go back to the system at once, which the allocator would otherwise
// keep for the next such buffer (tens of MiB after clients that did not read).
void release(std::vector<std::uint8_t>& output) {
    const bool large = output.capacity() > kKeptOutputCapacity;
    std::vector<std::uint8_t>().swap(output);
    if (large) ::malloc_trim(0);
}

}  // namespace

Connection::Connection(std::string serviceName, internal::UniqueFd fd, Peer peer,
                       DiagnosticHandler diagnostics)
    : serviceName_(std::move(serviceName)),
      diagnostics_(std::move(diagnostics)),
      queue_(dispatch::Queue::main()),
      peer_(peer),
      fd_(std::move(fd)) {}

Connection::~Connection() = default;

std::shared_ptr<Connection> Connection::connectToService(std::string name,
                                                         std::shared_ptr<dispatch::SerialQueue> target,
                                                         DiagnosticHandler diagnostics) {
    std::shared_ptr<Connection> connection(
        new Connection(std::move(name), internal::UniqueFd(), Peer{}, std::move(diagnostics)));
    if (target) connection->queue_ = std::move(target);
    return connection;
}

std::shared_ptr<Connection> Connection::createAccepted(
    internal::UniqueFd fd, pid_t pid, uid_t uid, DiagnosticHandler diagnostics,
    std::unique_ptr<internal::ConnectionBudget::Slot> slot) {
    std::shared_ptr<Connection> connection(
        new Connection("", std::move(fd), Peer{pid, uid}, std::move(diagnostics)));
    connection->slot_ = std::move(slot);
    return connection;
}

void Connection::setTargetQueue(std::shared_ptr<dispatch::SerialQueue> queue) {
    std::lock_guard lock(setupMutex_);
    if (!resumed_ && queue) queue_ = std::move(queue);
}

void Connection::setEventHandler(EventHandler handler) {
    std::lock_guard lock(setupMutex_);
    if (!resumed_) handler_ = std::make_shared<EventHandler>(std::move(handler));
}

std::shared_ptr<dispatch::SerialQueue> Connection::queue() const {
    std::lock_guard lock(setupMutex_);
    return queue_;
}

pid_t Connection::peerPid() const {
    std::lock_guard lock(setupMutex_);
    return peer_.pid;
}

uid_t Connection::peerUid() const {
    std::lock_guard lock(setupMutex_);
    return peer_.uid;
}

void Connection::resume() {
    {
        std::lock_guard lock(setupMutex_);
        if (resumed_) return;
        resumed_ = true;
    }
    internal::runOn(queue(), [self = shared_from_this()] { self->start(); });
}

void Connection::cancel() {
    internal::runOn(queue(), [self = shared_from_this()] { self->close(ErrorCode::ConnectionInvalid); });
}

void Connection::send(const Object& message) {
    std::string error;
    auto frame = FrameCodec::encode(message, &error);
    auto self = shared_from_this();
    if (!frame) {
        internal::runOn(queue(),
                        [self, error] { self->warn("Dropped a message that cannot be sent: " + error); });
        return;
    }
    internal::runOn(queue(),
                    [self, frame = std::move(*frame)]() mutable { self->enqueue(std::move(frame)); });
}

void Connection::deliverLater(ErrorCode code) {
    queue()->async([self = shared_from_this(), code] {
        if (self->state_ != State::Created) self->deliver(Object::error(code));
    });
}

void Connection::start() {
    if (state_ != State::Created) return;  // cancelled before it started
    if (isClient() && !connect()) {
        close(ErrorCode::ConnectionInvalid);
        return;
    }
    std::weak_ptr<Connection> weak = weak_from_this();
    io_ = internal::IoWatch::create(
        fd_.get(), queue_,
        [weak] {
            if (auto self = weak.lock()) self->onReadable();
        },
        [weak] {
            if (auto self = weak.lock()) self->onWritable();
        });
    if (!io_) {
        warn("Cannot watch the socket of " + peerName() + "; closing the connection");
        close(ErrorCode::ConnectionInvalid);
        return;
    }
    state_ = State::Open;
    self_ = shared_from_this();
    flush();
}

bool Connection::connect() {
    std::string error;
    auto path = internal::ServicePath::resolve(serviceName_, /*create=*/false, error);
    if (!path) {
        warn("Cannot connect to service " + serviceName_ + ": " + error);
        return false;
    }
    internal::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path->c_str(), path->size() + 1);
    if (!fd || ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        warn("Cannot connect to service " + serviceName_ + " at " + *path + ": " + std::strerror(errno));
        return false;
    }
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) {
        warn("Cannot identify the process serving " + *path + ": " + std::strerror(errno));
        return false;
    }
    // Only a service of our own user may receive what we send.
    if (credentials.uid != ::getuid()) {
        warn("Refusing service " + serviceName_ + " at " + *path + ": it runs as uid " +
             std::to_string(credentials.uid) + ", not as uid " + std::to_string(::getuid()));
        return false;
    }
    {
        std::lock_guard lock(setupMutex_);
        peer_ = Peer{credentials.pid, credentials.uid};
    }
    fd_ = std::move(fd);
    return true;
}

void Connection::onReadable() {
    if (state_ != State::Open) return;
    std::uint8_t buffer[kReadChunk];
    const ssize_t received = ::recv(fd_.get(), buffer, sizeof buffer, 0);
    if (received < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
        if (errno != ECONNRESET) warn("Reading from " + peerName() + " failed: " + std::strerror(errno));
        close(isClient() ? ErrorCode::ConnectionInterrupted : ErrorCode::ConnectionInvalid);
        return;
    }
    if (received == 0) {
        if (auto truncated = decoder_.finish())
            warn("Connection from " + peerName() + " ended with a " + *truncated);
        close(isClient() ? ErrorCode::ConnectionInterrupted : ErrorCode::ConnectionInvalid);
        return;
    }
    decoder_.append(buffer, static_cast<std::size_t>(received));
    Object message;
    while (state_ == State::Open) {
        const auto status = decoder_.next(message);
        if (status == FrameDecoder::Status::NeedMore) break;
        if (status == FrameDecoder::Status::Error) {
            warn("Closing the connection " + std::string(isClient() ? "to " : "from ") + peerName() + ": " +
                 decoder_.error());
            close(isClient() ? ErrorCode::ConnectionInterrupted : ErrorCode::ConnectionInvalid);
            break;
        }
        deliver(message);
    }
    trackUnfinished();
}

void Connection::trackUnfinished() {
    if (!slot_ || state_ != State::Open) return;
    const std::size_t buffered = decoder_.bufferedBytes();
    if (!slot_->holdUnfinished(buffered)) {
        warn("Closing the connection from " + peerName() +
             ": unfinished frames of all connections would take " + "more than " +
             std::to_string(slot_->maximumUnfinishedBytes()) + " bytes");
        close(ErrorCode::ConnectionInvalid);
        return;
    }
    if (buffered == 0) return;
    lastProgress_ = std::chrono::steady_clock::now();
    if (!stallCheckArmed_) armStallCheck(slot_->stallTimeout());
}

void Connection::armStallCheck(std::chrono::nanoseconds delay) {
    stallCheckArmed_ = true;
    std::weak_ptr<Connection> weak = weak_from_this();
    queue_->asyncAfter(delay, [weak] {
        if (auto self = weak.lock()) self->checkStall();
    });
}

void Connection::checkStall() {
    stallCheckArmed_ = false;
    if (!slot_ || state_ != State::Open || decoder_.bufferedBytes() == 0) return;
    const auto timeout = slot_->stallTimeout();
    const auto waited = std::chrono::steady_clock::now() - lastProgress_;
    if (waited < timeout) {
        armStallCheck(timeout - waited);
        return;
    }
    warn("Closing the connection from " + peerName() + ": a frame stopped arriving (" +
         std::to_string(decoder_.bufferedBytes()) + " bytes buffered, nothing more for " +
         std::to_string(timeout.count()) + " ms)");
    close(ErrorCode::ConnectionInvalid);
}

void Connection::onWritable() {
    if (state_ == State::Open) flush();
}

void Connection::enqueue(std::vector<std::uint8_t> frame) {
    if (state_ == State::Interrupted || state_ == State::Closed || outputRefused_) return;
    // Drop what the peer took once that is at least half the buffer: a peer that reads steadily but never
    // quite catches up would otherwise keep everything ever sent to it.
    if (outputOffset_ > 0 && outputOffset_ >= output_.size() - outputOffset_) {
        output_.erase(output_.begin(), output_.begin() + static_cast<std::ptrdiff_t>(outputOffset_));
        outputOffset_ = 0;
    }
    const bool overOwnCap = output_.size() - outputOffset_ + frame.size() > kMaxPendingOutput;
    if (overOwnCap || (slot_ && !slot_->holdPendingOutput(output_.size() + frame.size()))) {
        warn("Closing the connection " + std::string(isClient() ? "to " : "from ") + peerName() + ": " +
             (overOwnCap ? std::string("more than 64 MiB of messages wait for the peer to read them")
                         : "unread messages of all connections would take more than " +
                               std::to_string(slot_->maximumPendingOutputBytes()) + " bytes"));
        release(output_);
        outputOffset_ = 0;
        outputRefused_ = true;
        if (slot_) slot_->holdPendingOutput(0);
        // The read side sees the end and closes the connection outside of this call.
        if (fd_) ::shutdown(fd_.get(), SHUT_RDWR);
        return;
    }
    output_.insert(output_.end(), frame.begin(), frame.end());
    if (state_ == State::Open) flush();
}

void Connection::flush() {
    while (outputOffset_ < output_.size()) {
        const ssize_t sent = ::send(fd_.get(), output_.data() + outputOffset_, output_.size() - outputOffset_,
                                    MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            outputOffset_ += static_cast<std::size_t>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            io_->setWantWrite(true);
            return;
        }
        // The peer is gone. Reading notices the end too and closes the connection, outside of this call.
        ::shutdown(fd_.get(), SHUT_RDWR);
        break;
    }
    output_.clear();
    outputOffset_ = 0;
    if (slot_) slot_->holdPendingOutput(0);
    if (output_.capacity() > kKeptOutputCapacity) release(output_);
    io_->setWantWrite(false);
}

void Connection::deliver(const Object& event) {
    // A copy, so that a handler that cancels (and so releases itself) finishes safely.
    auto handler = handler_;
    if (handler && *handler) (*handler)(event);
}

void Connection::close(ErrorCode finalEvent) {
    if (state_ == State::Closed) return;
    if (state_ == State::Interrupted && finalEvent != ErrorCode::ConnectionInvalid) return;
    internal::IoWatch::retire(std::move(io_), queue_);
    fd_.reset();
    slot_.reset();
    decoder_ = FrameDecoder();
    release(output_);
    outputOffset_ = 0;
    state_ = finalEvent == ErrorCode::ConnectionInvalid ? State::Closed : State::Interrupted;
    self_.reset();
    // Queued rather than called here: `cancel` may come from inside the handler.
    queue_->async([self = shared_from_this(), finalEvent] {
        self->deliver(Object::error(finalEvent));
        if (finalEvent == ErrorCode::ConnectionInvalid) self->handler_.reset();
    });
}

void Connection::warn(const std::string& text) const {
    if (diagnostics_) diagnostics_(text);
}

std::string Connection::peerName() const {
    if (isClient()) return "service " + serviceName_;
    return "pid " + std::to_string(peerPid());
}

}  // namespace xpc
