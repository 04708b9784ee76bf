"""The example parent programs, run against the real binary on a private desktop.

Each example is driven the way a user would: started with a locale, listening to recorded
speech played into its microphone, stopped by Ctrl-C (SIGINT to the example alone, so it
must forward it) or by its timeout, and pointed at failures it must report by code.
"""

import os
import signal
import sys
import tempfile
import unittest

from support import BINARY, PulseDesktop, Run, normalize, reference_words, word_error_rate

EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples")
LISTENING = "transcribe: listening (Ctrl-C to stop)"
STOPPED = "transcribe: stopped"


class ExampleTests:
    """The behaviour every example shows; each subclass names the command that runs one."""

    command = None

    def start(self, *args, env=None, binary=BINARY):
        run = Run([*self.command, "--speechline", binary, *args], env)
        self.addCleanup(run.kill)
        return run

    def listen(self, *args):
        desktop = PulseDesktop()
        self.addCleanup(desktop.close)
        run = self.start("--locale", "en-US", *args, env=desktop.env)
        run.wait_for(lambda line: line == LISTENING, run.err)
        return desktop, run

    def assertTranscriptLines(self, lines):
        self.assertTrue(lines, "no transcript at all")
        self.assertTrue(all(line.startswith(("partial: ", "final: ")) for line in lines), lines)

    def test_speech_ends_with_the_final_transcript(self):
        desktop, run = self.listen()
        desktop.play("goforward")
        status = run.finish()
        out, err = run.out.text(), run.err.text()
        self.assertEqual(status, 0, err)
        self.assertTranscriptLines(out)
        finals = [line for line in out if line.startswith("final: ")]
        self.assertEqual(finals, out[-1:], "exactly one final, shown last")
        heard = normalize(finals[0][len("final: "):])
        self.assertLessEqual(word_error_rate(reference_words("goforward"), heard), 0.5, heard)
        self.assertEqual(err, [LISTENING, STOPPED])

    def test_ctrl_c_in_the_middle_of_speech_stops_in_order(self):
        desktop, run = self.listen("--timeout", "0")
        desktop.play("0870")
        run.wait_for(lambda line: line.startswith("partial: ") and len(line) > 9)
        # To the example alone: it has to pass the stop on to speechline.
        run.process.send_signal(signal.SIGINT)
        status = run.finish(timeout=15)
        out = run.out.text()
        self.assertEqual(status, 0, run.err.text())
        self.assertTranscriptLines(out)
        self.assertFalse([line for line in out if line.startswith("final: ")], out)
        self.assertEqual(run.err.text(), [LISTENING, STOPPED])

    def test_timeout_stops_a_run_that_hears_only_silence(self):
        _, run = self.listen("--timeout", "2")
        status = run.finish()
        self.assertEqual(status, 0, run.err.text())
        self.assertGreaterEqual(run.took, 2)
        self.assertEqual(run.out.text(), [])
        self.assertEqual(run.err.text(), [LISTENING, STOPPED])

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
                    err = run.err.text()
                    self.assertEqual(status, 1)
                    self.assertEqual(run.out.text(), [])
                    self.assertEqual(err[0], "transcribe: error %s: %s" % (code, message))
                    self.assertEqual(len(err), 2, "the advice for the code")

    def test_a_program_that_cannot_start_is_reported(self):
        run = self.start(binary=os.path.join(EXAMPLES, "no-such-speechline"))
        status = run.finish()
        err = run.err.text()
        self.assertEqual(status, 2)
        self.assertEqual(run.out.text(), [])
        self.assertEqual(len(err), 1)
        self.assertTrue(err[0].startswith("transcribe: cannot start "), err)


class PythonExampleTest(ExampleTests, unittest.TestCase):
    command = [sys.executable, os.path.join(EXAMPLES, "python", "transcribe.py")]


class NodeExampleTest(ExampleTests, unittest.TestCase):
    command = [os.environ.get("NODE", "node"), os.path.join(EXAMPLES, "node", "transcribe.js")]


if __name__ == "__main__":
    unittest.main()
