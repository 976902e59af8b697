"""The asyncio client of the service."""

import asyncio
import collections
import inspect
import os
import socket
import struct

from .errors import Closed, NotRunning, ProtocolError, Refused, RequestTimeout, WentAway
from .path import SERVICE_NAME, check_socket_owner, service_path
from .wire import FrameReader, encode_request

DEFAULT_TIMEOUT = 5.0
_READ_CHUNK = 64 * 1024
# A request's timeout when the caller gives none: the client's own.
_CLIENT_TIMEOUT = object()


def _member(data, kind, key, types):
    if data is None:
        raise ProtocolError(f'the {kind} answer has no "data"')
    value = data.get(key)
    # JSON true is no number here, though Python's bool is an int.
    if not isinstance(value, types) or (bool not in types and isinstance(value, bool)):
        raise ProtocolError(f'the {kind} answer\'s "{key}" is {value!r}, not {" or ".join(t.__name__ for t in types)}')
    return value


# What each answer kind yields, read from its JSON object.
_ANSWERS = {
    "StartMonitor": lambda data: _member(data, "StartMonitor", "result", (bool,)),
    "IsPermissionGranted": lambda data: _member(data, "IsPermissionGranted", "result", (bool,)),
    "MouseLocation": lambda data: (
        _member(data, "MouseLocation", "x", (int, float)),
        _member(data, "MouseLocation", "y", (int, float)),
    ),
    "SelectedText": lambda data: _member(data, "SelectedText", "content", (str,)),
    "InsertText": lambda data: _member(data, "InsertText", "result", (bool,)),
}


async def connect(service_name=SERVICE_NAME, path=None, timeout=DEFAULT_TIMEOUT):
    """Connects to the service; raises NotRunning, Refused or RequestTimeout.

    `path` defaults to the service's socket (see service_path); `timeout` (seconds, None for none) bounds the
    connection and, by default, each request.
    """
    path = path or service_path(service_name)
    check_socket_owner(path, service_name)
    sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    try:
        sock.setblocking(False)
        try:
            await asyncio.wait_for(asyncio.get_running_loop().sock_connect(sock, path), timeout)
        except asyncio.TimeoutError:
            raise RequestTimeout(f"{service_name} did not accept the connection within {timeout} s") from None
        except PermissionError as error:
            raise Refused(f"refused access to {path} ({error.strerror})") from error
        except OSError as error:
            raise NotRunning(f"{service_name} is not running ({error.strerror})") from error
        # Only a service of our own user may receive what we send.
        _, uid, _ = struct.unpack("3i", sock.getsockopt(socket.SOL_SOCKET, socket.SO_PEERCRED, struct.calcsize("3i")))
        if uid != os.getuid():
            raise Refused(
                f"refused {service_name} at {path}: it runs as uid {uid}, not as uid {os.getuid()} (another user)")
        reader, writer = await asyncio.open_unix_connection(sock=sock)
    except BaseException:
        sock.close()
        raise
    return Client(reader, writer, service_name, timeout)


class Client:
    """A connection to the service, made by `connect`; use it on the event loop that made it.

    Each request is a coroutine returning its answer. Answers carry no request identifier: the service answers
    each request with a message of the same type, so an answer settles the oldest waiting request of its type.
    Answers of different types may come in another order than their requests (a "SelectedText" that needs a
    simulated copy is answered about 50 ms later, and requests sent meanwhile are answered first). A request
    that timed out or was cancelled keeps its place, so its late answer is not taken for a newer request's.

    Events, registered with `on`: "selection" (no argument; the user selected text, read it with
    `selected_text`; only after `start_monitor` returned True) and "closed" (once, with the TandrelError that
    ended the connection: Closed, WentAway or ProtocolError). Callbacks run on the event loop; a coroutine
    function's coroutine is run as a task. Reconnecting is the caller's: `connect` again, then
    `start_monitor` again.
    """

    def __init__(self, reader, writer, service_name, timeout):
        self._reader = reader
        self._writer = writer
        self._name = service_name
        self._timeout = timeout
        self._frames = FrameReader()
        self._pending = collections.defaultdict(collections.deque)  # type -> futures, oldest first
        self._listeners = {"selection": [], "closed": []}
        self._tasks = set()
        self.close_reason = None
        self._reading = asyncio.get_running_loop().create_task(self._read())

    async def __aenter__(self):
        return self

    async def __aexit__(self, *exc_info):
        await self.close()

    def on(self, event, callback):
        """Calls `callback` for each "selection" event, or once with the reason when the connection is "closed"."""
        if event not in self._listeners:
            raise ValueError(f'unknown event "{event}" (known: "selection", "closed")')
        self._listeners[event].append(callback)

    async def start_monitor(self, timeout=_CLIENT_TIMEOUT):
        """Asks the service to watch for selections and send this client "selection" events; returns whether it
        may monitor input (False: no monitoring, no events)."""
        return await self._request("StartMonitor", None, timeout)

    async def is_permission_granted(self, timeout=_CLIENT_TIMEOUT):
        """Whether the service may monitor and synthesise input on this desktop."""
        return await self._request("IsPermissionGranted", None, timeout)

    async def mouse_location(self, timeout=_CLIENT_TIMEOUT):
        """The pointer's position (x, y) in pixels, origin at the bottom left of the primary screen."""
        return await self._request("MouseLocation", None, timeout)

    async def selected_text(self, timeout=_CLIENT_TIMEOUT):
        """The text selected in the frontmost application; "" when nothing is selected or it cannot be read."""
        return await self._request("SelectedText", None, timeout)

    async def insert_text(self, text, timeout=_CLIENT_TIMEOUT):
        """Pastes `text` into the frontmost application (it stays on the clipboard). True once pasted; False
        (at once) when the service may not synthesise input. TooLarge for a text above the frame limit."""
        if not isinstance(text, str):
            raise TypeError("insert_text takes a str")
        return await self._request("InsertText", text, timeout)

    async def close(self):
        """Ends the connection; waiting requests fail with Closed."""
        self._shut_down(Closed(f"the connection to {self._name} was closed by its owner"))
        try:
            await self._writer.wait_closed()
        except OSError:
            pass  # already broken: it is closed all the same
        await asyncio.gather(self._reading, return_exceptions=True)

    async def _request(self, kind, text, timeout):
        if self.close_reason is not None:
            raise self._unanswered(kind)
        frame = encode_request(kind, text)
        future = asyncio.get_running_loop().create_future()
        self._pending[kind].append(future)
        self._writer.write(frame)
        seconds = self._timeout if timeout is _CLIENT_TIMEOUT else timeout
        try:
            # On timeout the future is cancelled but stays queued for the late answer.
            return await asyncio.wait_for(future, seconds)
        except asyncio.TimeoutError:
            raise RequestTimeout(f"no {kind} answer from {self._name} within {seconds} s") from None

    async def _read(self):
        try:
            while True:
                chunk = await self._reader.read(_READ_CHUNK)
                if not chunk:
                    partial = " in the middle of a message" if self._frames.buffered_bytes else ""
                    self._shut_down(WentAway(f"{self._name} went away{partial}"))
                    return
                for kind, data in self._frames.feed(chunk):
                    self._dispatch(kind, data)
        except ProtocolError as error:
            self._shut_down(error)
        except OSError as error:
            self._shut_down(WentAway(f"{self._name} went away ({error.strerror or error})"))

    def _dispatch(self, kind, data):
        if kind == "SelectionEvent":
            self._emit("selection")
            return
        read = _ANSWERS.get(kind)
        waiting = self._pending.get(kind)
        if read is None or not waiting:
            return  # a kind this client does not know, or nothing of that kind was asked
        future = waiting.popleft()
        if future.done():
            return  # its request timed out or was cancelled
        try:
            future.set_result(read(data))
        except ProtocolError as error:
            future.set_exception(error)

    def _emit(self, event, *args):
        loop = asyncio.get_running_loop()
        for callback in list(self._listeners[event]):
            # Each on its own turn of the loop: a callback that raises costs nothing else.
            loop.call_soon(self._run_callback, callback, args)

    def _run_callback(self, callback, args):
        result = callback(*args)
        if inspect.isawaitable(result):
            task = asyncio.ensure_future(result)
            self._tasks.add(task)
            task.add_done_callback(self._tasks.discard)

    def _shut_down(self, reason):
        if self.close_reason is not None:
            return
        self.close_reason = reason
        for kind, futures in self._pending.items():
            for future in futures:
                if not future.done():
                    future.set_exception(self._unanswered(kind))
        self._pending.clear()
        self._writer.close()
        if self._reading is not asyncio.current_task():
            self._reading.cancel()
        self._emit("closed", reason)

    def _unanswered(self, kind):
        reason = self.close_reason
        error = type(reason)(f"{reason}; {kind} got no answer")
        error.__cause__ = reason
        return error
