"""The example parent programs, run against the real binary on a private PulseAudio.

Each example is driven the way a user would: started with a locale, listening to recorded
speech played into the virtual microphone, stopped by Ctrl-C (SIGINT to the example alone, so it
must forward it) or by its timeout, and pointed at failures it must report by code.
"""

import os
import queue
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from rig import BINARY, TIMEOUT, PulseServer, normalize, reference_words, word_error_rate

EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples")
LISTENING = "transcribe: listening (Ctrl-C to stop)"
STOPPED = "transcribe: stopped"


class ExampleRun:
    """One run of an example, with both of its output streams read line by line."""

    def __init__(self, command, env=None):
        self.started = time.monotonic()
        self.process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, env=env, text=True)
        self.out, self.err = [], []
        self.arrivals = queue.Queue()
        self.readers = [threading.Thread(target=self._read, args=(stream, lines), daemon=True)
                        for stream, lines in ((self.process.stdout, self.out),
                                              (self.process.stderr, self.err))]
        for reader in self.readers:
            reader.start()

    def _read(self, stream, lines):
        for line in stream:
            lines.append(line.rstrip("\n"))
            self.arrivals.put(None)

    def wait_for(self, lines, predicate, timeout=TIMEOUT):
        deadline = time.monotonic() + timeout
        while not any(predicate(line) for line in list(lines)):
            if self.process.poll() is not None and not any(r.is_alive() for r in self.readers):
                raise AssertionError("ended first; stdout %r, stderr %r" % (self.out, self.err))
            try:
                self.arrivals.get(timeout=max(0.01, deadline - time.monotonic()))
            except queue.Empty:
                raise AssertionError("timed out; stdout %r, stderr %r" % (self.out, self.err))

    def finish(self, timeout=TIMEOUT):
        status = self.process.wait(timeout=timeout)
        for reader in self.readers:
            reader.join(timeout)
        self.took = time.monotonic() - self.started
        return status

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        # A speechline left behind by a failed test may hold stderr open for a while.
        for reader in self.readers:
            reader.join(5)
        self.process.stdout.close()
        self.process.stderr.close()


class ExampleTests:
    """The behaviour every example shows; each subclass names the command that runs one."""

    command = None

    def start(self, *args, env=None, binary=BINARY):
        run = ExampleRun([*self.command, "--speechline", binary, *args], env)
        self.addCleanup(run.kill)
        return run

    def listen(self, *args):
        server = PulseServer()
        self.addCleanup(server.close)
        run = self.start("--locale", "en-US", *args, env=server.env)
        run.wait_for(run.err, lambda line: line == LISTENING)
        return server, run

    def play(self, server, clip):
        player = server.play(clip)
        self.addCleanup(player.wait)
        self.addCleanup(player.kill)

    def assertTranscriptLines(self, lines):
        self.assertTrue(lines, "no transcript at all")
        self.assertTrue(all(line.startswith(("partial: ", "final: ")) for line in lines), lines)

    def test_speech_ends_with_the_final_transcript(self):
        server, run = self.listen()
        self.play(server, "goforward")
        status = run.finish()
        self.assertEqual(status, 0, run.err)
        self.assertTranscriptLines(run.out)
        finals = [line for line in run.out if line.startswith("final: ")]
        self.assertEqual(finals, run.out[-1:], "exactly one final, shown last")
        heard = normalize(finals[0][len("final: "):])
        self.assertLessEqual(word_error_rate(reference_words("goforward"), heard), 0.5, heard)
        self.assertEqual(run.err, [LISTENING, STOPPED])

    def test_ctrl_c_in_the_middle_of_speech_stops_in_order(self):
        server, run = self.listen("--timeout", "0")
        self.play(server, "0870")
        run.wait_for(run.out, lambda line: line.startswith("partial: ") and len(line) > 9)
        # To the example alone: it has to pass the stop on to speechline.
        run.process.send_signal(signal.SIGINT)
        status = run.finish(timeout=15)
        self.assertEqual(status, 0, run.err)
        self.assertTranscriptLines(run.out)
        self.assertFalse([line for line in run.out if line.startswith("final: ")], run.out)
        self.assertEqual(run.err, [LISTENING, STOPPED])

    def test_timeout_stops_a_run_that_hears_only_silence(self):
        server, run = self.listen("--timeout", "2")
        status = run.finish()
        self.assertEqual(status, 0, run.err)
        self.assertGreaterEqual(run.took, 2)
        self.assertEqual(run.out, [])
        self.assertEqual(run.err, [LISTENING, STOPPED])

    def test_errors_are_reported_by_code(self):
        with tempfile.TemporaryDirectory() as runtime:
            no_server = dict(os.environ, XDG_RUNTIME_DIR=runtime,
                             PULSE_SERVER="unix:" + runtime + "/none")
            for args, env, code, message in [
                (("--locale", "xx-XX"), None, "recognizer_unavailable",
                 "No speech recognizer is available for xx-XX."),
                (("--locale", "en-US"), no_server, "microphone_unavailable",
                 "No microphone input channel is available."),
            ]:
                with self.subTest(code=code):
                    run = self.start(*args, env=env)
                    status = run.finish()
                    self.assertEqual(status, 1)
                    self.assertEqual(run.out, [])
                    self.assertEqual(run.err[0], "transcribe: error %s: %s" % (code, message))
                    self.assertEqual(len(run.err), 2, "the advice for the code")

    def test_a_program_that_cannot_start_is_reported(self):
        run = self.start(binary=os.path.join(EXAMPLES, "no-such-speechline"))
        status = run.finish()
        self.assertEqual(status, 2)
        self.assertEqual(run.out, [])
        self.assertEqual(len(run.err), 1)
        self.assertTrue(run.err[0].startswith("transcribe: cannot start "), run.err)


class PythonExampleTest(ExampleTests, unittest.TestCase):
    command = [sys.executable, os.path.join(EXAMPLES, "python", "transcribe.py")]


class NodeExampleTest(ExampleTests, unittest.TestCase):
    command = [os.environ.get("NODE", "node"), os.path.join(EXAMPLES, "node", "transcribe.js")]


if __name__ == "__main__":
    unittest.main()
