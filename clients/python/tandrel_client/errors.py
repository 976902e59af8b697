"""The errors of the client; each carries the same `code` as the Node.js client's."""


class TandrelError(Exception):
    code = "TANDREL"


class NotRunning(TandrelError):
    """No service listens on the socket (no socket file, or nobody accepts on it)."""

    code = "NOT_RUNNING"


class Refused(TandrelError):
    """The service runs as another user, or its /tmp directory is not private: nothing was sent."""

    code = "REFUSED"


class WentAway(TandrelError):
    """The service closed the connection (it stopped, or it refused this client)."""

    code = "WENT_AWAY"


class RequestTimeout(TandrelError, TimeoutError):
    """No answer within the timeout; the connection stays usable."""

    code = "TIMEOUT"


class ProtocolError(TandrelError):
    """The service sent something this client cannot read; the connection is closed."""

    code = "PROTOCOL"


class TooLarge(TandrelError, ValueError):
    """The request would exceed the service's frame limit (8 MiB); nothing was sent."""

    code = "TOO_LARGE"


class Closed(TandrelError):
    """The client was closed by its owner."""

    code = "CLOSED"
