#!/usr/bin/env python3
"""The helper under heavy and hostile clients: memory, latency, descriptors and shutdown time.

Starts tandrel-helper with a private runtime directory and a private /tmp (its own mount namespace, so the
log file is this run's alone; needs root), talks to it over its Unix socket only, and prints one line per
probe. Every probe is bounded in clients, bytes and seconds. Never part of the test suite.

    bench/service_under_load.py build/release/src/helper/tandrel-helper [--seconds 10] [--only flood,maps]
"""

import argparse
import os
import select
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

SERVICE = "com.tandrel.helper"
MAX_BODY = 8 * 1024 * 1024


# ---- the wire: 4-byte big-endian length, then one MessagePack map of strings (all these probes send) ----

def pack_str(text):
    raw = text.encode()
    if len(raw) < 32:
        return bytes([0xA0 | len(raw)]) + raw
    if len(raw) < 1 << 16:
        return b"\xda" + struct.pack(">H", len(raw)) + raw
    return b"\xdb" + struct.pack(">I", len(raw)) + raw


def frame(body):
    return struct.pack(">I", len(body)) + body


def request(kind, data=None):
    items = [("type", kind)] + ([("data", data)] if data is not None else [])
    body = bytes([0x80 | len(items)]) + b"".join(pack_str(k) + pack_str(v) for k, v in items)
    return frame(body)


def empty_maps_frame():
    """One maximal frame: {"type": "x", "a": [{}, {}, ...]}, about one million empty maps per MiB."""
    head = bytes([0x82]) + pack_str("type") + pack_str("x") + pack_str("a")
    count = MAX_BODY - len(head) - 5
    return frame(head + b"\xdd" + struct.pack(">I", count) + b"\x80" * count)


class Client:
    def __init__(self, path):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect(path)
        self.pending = b""

    def answers(self, timeout):
        """Reads what is there (waiting up to `timeout`); returns the number of whole frames; None at the end."""
        ready, _, _ = select.select([self.sock], [], [], timeout)
        if not ready:
            return 0
        try:
            chunk = self.sock.recv(1 << 20)
        except (ConnectionResetError, BrokenPipeError):
            return None
        if not chunk:
            return None
        self.pending += chunk
        count = 0
        while len(self.pending) >= 4:
            length = struct.unpack(">I", self.pending[:4])[0]
            if len(self.pending) < 4 + length:
                break
            self.pending = self.pending[4 + length:]
            count += 1
        return count

    def round_trip(self, limit=5.0):
        start = time.monotonic()
        self.sock.sendall(request("IsPermissionGranted"))
        while time.monotonic() - start < limit:
            got = self.answers(limit)
            if got is None:
                return None
            if got:
                return time.monotonic() - start
        return None

    def closed_by_peer(self, timeout):
        try:
            ready, _, _ = select.select([self.sock], [], [], timeout)
            return bool(ready) and not self.sock.recv(1 << 16)
        except (ConnectionResetError, BrokenPipeError):
            return True

    def close(self):
        self.sock.close()


# ---- the helper process ----

class Helper:
    def __init__(self, binary):
        self.root = tempfile.mkdtemp(prefix="tandrel-probe-", dir="/dev/shm")
        self.runtime = os.path.join(self.root, "run")
        self.tmp = os.path.join(self.root, "tmp")
        os.makedirs(self.runtime, mode=0o700)
        os.makedirs(self.tmp)
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        env["XDG_RUNTIME_DIR"] = self.runtime
        self.socket = os.path.join(self.runtime, SERVICE)
        # A private /tmp: the log file lands in self.tmp and nobody else's files are touched.
        script = 'mount --bind "$1" /tmp && exec "$2"'
        self.proc = subprocess.Popen(["unshare", "-m", "--propagation", "private", "sh", "-c", script, "sh",
                                      self.tmp, os.path.abspath(binary)], env=env,
                                     stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while not os.path.exists(self.socket):
            if time.monotonic() > deadline or self.proc.poll() is not None:
                raise SystemExit("the helper did not start")
            time.sleep(0.05)
        self.pid = self.proc.pid  # unshare execs sh, which execs the helper: the same process

    def status(self, field):
        with open(f"/proc/{self.pid}/status") as f:
            for line in f:
                if line.startswith(field + ":"):
                    return int(line.split()[1]) // 1024  # MiB
        return -1

    def rss(self):
        return self.status("VmRSS")

    def fds(self):
        return len(os.listdir(f"/proc/{self.pid}/fd"))

    def log_text(self):
        text = ""
        for name in sorted(os.listdir(self.tmp)):
            if name.endswith(".log"):
                with open(os.path.join(self.tmp, name), errors="replace") as f:
                    text += f.read()
        return text

    def stop(self, signalled_at=None):
        """SIGTERM (unless sent at `signalled_at`); seconds until it ended (None if killed after 120 s)."""
        start = signalled_at
        if start is None:
            start = time.monotonic()
            self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(max(0.0, start + 120 - time.monotonic()))
            return time.monotonic() - start
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            return None

    def cleanup(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        shutil.rmtree(self.root, ignore_errors=True)


class LogFollower(threading.Thread):
    """Reads every log file of the helper as it is written, keeping each open so that a file rolled away and
    deleted is still read to its end: counts `needle` over the whole run, not only in the files left."""

    def __init__(self, helper, needle):
        super().__init__(daemon=True)
        self.helper, self.needle, self.running = helper, needle.encode(), True
        self.files, self.count = {}, 0

    def drain(self):
        for name in sorted(os.listdir(self.helper.tmp)):
            if name.endswith(".log") and name not in self.files:
                try:
                    self.files[name] = [open(os.path.join(self.helper.tmp, name), "rb"), b""]
                except FileNotFoundError:
                    pass
        for entry in self.files.values():
            entry[1] += entry[0].read()
            lines = entry[1].split(b"\n")
            entry[1] = lines.pop()
            self.count += sum(self.needle in line for line in lines)

    def run(self):
        while self.running:
            self.drain()
            time.sleep(0.005)

    def stop(self):
        self.running = False
        self.join()
        self.drain()
        for entry in self.files.values():
            entry[0].close()
        return self.count


class PeakSampler(threading.Thread):
    def __init__(self, helper):
        super().__init__(daemon=True)
        self.helper, self.peak, self.running = helper, 0, True

    def run(self):
        while self.running:
            try:
                self.peak = max(self.peak, self.helper.rss())
            except (FileNotFoundError, ProcessLookupError):
                return
            time.sleep(0.1)

    def stop(self):
        self.running = False
        self.join()
        return self.peak


def report(name, **figures):
    print(name + ": " + ", ".join(f"{k} {v}" for k, v in figures.items()), flush=True)


# ---- the probes ----

def probe_flood(helper, seconds, count=4, window=256, name="flood"):
    """`count` clients that read every answer, `window` requests in flight each; SIGTERM while they still
    send, then every answer they got must have its reply line in the log (followed across rolls)."""
    sampler = PeakSampler(helper)
    sampler.start()
    follower = LogFollower(helper, "Reply IsPermissionGranted request")
    follower.start()
    clients = [Client(helper.socket) for _ in range(count)]
    answered = 0
    for c in clients:
        c.sock.sendall(request("IsPermissionGranted") * window)
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        for c in clients:
            got = c.answers(0.01)
            if got:
                answered += got
                c.sock.sendall(request("IsPermissionGranted") * got)
    rss_end = helper.rss()
    start = time.monotonic()
    helper.proc.send_signal(signal.SIGTERM)
    open_clients = list(clients)
    while open_clients and time.monotonic() - start < 120:
        for c in list(open_clients):
            got = c.answers(0.01)
            if got is None:
                open_clients.remove(c)
            elif got:
                answered += got
    exit_s = helper.stop(signalled_at=start)
    for c in clients:
        c.close()
    peak = sampler.stop()
    replies = follower.stop()
    report(name, seconds=seconds, answered=answered, peak_rss_mib=peak, rss_at_end_mib=rss_end,
           sigterm_exit_s=("killed after 120" if exit_s is None else round(exit_s, 2)),
           reply_lines_logged=replies, answered_without_reply_line=max(0, answered - replies))


def probe_deepflood(helper, seconds):
    """One client that reads every answer but keeps 100000 requests in flight, so it always lags behind."""
    probe_flood(helper, seconds, 1, 100000, "deepflood")


def probe_nonreader(helper, seconds, count=1):
    """`count` clients that send requests and never read an answer, until the service cuts them off."""
    sampler = PeakSampler(helper)
    sampler.start()
    clients = [Client(helper.socket) for _ in range(count)]
    for c in clients:
        c.sock.setblocking(False)
    burst = request("IsPermissionGranted") * 1024
    sending = list(clients)
    end = time.monotonic() + seconds
    while time.monotonic() < end and sending:
        for c in list(sending):
            try:
                c.sock.send(burst)
            except BlockingIOError:
                time.sleep(0.001 / count)
            except (BrokenPipeError, ConnectionResetError):
                sending.remove(c)
    peak = sampler.stop()
    for c in clients:
        c.close()
    time.sleep(5)
    report("nonreader" if count == 1 else f"nonreaders{count}", cut_off=f"{count - len(sending)}/{count}",
           peak_rss_mib=peak, rss_5s_after_mib=helper.rss())


def probe_nonreaders4(helper, seconds):
    probe_nonreader(helper, seconds, 4)


def probe_maps(helper, seconds):
    """One 8 MiB frame of empty maps while another client does round trips."""
    base = helper.rss()
    sampler = PeakSampler(helper)
    sampler.start()
    other = Client(helper.socket)
    worst = [0.0]
    stop = threading.Event()

    def pinger():
        while not stop.is_set():
            t = other.round_trip()
            worst[0] = max(worst[0], 99.0 if t is None else t)
            time.sleep(0.01)

    thread = threading.Thread(target=pinger, daemon=True)
    thread.start()
    hostile = Client(helper.socket)
    hostile.sock.sendall(empty_maps_frame())
    closed = hostile.closed_by_peer(seconds)
    stop.set()
    thread.join()
    peak = sampler.stop()
    hostile.close()
    other.close()
    time.sleep(min(seconds, 10))
    report("maps", rss_before_mib=base, peak_rss_mib=peak, rss_after_mib=helper.rss(),
           hostile_closed=closed, other_worst_round_trip_ms=round(worst[0] * 1000, 1))


def probe_stalled(helper, seconds):
    """50 clients each stalled halfway through an 8 MiB frame."""
    base = helper.rss()
    clients = []
    half = struct.pack(">I", MAX_BODY) + b"\x82" + b"\x00" * (MAX_BODY // 2)
    for _ in range(50):
        c = Client(helper.socket)
        try:
            c.sock.settimeout(5)
            c.sock.sendall(half)
        except (BrokenPipeError, ConnectionResetError, socket.timeout):
            pass
        clients.append(c)
    time.sleep(1)
    held = helper.rss()
    deadline = time.monotonic() + seconds
    closed = 0
    for c in clients:
        closed += c.closed_by_peer(max(0.0, deadline - time.monotonic()))
    for c in clients:
        c.close()
    time.sleep(1)
    report("stalled", rss_before_mib=base, rss_with_50_stalled_mib=held,
           closed_by_service_within_s=f"{closed}/50 in {seconds}", rss_after_mib=helper.rss())


def probe_descriptors(helper, seconds):
    """Descriptors per connection, and what happens past the connection cap."""
    before = helper.fds()
    clients = [Client(helper.socket) for _ in range(200)]
    for c in clients[:1]:
        c.round_trip()
    time.sleep(0.5)
    per = (helper.fds() - before) / len(clients)
    more = []
    for _ in range(400):
        try:
            more.append(Client(helper.socket))
        except OSError:
            break
    refused = sum(c.closed_by_peer(0.5 if i == 0 else 0.02) for i, c in enumerate(more))
    for c in clients + more:
        c.close()
    warnings = helper.log_text().count("Refusing")
    report("descriptors", fds_per_connection=round(per, 2), clients_past_200=len(more),
           of_them_closed_by_service=refused, refusal_warning_lines=warnings)


PROBES = {"flood": probe_flood, "deepflood": probe_deepflood, "nonreader": probe_nonreader,
          "nonreaders4": probe_nonreaders4, "maps": probe_maps, "stalled": probe_stalled,
          "descriptors": probe_descriptors}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("helper")
    parser.add_argument("--seconds", type=float, default=10)
    parser.add_argument("--only", default=",".join(PROBES))
    args = parser.parse_args()
    if os.geteuid() != 0:
        sys.exit("needs root (a private /tmp in its own mount namespace)")
    for name in args.only.split(","):
        helper = Helper(args.helper)  # a fresh helper per probe: figures do not carry over
        try:
            PROBES[name](helper, args.seconds)
        finally:
            helper.cleanup()


if __name__ == "__main__":
    main()
