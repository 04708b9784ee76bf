"""The real binary on a private PulseAudio with recorded speech played into a virtual microphone."""

import signal
import time
import unittest

from rig import (PulseServer, Speechline, normalize, pocketsphinx_baseline, reference_words,
                 results, word_error_rate)

# The live path hears the clip through a 48 kHz stereo virtual microphone, resampled back to
# 16 kHz, and segments utterances at live buffer boundaries, so it may differ from Debian's
# recognizer on the original file by a word or two; beyond that is a fault of ours.
EXTRA_WORDS_ALLOWED = 2


class LiveRecognitionTest(unittest.TestCase):
    def setUp(self):
        self.server = PulseServer()
        self.addCleanup(self.server.close)

    def start(self, args=("--locale", "en-US")):
        run = Speechline(args, env=self.server.env)
        self.addCleanup(run.kill)
        self.assertEqual(run.next_event(), {"type": "state", "state": "recording"})
        return run

    def assertCloseToReference(self, clip, text):
        reference = reference_words(clip)
        baseline = word_error_rate(reference, pocketsphinx_baseline(clip))
        error = word_error_rate(reference, normalize(text))
        self.assertLessEqual(error, baseline + EXTRA_WORDS_ALLOWED / len(reference),
                             "final %r, baseline word error rate %.2f" % (text, baseline))

    def assertEndsWithFinal(self, run, status):
        events = [e for _, _, e in run.events]
        self.assertEqual(status, 0, events)
        self.assertEqual(events[-1], {"type": "state", "state": "stopped"})
        final = events[-2]
        self.assertEqual(final["type"], "result")
        self.assertIs(final["isFinal"], True)
        self.assertTrue(all(e["type"] == "result" and e["isFinal"] is False
                            for e in events[1:-2]), events)
        self.assertEqual(run.stderr, b"")
        return events

    def test_clip_played_after_recording(self):
        run = self.start()
        time.sleep(1)
        self.server.play("0880")
        status = run.finish()
        events = self.assertEndsWithFinal(run, status)
        self.assertGreaterEqual(len(results(events)), 2, "at least one partial before the final")
        self.assertCloseToReference("0880", events[-2]["text"])

    def test_clip_played_while_the_model_loads(self):
        run = self.start()
        self.server.play("0880")
        status = run.finish()
        events = self.assertEndsWithFinal(run, status)
        final = normalize(events[-2]["text"])
        self.assertCloseToReference("0880", events[-2]["text"])
        self.assertEqual(final[0], reference_words("0880")[0], "the first word was lost")

    def test_requires_on_device_runs_normally(self):
        run = self.start(("--locale", "en-US", "--requires-on-device"))
        self.server.play("goforward")
        status = run.finish()
        events = self.assertEndsWithFinal(run, status)
        self.assertCloseToReference("goforward", events[-2]["text"])

    def test_sigint_in_the_middle_of_speech(self):
        run = self.start()
        self.server.play("0870")
        self.assertIsNotNone(run.wait_for(lambda e: e["type"] == "result" and e["text"]))
        run.process.send_signal(signal.SIGINT)
        status = run.finish()
        events = [e for _, _, e in run.events]
        self.assertEqual(status, 0)
        self.assertEqual(events[-1], {"type": "state", "state": "stopped"})
        self.assertTrue(all(e["type"] == "result" and not e["isFinal"] for e in events[1:-1]))


if __name__ == "__main__":
    unittest.main()
