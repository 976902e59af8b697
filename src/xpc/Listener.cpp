#include "xpc/Listener.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "xpc/internal/IoWatch.h"
#include "xpc/internal/ServicePath.h"

namespace xpc {
namespace {

// Bounded so that a flood of connections cannot hold the queue for long.
constexpr int kAcceptsPerWakeUp = 64;
// When out of descriptors, pause instead of spinning on a socket that stays readable.
constexpr auto kAcceptPause = std::chrono::seconds(1);

sockaddr_un addressOf(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

// Whether the open file `fd` is the one at `path`.
bool isSameFile(int fd, const std::string& path) {
    struct stat open {
    }, named{};
    return ::fstat(fd, &open) == 0 && ::lstat(path.c_str(), &named) == 0 && open.st_dev == named.st_dev &&
           open.st_ino == named.st_ino;
}

std::string errnoText(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

}  // namespace

Listener::Listener(std::string name, std::shared_ptr<dispatch::SerialQueue> queue,
                   DiagnosticHandler diagnostics)
    : name_(std::move(name)),
      queue_(queue ? std::move(queue) : dispatch::Queue::main()),
      diagnostics_(std::move(diagnostics)) {}

Listener::~Listener() {
    stop();
}

std::shared_ptr<Listener> Listener::create(const std::string& name,
                                           std::shared_ptr<dispatch::SerialQueue> target,
                                           DiagnosticHandler diagnostics) {
    std::shared_ptr<Listener> listener(new Listener(name, std::move(target), std::move(diagnostics)));
    // The variables are cleared so that processes we start do not take the sockets for theirs.
    const int passed = sd_listen_fds(/*unset_environment=*/1);
    const bool ok = passed > 0 ? listener->openActivatedSocket(passed) : listener->bindSocket();
    if (!ok) return nullptr;
    listener->reserve_.reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    return listener;
}

bool Listener::openActivatedSocket(int count) {
    for (int fd = SD_LISTEN_FDS_START; fd < SD_LISTEN_FDS_START + count; ++fd) {
        if (sd_is_socket_unix(fd, SOCK_STREAM, /*listening=*/1, nullptr, 0) <= 0) continue;
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        fd_.reset(fd);
        return true;
    }
    warn("Cannot publish service " + name_ +
         ": no socket passed by the service manager is a listening Unix stream socket");
    return false;
}

bool Listener::bindSocket() {
    std::string error;
    auto path = internal::ServicePath::resolve(name_, /*create=*/true, error);
    if (!path) {
        warn("Cannot publish service " + name_ + ": " + error);
        return false;
    }
    const std::string failure = "Cannot publish service " + name_ + " at " + *path + ": ";
    // The lock keeps two starting listeners from both replacing a stale socket and stealing each other's.
    const std::string lockPath = *path + ".lock";
    // A listener that ends removes its lock file: a lock taken on a file already removed is no lock, so
    // take it again on the file now at the path.
    for (bool locked = false; !locked;) {
        lock_.reset(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (!lock_) {
            warn(failure + errnoText("cannot open " + lockPath));
            return false;
        }
        if (::flock(lock_.get(), LOCK_EX | LOCK_NB) != 0) {
            warn(failure + (errno == EWOULDBLOCK ? "another listener is serving it" : errnoText("flock")));
            return false;
        }
        locked = isSameFile(lock_.get(), lockPath);
    }
    lockPath_ = lockPath;
    struct stat existing {};
    if (::lstat(path->c_str(), &existing) == 0) {
        if (!S_ISSOCK(existing.st_mode)) {
            warn(failure + "the path exists and is not a socket");
            return false;
        }
        internal::UniqueFd probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        const sockaddr_un address = addressOf(*path);
        if (::connect(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ||
            errno == EAGAIN) {
            warn(failure + "a running process is serving it");
            return false;
        }
        if (errno != ECONNREFUSED) {
            warn(failure + errnoText("cannot probe the existing socket"));
            return false;
        }
        // Nobody listens: a socket left behind by a process that ended.
        if (::unlink(path->c_str()) != 0 && errno != ENOENT) {
            warn(failure + errnoText("cannot remove the stale socket"));
            return false;
        }
    }
    fd_.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    const sockaddr_un address = addressOf(*path);
    if (!fd_ || ::bind(fd_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        warn(failure + errnoText("bind"));
        fd_.reset();
        return false;
    }
    path_ = *path;
    struct stat bound {};
    if (::chmod(path_.c_str(), 0600) != 0 || ::lstat(path_.c_str(), &bound) != 0 ||
        ::listen(fd_.get(), SOMAXCONN) != 0) {
        warn(failure + errnoText("cannot prepare the socket"));
        ::unlink(path_.c_str());
        path_.clear();
        stop();
        return false;
    }
    boundDevice_ = bound.st_dev;
    boundInode_ = bound.st_ino;
    return true;
}

void Listener::setConnectionHandler(ConnectionHandler handler) {
    handler_ = std::move(handler);
}

void Listener::setMaximumConnections(std::size_t count) {
    budget_->setMaximumConnections(count);
}

void Listener::setMaximumUnfinishedBytes(std::size_t bytes) {
    budget_->setMaximumUnfinishedBytes(bytes);
}

void Listener::setMaximumPendingOutputBytes(std::size_t bytes) {
    budget_->setMaximumPendingOutputBytes(bytes);
}

void Listener::setStallTimeout(std::chrono::milliseconds timeout) {
    budget_->setStallTimeout(timeout);
}

void Listener::resume() {
    internal::runOn(queue_, [self = shared_from_this()] {
        if (self->resumed_ || self->cancelled_) return;
        self->resumed_ = true;
        self->watch();
    });
}

void Listener::cancel() {
    internal::runOn(queue_, [self = shared_from_this()] { self->stop(); });
}

void Listener::deliverTerminationImminent() {
    internal::runOn(queue_, [self = shared_from_this()] {
        for (const auto& weak : self->connections_) {
            if (auto connection = weak.lock()) connection->deliverLater(ErrorCode::TerminationImminent);
        }
    });
}

void Listener::watch() {
    if (cancelled_ || !fd_) return;
    if (!reserve_) reserve_.reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    std::weak_ptr<Listener> weak = weak_from_this();
    io_ = internal::IoWatch::create(
        fd_.get(), queue_,
        [weak] {
            if (auto self = weak.lock()) self->onReadable();
        },
        [] {});
    if (!io_) warn("Cannot watch the socket of service " + name_ + "; no client can connect");
}

void Listener::onReadable() {
    if (cancelled_) return;
    for (int i = 0; i < kAcceptsPerWakeUp; ++i) {
        ucred credentials{};
        internal::UniqueFd client(::accept4(fd_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!client) {
            const bool outOfDescriptors = errno == EMFILE || errno == ENFILE;
            if (outOfDescriptors && reserve_) {
                if (turnAwayWithReserve()) continue;
                return;  // nobody waits any more
            }
            if (outOfDescriptors || errno == ENOBUFS || errno == ENOMEM) {
                warn("Cannot accept a connection to service " + name_ + ": " + std::strerror(errno) +
                     "; pausing for a second");
                internal::IoWatch::retire(std::move(io_), queue_);
                std::weak_ptr<Listener> weak = weak_from_this();
                queue_->asyncAfter(kAcceptPause, [weak] {
                    if (auto self = weak.lock()) self->watch();
                });
            }
            return;  // EAGAIN: all taken; other errors concern that one client only
        }
        refusingWithoutDescriptors_ = false;
        socklen_t length = sizeof credentials;
        if (::getsockopt(client.get(), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) {
            warn("Refused a connection to service " + name_ + ": " + errnoText("cannot identify the peer"));
            continue;
        }
        if (credentials.uid != ::getuid()) {
            warn("Refused a connection to service " + name_ + " from pid " + std::to_string(credentials.pid) +
                 " running as uid " + std::to_string(credentials.uid) + ": only uid " +
                 std::to_string(::getuid()) + " may connect");
            continue;
        }
        auto slot = budget_->tryOpen();
        if (!slot) {
            // Closed at once; one line for the whole burst, which ends when a peer is taken again.
            if (!refusingOverLimit_) {
                warn("Refusing new connections to service " + name_ + ": " +
                     std::to_string(budget_->maximumConnections()) + " are open, the most allowed");
            }
            refusingOverLimit_ = true;
            continue;
        }
        refusingOverLimit_ = false;
        auto connection = Connection::createAccepted(std::move(client), credentials.pid, credentials.uid,
                                                     diagnostics_, std::move(slot));
        std::erase_if(connections_, [](const auto& weak) { return weak.expired(); });
        connections_.push_back(connection);
        if (handler_) handler_(std::move(connection));
        if (cancelled_) return;
    }
}

bool Listener::turnAwayWithReserve() {
    if (!reserve_) return false;
    reserve_.reset();
    const bool tookOne = internal::UniqueFd(::accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC)).valid();
    // Closed at once: the peer reads the end of the stream instead of waiting in the queue.
    reserve_.reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (!tookOne) return false;
    if (!refusingWithoutDescriptors_) {
        warn("Closing new connections to service " + name_ + " at once: the process is out of descriptors");
    }
    refusingWithoutDescriptors_ = true;
    return true;
}

void Listener::stop() {
    cancelled_ = true;
    internal::IoWatch::retire(std::move(io_), queue_);
    fd_.reset();
    // Remove the socket only if it is still ours: a successor may have replaced it already.
    struct stat current {};
    if (!path_.empty() && ::lstat(path_.c_str(), &current) == 0 && current.st_dev == boundDevice_ &&
        current.st_ino == boundInode_) {
        ::unlink(path_.c_str());
    }
    path_.clear();
    // Removed while still held, so a starting listener never takes a lock on a file about to go.
    if (!lockPath_.empty() && isSameFile(lock_.get(), lockPath_)) ::unlink(lockPath_.c_str());
    lockPath_.clear();
    lock_.reset();
}

void Listener::warn(const std::string& text) const {
    if (diagnostics_) diagnostics_(text);
}

}  // namespace xpc
