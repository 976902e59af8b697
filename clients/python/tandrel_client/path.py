"""Where the service listens, and whether its socket may be trusted."""

import os
import stat

from .errors import NotRunning, Refused

SERVICE_NAME = "com.tandrel.helper"


def service_path(name=SERVICE_NAME, env=None):
    """`$XDG_RUNTIME_DIR/<name>` when that variable names an absolute path, else `/tmp/<name>-<uid>/<name>`.

    The /tmp directory must be the user's own and private (mode 0700, not a link): anyone else could otherwise
    put a socket there. Raises NotRunning when it does not exist and Refused when it is not safe.
    """
    if not name or name in (".", "..") or "/" in name:
        raise ValueError(f'invalid service name "{name}"')
    runtime = (os.environ if env is None else env).get("XDG_RUNTIME_DIR", "")
    if runtime.startswith("/"):
        return os.path.join(runtime, name)
    uid = os.getuid()
    directory = f"/tmp/{name}-{uid}"
    try:
        info = os.lstat(directory)
    except FileNotFoundError as error:
        raise NotRunning(f"{name} is not running ({directory} does not exist)") from error
    except OSError as error:
        raise Refused(f"cannot use {directory}: {error.strerror}") from error
    if not stat.S_ISDIR(info.st_mode):
        raise Refused(f"{directory} is not a directory")
    if info.st_uid != uid:
        raise Refused(f"{directory} belongs to uid {info.st_uid}, not to uid {uid} (another user)")
    if info.st_mode & 0o077:
        raise Refused(f"{directory} has mode {info.st_mode & 0o7777:04o}; it must be private to its owner (0700)")
    return os.path.join(directory, name)


def check_socket_owner(path, name):
    """Before connecting: the socket exists and belongs to this user (the service binds it as the user)."""
    try:
        info = os.lstat(path)
    except FileNotFoundError as error:
        raise NotRunning(f"{name} is not running (no socket at {path})") from error
    except OSError as error:
        raise NotRunning(f"{name} cannot be reached at {path}: {error.strerror}") from error
    if not stat.S_ISSOCK(info.st_mode):
        raise NotRunning(f"{name} is not running ({path} is not a socket)")
    if info.st_uid != os.getuid():
        raise Refused(
            f"refused {name} at {path}: it belongs to uid {info.st_uid}, not to uid {os.getuid()} (another user)")
