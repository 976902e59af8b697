#pragma once

#include <cstdint>
#include <string>

namespace logging::internal {

// Block sizes of the file system mounted at "/": the fundamental block size (statvfs f_frsize) and the
// preferred I/O size (stat st_blksize). Read from the mount table, whose first entry with the mount point
// exactly "/" is used; without one, or when it cannot be examined, the fallbacks 4096 and 1048576.
struct RootBlockSizes {
    std::uint64_t fundamental = 4096;
    std::int64_t optimal = 1048576;
};

RootBlockSizes probeRootBlockSizes(const std::string& mountTable = "/proc/self/mounts");

}  // namespace logging::internal
