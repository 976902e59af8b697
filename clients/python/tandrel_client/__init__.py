"""Client of the tandrel-helper service: selection events, selected text, text insertion, pointer location.

    client = await tandrel_client.connect()
    client.on("selection", lambda: print("selected"))
    if await client.start_monitor():
        print(await client.selected_text())

`BlockingClient` offers the same methods for programs without an event loop.
"""

from .blocking import BlockingClient
from .client import DEFAULT_TIMEOUT, Client, connect
from .errors import Closed, NotRunning, ProtocolError, Refused, RequestTimeout, TandrelError, TooLarge, WentAway
from .path import SERVICE_NAME, service_path

__all__ = [
    "BlockingClient",
    "Client",
    "Closed",
    "DEFAULT_TIMEOUT",
    "NotRunning",
    "ProtocolError",
    "Refused",
    "RequestTimeout",
    "SERVICE_NAME",
    "TandrelError",
    "TooLarge",
    "WentAway",
    "connect",
    "service_path",
]
