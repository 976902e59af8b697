"""The framing of the service's socket.

A frame is a 4-byte big-endian body length, then one MessagePack map with string keys. Requests carry "type"
(str) and, for "InsertText", "data" (str); answers and events carry "type" (str) and "data" (bin): a compact
UTF-8 JSON object that repeats the type.
"""

import json
import struct

import msgpack

from .errors import ProtocolError, TooLarge

HEADER_SIZE = 4
# The service closes a connection that announces a longer body; it sends none longer either.
MAX_BODY_SIZE = 8 * 1024 * 1024


def encode_request(kind, text=None):
    """One request as a whole frame; TooLarge when the body would exceed the service's limit."""
    message = {"type": kind} if text is None else {"type": kind, "data": text}
    body = msgpack.packb(message, use_bin_type=True)
    if len(body) > MAX_BODY_SIZE:
        raise TooLarge(
            f"the {kind} request encodes to {len(body)} bytes, more than the service's limit of {MAX_BODY_SIZE}"
        )
    return struct.pack(">I", len(body)) + body


class FrameReader:
    """Splits the byte stream from the service into messages, each a (type, data) pair with data the parsed
    JSON object (None when the message has no "data"). Faults are final: `feed` raises ProtocolError and the
    stream cannot be trusted after it."""

    def __init__(self):
        self._buffer = bytearray()

    @property
    def buffered_bytes(self):
        return len(self._buffer)

    def feed(self, data):
        """Appends bytes; returns the messages they complete, in order."""
        self._buffer += data
        messages = []
        while len(self._buffer) >= HEADER_SIZE:
            (length,) = struct.unpack_from(">I", self._buffer)
            if length > MAX_BODY_SIZE:
                raise ProtocolError(
                    f"the service announced a frame of {length} bytes, more than the limit of {MAX_BODY_SIZE}"
                )
            if len(self._buffer) < HEADER_SIZE + length:
                break
            body = bytes(self._buffer[HEADER_SIZE : HEADER_SIZE + length])
            del self._buffer[: HEADER_SIZE + length]
            messages.append(_parse_body(body))
        return messages


def _parse_body(body):
    try:
        message = msgpack.unpackb(body, raw=False, strict_map_key=True)
    except Exception as error:  # the reader raises several unrelated types for bad input
        raise ProtocolError(f"a frame of {len(body)} bytes is not valid MessagePack: {error}") from error
    if not isinstance(message, dict) or not all(isinstance(key, str) for key in message):
        raise ProtocolError(f"a frame holds {_describe(message)}, not a MessagePack map with string keys")
    kind = message.get("type")
    if not isinstance(kind, str):
        raise ProtocolError(f'a message has {_describe(kind)} as its "type", not a string')
    if "data" not in message:
        return kind, None
    raw = message["data"]
    if not isinstance(raw, bytes):
        raise ProtocolError(f'a {kind} message has {_describe(raw)} as its "data", not a byte string')
    try:
        data = json.loads(raw.decode("utf-8"))
    except ValueError as error:
        raise ProtocolError(f'the "data" of a {kind} message is not UTF-8 JSON: {error}') from error
    if not isinstance(data, dict):
        raise ProtocolError(f'the "data" of a {kind} message is not a JSON object')
    return kind, data


def _describe(value):
    if value is None:
        return "nothing"
    if isinstance(value, bytes):
        return "a byte string"
    return f"a {type(value).__name__}"
