"""A blocking front for programs without an asyncio loop."""

import asyncio
import concurrent.futures
import threading

from .client import _CLIENT_TIMEOUT, DEFAULT_TIMEOUT, connect
from .path import SERVICE_NAME


class BlockingClient:
    """The asyncio client on an event loop of its own thread; each method blocks until its answer.

    Connects on construction (raising NotRunning, Refused or RequestTimeout) and takes the same arguments as
    `connect`. Callbacks registered with `on` run one at a time, in order, on a thread of their own, so they may
    call this client's methods. Use it from any thread; call `close` (or use `with`) when done, which ends both
    threads.
    """

    def __init__(self, service_name=SERVICE_NAME, path=None, timeout=DEFAULT_TIMEOUT):
        self._loop = asyncio.new_event_loop()
        self._thread = threading.Thread(target=self._loop.run_forever, name="tandrel-client", daemon=True)
        self._thread.start()
        self._callbacks = concurrent.futures.ThreadPoolExecutor(1, thread_name_prefix="tandrel-callbacks")
        try:
            self._client = self._call(connect(service_name, path, timeout))
        except BaseException:
            self._stop()
            raise

    def __enter__(self):
        return self

    def __exit__(self, *exc_info):
        self.close()

    @property
    def close_reason(self):
        return self._client.close_reason

    def on(self, event, callback):
        """Calls `callback` for each "selection" event, or once with the reason when the connection is "closed"."""
        self._call(self._register(event, callback))

    def start_monitor(self, timeout=_CLIENT_TIMEOUT):
        return self._call(self._client.start_monitor(timeout))

    def is_permission_granted(self, timeout=_CLIENT_TIMEOUT):
        return self._call(self._client.is_permission_granted(timeout))

    def mouse_location(self, timeout=_CLIENT_TIMEOUT):
        return self._call(self._client.mouse_location(timeout))

    def selected_text(self, timeout=_CLIENT_TIMEOUT):
        return self._call(self._client.selected_text(timeout))

    def insert_text(self, text, timeout=_CLIENT_TIMEOUT):
        return self._call(self._client.insert_text(text, timeout))

    def close(self):
        """Ends the connection (waiting requests fail with Closed) and the client's threads. Callbacks already
        queued still run."""
        if self._loop.is_closed():
            return
        self._call(self._client.close())
        self._stop()

    async def _register(self, event, callback):
        self._client.on(event, lambda *args: self._callbacks.submit(callback, *args))

    def _call(self, coroutine):
        if threading.current_thread() is self._thread:
            coroutine.close()
            raise RuntimeError("a BlockingClient cannot be called from its own event loop's thread")
        return asyncio.run_coroutine_threadsafe(coroutine, self._loop).result()

    def _stop(self):
        self._loop.call_soon_threadsafe(self._loop.stop)
        self._thread.join()
        self._loop.close()
        # Not waiting: close may be called from a callback, which runs on that executor.
        self._callbacks.shutdown(wait=False)
