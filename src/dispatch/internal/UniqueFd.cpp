#include "dispatch/internal/UniqueFd.h"

#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace dispatch::internal {

void UniqueFd::reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

void throwErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace dispatch::internal
