"""What the end-to-end tests share: the real tandrel-helper in a private runtime directory, a scripted fake
service for what the real one never sends, and a private Xvfb with an xterm."""

import asyncio
import os
import shutil
import socket
import struct
import subprocess
import tempfile
import time

from tandrel_client import SERVICE_NAME

REPOSITORY = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
HELPER = os.environ.get("TANDREL_HELPER") or os.path.join(REPOSITORY, "build/release/src/helper/tandrel-helper")


def private_directory(test):
    directory = tempfile.mkdtemp(prefix="tandrel-python-")
    test.addCleanup(shutil.rmtree, directory, ignore_errors=True)
    return directory


def wait_for(what, condition, seconds=10.0):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError(f"{what} did not happen within {seconds} s")
        time.sleep(0.02)


def kill(process):
    if process.poll() is None:
        process.kill()
        process.wait()


class Helper:
    """The helper with its socket in a fresh private runtime directory; no desktop unless `display` is given.
    Killed at the test's end if the test did not stop it."""

    def __init__(self, test, display=None):
        if not os.access(HELPER, os.X_OK):
            raise AssertionError(f"{HELPER} is missing: build it (cmake --build build/release --target tandrel-helper)")
        self.runtime = private_directory(test)
        env = {key: value for key, value in os.environ.items() if key != "DISPLAY"}
        env["XDG_RUNTIME_DIR"] = self.runtime
        if display:
            env["DISPLAY"] = display
        self.process = subprocess.Popen([HELPER], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        test.addCleanup(kill, self.process)
        self.path = os.path.join(self.runtime, SERVICE_NAME)
        # The socket file appears when it is bound, a moment before the helper listens on it.
        wait_for("the helper's listening", lambda: self._accepts() or self.process.poll() is not None)
        if self.process.poll() is not None:
            raise AssertionError(f"the helper exited with {self.process.returncode}")

    def _accepts(self):
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as probe:
            return probe.connect_ex(self.path) == 0

    def signal(self, number):
        self.process.send_signal(number)


def frame(body):
    return struct.pack(">I", len(body)) + body


async def fake_service(test, on_connection):
    """A scripted service on a socket in a private directory; `on_connection(reader, writer)` plays its part."""
    path = os.path.join(private_directory(test), SERVICE_NAME)
    server = await asyncio.start_unix_server(on_connection, path)
    test.addAsyncCleanup(server.wait_closed)
    test.addCleanup(server.close)
    return path


def missing_commands(*commands):
    return [command for command in commands if shutil.which(command) is None]


class Desktop:
    """A private Xvfb (display number of its own choosing) showing an xterm at the top left with `text`."""

    COLUMNS, ROWS = 40, 3

    def __init__(self, test, text):
        work = private_directory(test)
        read_end, write_end = os.pipe()
        xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"],
            pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        test.addCleanup(kill, xvfb)
        os.close(write_end)
        with os.fdopen(read_end) as numbers:
            number = numbers.readline().strip()
        if not number:
            raise AssertionError("Xvfb did not start")
        self.display = f":{number}"
        self.env = dict(os.environ, DISPLAY=self.display)
        text_file = os.path.join(work, "text")
        with open(text_file, "w") as out:
            out.write(text)
        xterm = subprocess.Popen(
            ["xterm", "-b", "0", "-geometry", f"{self.COLUMNS}x{self.ROWS}+0+0", "-title", "tandrel-python-test",
             "-hold", "-e", "sh", "-c", 'cat "$1" && : >"$1.shown"', "sh", text_file],
            env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        test.addCleanup(kill, xterm)
        window = self._xdotool("search", "--sync", "--onlyvisible", "--name", "^tandrel-python-test$").split()[0]
        geometry = dict(line.split("=") for line in self._xdotool("getwindowgeometry", "--shell", window).split())
        self.cell = (int(geometry["WIDTH"]) // self.COLUMNS, int(geometry["HEIGHT"]) // self.ROWS)
        wait_for("the xterm's text", lambda: os.path.exists(text_file + ".shown"))
        time.sleep(0.2)

    def select_word(self, line, column):
        """Double-clicks the character cell."""
        x = column * self.cell[0] + self.cell[0] // 2
        y = line * self.cell[1] + self.cell[1] // 2
        self._xdotool("mousemove", str(x), str(y), "sleep", "0.05", "click", "--repeat", "2", "--delay", "80", "1")

    def _xdotool(self, *args):
        return subprocess.run(["xdotool", *args], env=self.env, check=True, capture_output=True, text=True).stdout


__all__ = ["Desktop", "Helper", "fake_service", "frame", "missing_commands", "private_directory"]
