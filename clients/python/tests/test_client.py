"""The client against the real helper without a desktop, and against a scripted service for what the real one
never does on its own (late answers, broken frames, another user's service)."""

import asyncio
import json
import os
import signal
import struct
import subprocess
import sys
import threading
import unittest

import msgpack

import tandrel_client
from support import Desktop, Helper, fake_service, frame, missing_commands, private_directory


def answer(kind, **members):
    return frame(msgpack.packb({"type": kind, "data": json.dumps({"type": kind, **members}).encode()}))


class ClientTest(unittest.IsolatedAsyncioTestCase):
    async def test_answers_every_request_without_a_desktop_deferred_answers_overtaking(self):
        helper = Helper(self)
        client = await tandrel_client.connect(path=helper.path)
        self.addAsyncCleanup(client.close)
        self.assertIs(await client.is_permission_granted(), False)
        self.assertIs(await client.start_monitor(), False)
        self.assertEqual(await client.mouse_location(), (0, 0))
        self.assertIs(await client.insert_text("hello"), False)
        # Without a desktop "SelectedText" goes the simulated-copy way and answers about 50 ms later, so the
        # requests sent after it are answered first.
        order = []

        async def noting(kind, request):
            result = await request
            order.append(kind)
            return result

        answers = await asyncio.gather(
            noting("SelectedText", client.selected_text()),
            noting("IsPermissionGranted", client.is_permission_granted()),
            noting("MouseLocation", client.mouse_location()))
        self.assertEqual(answers, ["", False, (0, 0)])
        self.assertEqual(order[-1], "SelectedText")
        with self.assertRaises(tandrel_client.TooLarge):
            await client.insert_text("x" * (9 * 1024 * 1024))
        self.assertIs(await client.is_permission_granted(), False, "the connection outlives a refused request")

        closed = []
        client.on("closed", closed.append)
        pending = asyncio.ensure_future(client.selected_text())
        await asyncio.sleep(0)
        await client.close()
        with self.assertRaises(tandrel_client.Closed):
            await pending
        await asyncio.sleep(0)
        self.assertEqual([type(reason) for reason in closed], [tandrel_client.Closed])
        with self.assertRaises(tandrel_client.Closed):
            await client.mouse_location()

    async def test_not_running_went_away_mid_request_and_refused_for_another_user(self):
        with self.assertRaises(tandrel_client.NotRunning):
            await tandrel_client.connect(path=os.path.join(private_directory(self), "absent"))

        helper = Helper(self)
        client = await tandrel_client.connect(path=helper.path)
        closed = asyncio.get_running_loop().create_future()
        client.on("closed", closed.set_result)
        # Held stopped so that the stop comes before the answer, which the helper defers by 50 ms.
        helper.signal(signal.SIGSTOP)
        pending = asyncio.ensure_future(client.selected_text())
        await asyncio.sleep(0.05)
        helper.signal(signal.SIGTERM)
        helper.signal(signal.SIGCONT)
        with self.assertRaises(tandrel_client.WentAway):
            await pending
        self.assertIsInstance(await closed, tandrel_client.WentAway)
        with self.assertRaises(tandrel_client.WentAway):
            await client.is_permission_granted()
        helper.process.wait()
        with self.assertRaises(tandrel_client.NotRunning):
            await tandrel_client.connect(path=helper.path)

        if os.getuid() != 0:
            self.skipTest("the other-user case needs root to run a service as another user")
        directory = private_directory(self)
        os.chmod(directory, 0o777)
        path = os.path.join(directory, "service")
        server = subprocess.Popen(
            [sys.executable, "-c", "import socket, sys, time\n"
             "s = socket.socket(socket.AF_UNIX); s.bind(sys.argv[1]); s.listen(); print(flush=True)\n"
             "s.accept(); time.sleep(10)", path],
            user=65534, group=65534, stdout=subprocess.PIPE)
        self.addCleanup(server.stdout.close)
        self.addCleanup(server.wait)
        self.addCleanup(server.kill)
        server.stdout.readline()
        with self.assertRaisesRegex(tandrel_client.Refused, "belongs to uid 65534"):
            await tandrel_client.connect(path=path)
        # A socket file that looks like ours does not help: the process behind it counts.
        os.chown(path, os.getuid(), os.getgid())
        with self.assertRaisesRegex(tandrel_client.Refused, "runs as uid 65534"):
            await tandrel_client.connect(path=path)

    async def test_answers_pair_with_requests_by_type_oldest_first_a_timed_out_request_keeping_its_place(self):
        async def serve(reader, writer):
            for _ in range(3):
                (length,) = struct.unpack(">I", await reader.readexactly(4))
                await reader.readexactly(length)
            writer.write(answer("IsPermissionGranted", result=True)
                         + answer("SelectedText", content="late, for the request that timed out")
                         + answer("SelectedText", content="second")
                         + frame(msgpack.packb({"type": "SelectionEvent", "data": b'{"type":"SelectionEvent"}'}))
                         + answer("SomethingNewer"))
            await writer.drain()
            await reader.read()
            writer.close()

        client = await tandrel_client.connect(path=await fake_service(self, serve))
        self.addAsyncCleanup(client.close)
        selection = asyncio.Event()
        client.on("selection", selection.set)
        with self.assertRaises(tandrel_client.RequestTimeout):
            await client.selected_text(timeout=0.03)
        self.assertEqual(await asyncio.gather(client.selected_text(), client.is_permission_granted()),
                         ["second", True])
        await asyncio.wait_for(selection.wait(), 10)
        self.assertIsNone(client.close_reason)

    async def test_a_frame_the_client_cannot_read_closes_the_connection(self):
        bad = {
            "oversized length": bytes([0x00, 0x90, 0x00, 0x00]),
            "not MessagePack": frame(b"\xc1"),
            "not a map": frame(msgpack.packb([1, 2])),
            "type not a string": frame(msgpack.packb({"type": b"IsPermissionGranted"})),
            "data not JSON": frame(msgpack.packb({"type": "IsPermissionGranted", "data": b"{result"})),
            "data a string": frame(msgpack.packb({"type": "IsPermissionGranted", "data": '{"result":true}'})),
        }
        for name, data in bad.items():
            with self.subTest(name):
                async def serve(reader, writer, data=data):
                    await reader.read(1)
                    writer.write(data)
                    await reader.read()
                    writer.close()

                client = await tandrel_client.connect(path=await fake_service(self, serve))
                closed = asyncio.get_running_loop().create_future()
                client.on("closed", closed.set_result)
                with self.assertRaises(tandrel_client.ProtocolError):
                    await client.is_permission_granted()
                self.assertIsInstance(await closed, tandrel_client.ProtocolError)
                await client.close()

    @unittest.skipIf(missing_commands("Xvfb", "xterm", "xdotool"),
                     "Xvfb, xterm or xdotool not installed (scripts/bootstrap installs them)")
    async def test_a_double_click_in_an_xterm_reaches_the_selection_event(self):
        desktop = await asyncio.get_running_loop().run_in_executor(None, Desktop, self, "tandrel python client\n")
        helper = Helper(self, desktop.display)
        client = await tandrel_client.connect(path=helper.path)
        self.addAsyncCleanup(client.close)
        self.assertIs(await client.start_monitor(), True)
        selection = asyncio.Event()
        client.on("selection", selection.set)
        await asyncio.get_running_loop().run_in_executor(None, desktop.select_word, 0, 9)  # "python"
        await asyncio.wait_for(selection.wait(), 10)
        self.assertEqual(await client.selected_text(), "python")


class BlockingClientTest(unittest.TestCase):
    def test_blocking_requests_and_callbacks_that_call_back(self):
        helper = Helper(self)
        with tandrel_client.BlockingClient(path=helper.path) as client:
            self.assertIs(client.start_monitor(), False)
            self.assertEqual(client.mouse_location(), (0, 0))
            self.assertEqual(client.selected_text(), "")
            self.assertIs(client.insert_text("hello"), False)
            # Callbacks run off the loop's thread, so a callback may make blocking calls itself.
            closed = threading.Event()
            reasons = []

            def on_closed(reason):
                reasons.append(reason)
                with self.assertRaises(tandrel_client.WentAway):
                    client.is_permission_granted()
                closed.set()

            client.on("closed", on_closed)
            helper.signal(signal.SIGTERM)
            self.assertTrue(closed.wait(5))
            self.assertIsInstance(reasons[0], tandrel_client.WentAway)
        with self.assertRaises(tandrel_client.NotRunning):
            tandrel_client.BlockingClient(path=os.path.join(private_directory(self), "absent"))


if __name__ == "__main__":
    unittest.main()
