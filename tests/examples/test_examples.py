"""The example parent programs, run against the real binary on a private desktop.

Each example is driven the way a user would: started with a locale, listening to recorded
speech played into its microphone, stopped by Ctrl-C (SIGINT to the example alone, so it
must forward it) or by its timeout, and pointed at failures it must report by code.
"""

import os
import signal
import sys
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

    def test_runs_end_as_the_user_asks(self):
        # name, more arguments, clip played, how the run ends
        for name, args, clip, ending in [
            ("speech ends with the final transcript", (), "goforward", "final"),
            ("Ctrl-C in the middle of speech stops in order", ("--timeout", "0"), "0870",
             "Ctrl-C"),
            ("the timeout stops a run that hears only silence", ("--timeout", "2"), None,
             "timeout"),
        ]:
            with self.subTest(name):
                desktop, run = self.listen(*args)
                if clip:
                    desktop.play(clip)
                if ending == "Ctrl-C":
                    run.wait_for(lambda line: line.startswith("partial: ") and len(line) > 9)
                    # To the example alone: it has to pass the stop on to speechline.
                    run.process.send_signal(signal.SIGINT)
                status = run.finish()
                out = run.out.text()
                self.assertEqual((status, run.err.text()), (0, [LISTENING, STOPPED]))
                self.assertTrue(all(line.startswith(("partial: ", "final: ")) for line in out), out)
                self.assertEqual(bool(out), ending != "timeout", out)
                finals = [line for line in out if line.startswith("final: ")]
                self.assertEqual(finals, out[-1:] if ending == "final" else [], "one final, last")
                if ending == "final":
                    heard = normalize(finals[0][len("final: "):])
                    self.assertLessEqual(word_error_rate(reference_words(clip), heard), 0.5, heard)
                if ending == "timeout":
                    self.assertGreaterEqual(run.took, 2)

    def test_failures_are_reported(self):
        no_server = dict(os.environ, PULSE_SERVER="unix:/nonexistent")
        # program, arguments, environment, exit status, first line on stderr, lines on stderr
        for binary, args, env, status, first, count in [
            (BINARY, ("--locale", "xx-XX"), None, 1, "transcribe: error recognizer_unavailable: "
             "No speech recognizer is available for xx-XX.", 2),  # and the advice for the code
            (BINARY, ("--locale", "en-US"), no_server, 1, "transcribe: error "
             "microphone_unavailable: No microphone input channel is available.", 2),
            (os.path.join(EXAMPLES, "no-such-speechline"), (), None, 2,
             "transcribe: cannot start ", 1),
        ]:
            with self.subTest(first):
                run = self.start(*args, env=env, binary=binary)
                self.assertEqual((run.finish(), run.out.text(), len(run.err.text())),
                                 (status, [], count), run.err.text())
                self.assertTrue(run.err.text()[0].startswith(first), run.err.text())


class PythonExampleTest(ExampleTests, unittest.TestCase):
    command = [sys.executable, os.path.join(EXAMPLES, "python", "transcribe.py")]


class NodeExampleTest(ExampleTests, unittest.TestCase):
    command = [os.environ.get("NODE", "node"), os.path.join(EXAMPLES, "node", "transcribe.js")]


if __name__ == "__main__":
    unittest.main()
