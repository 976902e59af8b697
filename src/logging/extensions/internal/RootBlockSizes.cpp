#include "logging/extensions/internal/RootBlockSizes.h"

#include <mntent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <memory>

namespace logging::internal {

RootBlockSizes probeRootBlockSizes(const std::string& mountTable) {
    RootBlockSizes sizes;
    std::unique_ptr<FILE, int (*)(FILE*)> table(::setmntent(mountTable.c_str(), "re"), ::endmntent);
    if (!table) return sizes;
    mntent entry{};
    char buffer[4096];
    while (::getmntent_r(table.get(), &entry, buffer, sizeof buffer) != nullptr) {
        if (std::string(entry.mnt_dir) != "/") continue;
        struct statvfs fs {};
        if (::statvfs(entry.mnt_dir, &fs) == 0) {
            const auto fundamental = fs.f_frsize != 0 ? fs.f_frsize : fs.f_bsize;
            if (fundamental != 0) sizes.fundamental = fundamental;
        }
        struct stat st {};
        if (::stat(entry.mnt_dir, &st) == 0 && st.st_blksize > 0) sizes.optimal = st.st_blksize;
        break;
    }
    return sizes;
}

}  // namespace logging::internal
