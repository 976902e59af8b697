#pragma once

// A small tmpfs in a private mount namespace, for tests of what happens when a disk fills up. Call
// `PrivateTmpfs::setUp` from main before GoogleTest and before any thread exists (unshare(CLONE_NEWNS) needs
// an unshared fs context); it needs root and otherwise leaves a reason to skip with.

#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

class PrivateTmpfs {
  public:
    // `size` as tmpfs takes it, e.g. "256k".
    static void setUp(const char* size) {
        if (::geteuid() != 0) {
            skipReason() = "needs root to mount a small tmpfs in a private mount namespace";
            return;
        }
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            skipReason() = std::string("cannot enter a private mount namespace: ") + std::strerror(errno);
            return;
        }
        std::string dir = "/tmp/ddfull-XXXXXX";
        const std::string options = std::string("size=") + size + ",mode=0700";
        if (::mkdtemp(dir.data()) == nullptr ||
            ::mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) != 0) {
            skipReason() = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
            return;
        }
        mountPoint() = dir;
    }
    static void tearDown() {
        if (mountPoint().empty()) return;
        ::umount2(mountPoint().c_str(), MNT_DETACH);
        ::rmdir(mountPoint().c_str());
    }
    // Empty when the tmpfs could not be set up.
    static std::string& mountPoint() {
        static std::string path;
        return path;
    }
    static std::string& skipReason() {
        static std::string reason;
        return reason;
    }
};
