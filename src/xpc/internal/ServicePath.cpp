#include "xpc/internal/ServicePath.h"

#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace xpc::internal {
namespace {

bool isValidName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

}  // namespace

std::optional<std::string> ServicePath::resolve(const std::string& name, bool create, std::string& error) {
    if (!isValidName(name)) {
        error = "invalid service name \"" + name + "\"";
        return std::nullopt;
    }
    std::string path;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        path = std::string(runtime) + "/" + name;
    } else {
        const uid_t uid = ::getuid();
        const std::string directory = "/tmp/" + name + "-" + std::to_string(uid);
        if (!ensurePrivateDirectory(directory, uid, create, error)) return std::nullopt;
        path = directory + "/" + name;
    }
    if (path.size() >= sizeof(sockaddr_un{}.sun_path)) {
        error = "socket path " + path + " is too long";
        return std::nullopt;
    }
    return path;
}

bool ServicePath::ensurePrivateDirectory(const std::string& directory, uid_t uid, bool create,
                                         std::string& error) {
    if (create && ::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "cannot create " + directory + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (::lstat(directory.c_str(), &info) != 0) {
        error = "cannot use " + directory + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        error = directory + " is not a directory";
        return false;
    }
    if (info.st_uid != uid) {
        error = directory + " is owned by uid " + std::to_string(info.st_uid) + ", not by uid " +
                std::to_string(uid);
        return false;
    }
    if ((info.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        error = directory + " has mode " + mode + "; it must be private to its owner (0700)";
        return false;
    }
    return true;
}

}  // namespace xpc::internal
