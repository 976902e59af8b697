#!/bin/sh
# Runs a test as uid 65534 in a mount and network namespace of its own with a fresh /tmp: GNOME Shell, the
# helper, the test's client and its applications then share one unprivileged user (the Shell extension and the
# helper serve only their own user), and Xwayland's sockets collide with nobody's. Not root: runs it as it is.
if [ "$(id -u)" != 0 ]; then exec "$@"; fi
exec unshare --mount --net sh -c 'mount -t tmpfs -o mode=1777 tmpfs /tmp && mkdir -m 1777 /tmp/.X11-unix &&
  exec setpriv --reuid=65534 --regid=65534 --clear-groups env HOME=/tmp "$@"' sh "$@"
