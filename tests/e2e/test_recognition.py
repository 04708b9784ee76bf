"""The real binary on a private desktop with recorded speech played into its microphone."""

import signal
import time
import unittest

from support import (PulseDesktop, Speechline, check_run, normalize, pocketsphinx_baseline,
                     reference_words, word_error_rate)

# The live path hears the clip through a 48 kHz stereo virtual microphone, resampled back to
# 16 kHz, and segments utterances at live buffer boundaries, so it may differ from Debian's
# recognizer on the original file by a word or two; beyond that is a fault of ours.
EXTRA_WORDS_ALLOWED = 2


class LiveRecognitionTest(unittest.TestCase):
    def setUp(self):
        self.desktop = PulseDesktop()
        self.addCleanup(self.desktop.close)

    def start(self, args=("--locale", "en-US")):
        run = Speechline(args, env=self.desktop.env)
        self.addCleanup(run.kill)
        self.assertEqual(run.wait_for_event(), {"type": "state", "state": "recording"})
        return run

    def assertCloseToReference(self, clip, text):
        reference = reference_words(clip)
        baseline = word_error_rate(reference, pocketsphinx_baseline(clip))
        error = word_error_rate(reference, normalize(text))
        self.assertLessEqual(error, baseline + EXTRA_WORDS_ALLOWED / len(reference),
                             "final %r, baseline word error rate %.2f" % (text, baseline))

    def test_clip_ends_with_a_final_close_to_the_reference(self):
        # name, more arguments, clip, seconds from "recording" to the clip
        for name, args, clip, delay in [
            ("played after the model load", (), "0880", 1),
            ("played while the model loads", (), "0880", 0),
            ("on-device required", ("--requires-on-device",), "goforward", 0),
        ]:
            with self.subTest(name):
                run = self.start(("--locale", "en-US", *args))
                time.sleep(delay)
                self.desktop.play(clip)
                self.assertEqual(check_run(run, run.finish()), "final")
                events = run.events()
                self.assertGreaterEqual(len(events), 4, "at least one partial before the final")
                self.assertCloseToReference(clip, events[-2]["text"])
                self.assertEqual(normalize(events[-2]["text"])[0], reference_words(clip)[0],
                                 "the first word was lost")

    def test_sigint_in_the_middle_of_speech(self):
        run = self.start()
        self.desktop.play("0870")
        run.wait_for_event(lambda e: e["type"] == "result" and e["text"])
        run.process.send_signal(signal.SIGINT)
        self.assertEqual(check_run(run, run.finish()), "stopped")


if __name__ == "__main__":
    unittest.main()
