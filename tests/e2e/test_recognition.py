"""The real binary on a private desktop with recorded speech played into its microphone."""

import os
import signal
import time
import unittest

from support import (SERVER, Desktop, Speechline, check_run, normalize,
                     pocketsphinx_baseline, recognizer_of, reference_words, within,
                     word_errors)

# The live path hears the clip through a 48 kHz stereo virtual microphone, resampled back to
# 16 kHz, and segments utterances at live buffer boundaries, so it may differ from Debian's
# recognizer on the original file by a word or two; beyond that is a fault of ours.
EXTRA_WORDS_ALLOWED = 2


class LiveRecognitionTest(unittest.TestCase):
    def assertCloseToReference(self, clip, text):
        reference = reference_words(clip)
        # Whole words, not rates: equal rates may differ in their last bit.
        baseline = word_errors(reference, pocketsphinx_baseline(clip))
        errors = word_errors(reference, normalize(text))
        self.assertLessEqual(errors, baseline + EXTRA_WORDS_ALLOWED,
                             "final %r, %d of %d words wrong in the baseline"
                             % (text, baseline, len(reference)))
        self.assertEqual(normalize(text)[0], reference[0], "the first word was lost")

    def test_clips(self):
        desktop = Desktop()
        self.addCleanup(desktop.close)
        # name, more arguments, clip, seconds from "recording" to the clip, how the run ends,
        # what the final's text must start with (English text: a capital, titles, digits)
        cases = [
            ("played after the model load", (), "0870", 1, None, "final", r"[A-Z].* Mr\. "),
            ("played while the model loads", (), "0880", 0, None, "final", r"He "),
            ("on-device required", ("--requires-on-device",), "goforward", 0, None, "final",
             r"Go forward 10 meters$"),
            ("SIGINT in the middle of speech", (), "0870", 0, "SIGINT", "stopped", None),
            # A Ctrl-C reaches speechline's process group: it stops in order, and the
            # recognizer, in a group of its own, dies with it.
            ("SIGINT to the group while the model loads", (), None, 0, "SIGINT to the group",
             "stopped", None),
            ("recognizer killed in the middle of speech", (), "0870", 0, "kill the recognizer",
             "recognition failed", "The speech recognizer stopped unexpectedly."),
        ]
        # The other cases differ from the first only inside speechline, not in what the server
        # does.
        for name, args, clip, delay, act, ending, text in (
                cases if SERVER == "pulseaudio" else cases[:1]):
            with self.subTest(name):
                run = Speechline(("--locale", "en-US", *args), env=desktop.env, group=True)
                self.addCleanup(run.kill)
                self.assertEqual(run.wait_for_event(), {"type": "state", "state": "recording"})
                recognizer = within(5, lambda: recognizer_of(run.process.pid))
                self.assertTrue(recognizer, "no recognizer process")
                # Moved to a group of its own within moments of the fork.
                self.assertTrue(within(5, lambda: os.getpgid(recognizer) != run.process.pid))
                time.sleep(delay)
                if clip:
                    desktop.play(clip)
                    run.wait_for_event(lambda e: e["type"] == "result" and e["text"])
                if act == "SIGINT":
                    run.process.send_signal(signal.SIGINT)
                elif act == "SIGINT to the group":
                    os.killpg(run.process.pid, signal.SIGINT)
                elif act == "kill the recognizer":
                    os.kill(recognizer, signal.SIGKILL)
                self.assertEqual(check_run(run, run.finish()), ending)
                events = run.events()
                if ending == "final":
                    self.assertGreaterEqual(len(events), 4, "a partial before the final")
                    self.assertCloseToReference(clip, events[-2]["text"])
                    self.assertRegex(events[-2]["text"], "^" + text)
                elif ending == "recognition failed":
                    self.assertEqual(events[-2]["message"], text)
                self.assertTrue(within(5, lambda: not os.path.exists("/proc/%d" % recognizer)),
                                "the recognizer outlives speechline")


if __name__ == "__main__":
    unittest.main()
