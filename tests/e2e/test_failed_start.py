"""Runs of the real binary that end before recording, and models in a relocated tree."""

import os
import shutil
import tempfile
import unittest

from support import BINARY, MODEL, PulseDesktop, Speechline, check_run

UNAVAILABLE = {"type": "error", "code": "recognizer_unavailable",
               "message": "The speech recognizer is currently unavailable."}
# Generous: a start that blocks (on a FIFO, say) must fail the test, not hang it.
START_BOUND = 5


def unavailable_line(identifier):
    return {"type": "error", "code": "recognizer_unavailable",
            "message": "No speech recognizer is available for %s." % identifier}


class FailedStartTest(unittest.TestCase):
    def setUp(self):
        # A copy of the binary finds models in <prefix>/share/speechline/models/ beside it.
        self.root = tempfile.mkdtemp(prefix="speechline-tree-")
        self.addCleanup(shutil.rmtree, self.root, ignore_errors=True)
        os.makedirs(os.path.join(self.root, "bin"))
        self.binary = os.path.join(self.root, "bin", "speechline")
        shutil.copy(BINARY, self.binary)
        self.model = os.path.join(self.root, "share", "speechline", "models", "en-us")
        os.makedirs(self.model)
        os.symlink(os.path.join(MODEL, "en-us.lm.bin"), os.path.join(self.model, "en-us.lm.bin"))
        acoustic = os.path.join(self.model, "en-us")
        os.makedirs(acoustic)
        for name in os.listdir(os.path.join(MODEL, "en-us")):
            os.symlink(os.path.join(MODEL, "en-us", name), os.path.join(acoustic, name))
        self.dictionary = os.path.join(self.model, "cmudict-en-us.dict")

    def assertOnlyLine(self, args, expected, binary=None):
        run = Speechline(args, binary=binary)
        self.addCleanup(run.kill)
        self.assertEqual(check_run(run, run.stop(after=START_BOUND)), "failed start")
        self.assertEqual(run.events(), [expected])
        self.assertLess(run.took, START_BOUND)

    def test_locales_without_a_recognizer(self):
        for args, identifier in [
            (("--locale", "xx-XX"), "xx-XX"),
            ((), "zh-CN"),
            (("--locale", "../en-us"), "../en-us"),
            (("--locale", MODEL), MODEL),
            (("--locale", "en-us/../en-us"), "en-us/../en-us"),
            (("--locale", ""), ""),
        ]:
            with self.subTest(identifier=identifier):
                self.assertOnlyLine(args, unavailable_line(identifier))

    def test_unreadable_dictionary(self):
        for case, make in [("missing", lambda path: None),
                           # Opening a FIFO blocks until a writer comes.
                           ("a FIFO", os.mkfifo)]:
            with self.subTest(dictionary=case):
                make(self.dictionary)
                self.assertOnlyLine(("--locale", "en-US"), UNAVAILABLE, binary=self.binary)

    def test_recording_with_relocated_models(self):
        os.symlink(os.path.join(MODEL, "cmudict-en-us.dict"), self.dictionary)
        mdef = os.path.join(self.model, "en-us", "mdef")
        os.remove(mdef)
        with open(mdef, "w") as f:
            f.write("this is not a model definition\n")
        # Another language's directory holding the English model: its words are not formatted.
        os.symlink(MODEL, os.path.join(os.path.dirname(self.model), "fr-fr"))
        desktop = PulseDesktop()
        self.addCleanup(desktop.close)
        # locale, how the run ends, the final's text for goforward (None: no result at all)
        for locale, ending, final in [
            ("en-US", "recognition failed", None),
            ("fr-FR", "final", "go forward ten meters"),
        ]:
            with self.subTest(locale=locale):
                run = Speechline(("--locale", locale), env=desktop.env, binary=self.binary)
                self.addCleanup(run.kill)
                if final:
                    self.assertEqual(run.wait_for_event(), {"type": "state", "state": "recording"})
                    desktop.play("goforward")
                self.assertEqual(check_run(run, run.finish()), ending)
                results = [e["text"] for e in run.events() if e["type"] == "result"]
                self.assertEqual(results[-1:], [final] if final else [])


if __name__ == "__main__":
    unittest.main()
