"""The real binary on a private desktop with recorded speech played into its microphone."""

import signal
import time
import unittest

from support import (SERVER, Desktop, Speechline, check_run, normalize,
                     pocketsphinx_baseline, reference_words, word_errors)

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
            ("played after the model load", (), "0870", 1, "final", r"[A-Z].* Mr\. "),
            ("played while the model loads", (), "0880", 0, "final", r"He "),
            ("on-device required", ("--requires-on-device",), "goforward", 0, "final",
             r"Go forward 10 meters$"),
            ("SIGINT in the middle of speech", (), "0870", 0, "stopped", None),
        ]
        # The other cases differ from the first only inside speechline, not in what the server
        # does.
        for name, args, clip, delay, ending, text in (
                cases if SERVER == "pulseaudio" else cases[:1]):
            with self.subTest(name):
                run = Speechline(("--locale", "en-US", *args), env=desktop.env)
                self.addCleanup(run.kill)
                self.assertEqual(run.wait_for_event(), {"type": "state", "state": "recording"})
                time.sleep(delay)
                desktop.play(clip)
                if ending == "stopped":
                    run.wait_for_event(lambda e: e["type"] == "result" and e["text"])
                    run.process.send_signal(signal.SIGINT)
                self.assertEqual(check_run(run, run.finish()), ending)
                events = run.events()
                if ending == "final":
                    self.assertGreaterEqual(len(events), 4, "a partial before the final")
                    self.assertCloseToReference(clip, events[-2]["text"])
                    self.assertRegex(events[-2]["text"], "^" + text)


if __name__ == "__main__":
    unittest.main()
