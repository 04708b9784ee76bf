"""Faults from outside while the real binary recognises speech: a parent that goes away, an
audio server that dies, a microphone that disappears."""

import signal
import subprocess
import time
import unittest

from rig import BINARY, PulseServer, Speechline


class FaultTest(unittest.TestCase):
    def setUp(self):
        self.server = PulseServer()
        self.addCleanup(self.server.close)
        self.run_ = Speechline(env=self.server.env)
        self.addCleanup(self.run_.kill)
        self.assertEqual(self.run_.next_event(), {"type": "state", "state": "recording"})
        self.server.play("0870")

    def assertFailsRecognition(self, fault):
        self.assertIsNotNone(self.run_.wait_for(lambda e: e["type"] == "result"))
        faulted = time.monotonic()
        fault()
        status = self.run_.finish(timeout=15)
        events = [e for _, _, e in self.run_.events]
        self.assertEqual(status, 1, events[-3:])
        self.assertEqual(events[-2]["code"], "recognition_failed")
        self.assertEqual(events[-1], {"type": "state", "state": "stopped"})
        print("\n%s -> stopped in %.2f s: %s" % (self._testMethodName,
                                                time.monotonic() - faulted, events[-2]["message"]))

    def test_audio_server_killed(self):
        self.assertFailsRecognition(self.server.kill)

    def test_default_source_removed(self):
        self.assertFailsRecognition(
            lambda: self.server.pactl("unload-module", "module-null-sink"))



class ClosedPipeTest(unittest.TestCase):
    def test_parent_closes_the_pipe_while_speech_is_recognised(self):
        server = PulseServer()
        self.addCleanup(server.close)
        process = subprocess.Popen([BINARY, "--locale", "en-US"], stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, env=server.env)
        self.addCleanup(lambda: process.poll() is None and process.kill())
        self.assertIn(b'"recording"', process.stdout.readline())
        server.play("0870")
        self.assertIn(b'"result"', process.stdout.readline())
        process.stdout.close()
        # SIGPIPE keeps its default: the next write ends the program.
        self.assertEqual(process.wait(timeout=15), -signal.SIGPIPE)
        self.assertEqual(process.stderr.read(), b"")


if __name__ == "__main__":
    unittest.main()
