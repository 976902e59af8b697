#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace xpc::internal {

// Where the socket of a named service lives: `$XDG_RUNTIME_DIR/<name>` when the variable names an absolute
// directory, else `/tmp/<name>-<uid>/<name>` inside a private directory.
//
// The private directory must be a real directory (not a link) owned by the user with no access for group or
// others; anything else is refused, because another user could otherwise plant a socket the client would
// trust or read what the service writes.
class ServicePath {
  public:
    // The socket path, or empty with `error` set (bad name, path too long, unsafe directory). `create`
    // makes the private /tmp directory when it is missing (the listener); clients only check it.
    static std::optional<std::string> resolve(const std::string& name, bool create, std::string& error);

    // Checks (and with `create` makes, mode 0700) a private directory owned by `uid`.
    static bool ensurePrivateDirectory(const std::string& directory, uid_t uid, bool create,
                                       std::string& error);
};

}  // namespace xpc::internal
