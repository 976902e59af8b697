#pragma once

#include <string>
#include <utility>

namespace dispatch::internal {

// Owns one file descriptor; closes it on destruction. Move-only. The other components that hold descriptors
// (the message channel) use this one too.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    explicit operator bool() const { return valid(); }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1);

  private:
    int fd_ = -1;
};

// Throws std::system_error for the current errno. Only for set-up failures the process cannot work without
// (no epoll, no eventfd): there is nothing sensible to fall back to.
[[noreturn]] void throwErrno(const std::string& what);

// Retries a system call interrupted by a signal.
template <typename F>
auto retryOnEintr(F call) {
    for (;;) {
        auto rc = call();
        if (rc >= 0 || errno != EINTR) return rc;
    }
}

}  // namespace dispatch::internal
