"""Runs of the real binary that end before recording, and models in a relocated tree."""

import os
import random
import shutil
import subprocess
import tempfile
import unittest

from support import (BINARY, MODEL, PulseDesktop, Speechline, check_run, damage_model_file,
                     relocated_tree)

UNAVAILABLE = {"type": "error", "code": "recognizer_unavailable",
               "message": "The speech recognizer is currently unavailable."}
NO_MICROPHONE = {"type": "error", "code": "microphone_unavailable",
                 "message": "No microphone input channel is available."}
# Generous: a start that blocks (on a FIFO, say) must fail the test, not hang it.
START_BOUND = 5
MODEL_ERROR = "The speech recognition model could not be loaded."
# Cut points and random contents per model file; more for a longer sweep by hand.
DAMAGE_SAMPLES = int(os.environ.get("SPEECHLINE_DAMAGE_SAMPLES", "1"))


def damages(rnd):
    """(name, the file in the relocated model, a function from its bytes to damaged ones)."""
    acoustic = ["mdef", "means", "variances", "transition_matrices", "sendump", "feat.params"]
    rows = []
    for _ in range(DAMAGE_SAMPLES):
        for name in acoustic[:5] + ["en-us.lm.bin"]:
            cut = rnd.random()
            rows.append(("%s cut at %.3f" % (name, cut), name, lambda b, c=cut: b[:int(len(b) * c)]))
        for name in acoustic + ["en-us.lm.bin", "cmudict-en-us.dict"]:
            seed = rnd.random()
            rows.append(("%s random" % name, name,
                         lambda b, seed=seed: random.Random(seed).randbytes(len(b))))
    rows += [("feat.params asks for %s filters" % n, "feat.params",
              lambda b, n=n: b.replace(b"-nfilt 25", b"-nfilt " + n)) for n in (b"-5", b"100000000")]
    # A dictionary that shares no word with the language model.
    rows += [("dictionary %s" % what, "cmudict-en-us.dict", damage)
             for what, damage in [("empty", lambda b: b""), ("in upper case", bytes.upper)]]
    return rows


def unavailable_line(identifier):
    return {"type": "error", "code": "recognizer_unavailable",
            "message": "No speech recognizer is available for %s." % identifier}


class FailedStartTest(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="speechline-tree-")
        self.addCleanup(shutil.rmtree, self.root, ignore_errors=True)
        self.binary, self.model = relocated_tree(self.root)
        self.dictionary = os.path.join(self.model, "cmudict-en-us.dict")
        os.remove(self.dictionary)

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
            (("--locale", "en_US.UTF-8/../en-us"), "en_US.UTF-8/../en-us"),
        ]:
            with self.subTest(identifier=identifier):
                self.assertOnlyLine(args, unavailable_line(identifier))

    def test_models_found_by_a_user_without_a_sound_server(self):
        # A user's own models: a complete fr-fr, an empty de-de.
        data = os.path.join(self.root, "home", ".local", "share")
        os.makedirs(os.path.join(data, "speechline", "models", "de-de"))
        os.symlink(MODEL, os.path.join(data, "speechline", "models", "fr-fr"))
        subprocess.run(["chown", "-hR", "65534:65534", self.root], check=True)
        user = ("--reuid=65534", "--regid=65534", "--clear-groups", "env", "HOME=/nonexistent",
                "PULSE_SERVER=unix:/nonexistent")
        for variables, identifier, expected in [
            *[((), english, NO_MICROPHONE)
              for english in ("en-GB", "en_AU", "en", "en_GB.UTF-8", "en-US-u-ca-gregory")],
            (("XDG_DATA_HOME=" + data,), "fr-FR", NO_MICROPHONE),
            (("HOME=" + os.path.dirname(os.path.dirname(data)),), "fr_FR", NO_MICROPHONE),
            (("XDG_DATA_DIRS=share:" + data,), "fr-FR", NO_MICROPHONE),
            (("XDG_DATA_HOME=" + data,), "de-DE", UNAVAILABLE),
            ((), "fr_FR.UTF-8", unavailable_line("fr_FR.UTF-8")),
        ]:
            with self.subTest(variables=variables, identifier=identifier):
                args = (*user, *variables, BINARY, "--locale", identifier)
                self.assertOnlyLine(args, expected, binary="setpriv")

    def test_unreadable_dictionary(self):
        for case, make in [("missing", lambda path: None),
                           # Opening a FIFO blocks until a writer comes.
                           ("a FIFO", os.mkfifo)]:
            with self.subTest(dictionary=case):
                make(self.dictionary)
                self.assertOnlyLine(("--locale", "en-US"), UNAVAILABLE, binary=self.binary)

    def test_damaged_models(self):
        os.symlink(os.path.join(MODEL, "cmudict-en-us.dict"), self.dictionary)
        desktop = PulseDesktop()
        self.addCleanup(desktop.close)
        for name, file, damage in damages(random.Random(2026)):
            with self.subTest(name):
                path = os.path.join(self.model, "en-us", file)
                if not os.path.islink(path):
                    path = os.path.join(self.model, file)
                restore = damage_model_file(path, damage)
                run = Speechline(("--locale", "en-US"), env=desktop.env, binary=self.binary)
                self.addCleanup(run.kill)
                try:
                    # Whatever the recognizer does (crash, exit, allocate without bound), the
                    # run ends with the model error, and nothing on stderr.
                    ending = check_run(run, run.stop(after=START_BOUND))
                finally:
                    restore()
                self.assertEqual(ending, "recognition failed")
                self.assertEqual(run.events()[-2]["message"], MODEL_ERROR)
                print("\n%s: ended %.2f s after its start" % (name, run.took), end=" ")

    def test_recording_with_relocated_models(self):
        os.symlink(os.path.join(MODEL, "cmudict-en-us.dict"), self.dictionary)
        # Another language's copy of it, with what an archive may leave: words not formatted.
        french = os.path.join(os.path.dirname(self.model), "fr-fr")
        shutil.copytree(self.model, french, symlinks=True)
        os.makedirs(os.path.join(french, "en-us", "doc"))
        os.symlink("nowhere", os.path.join(french, "en-us", "LICENSE"))
        mdef = os.path.join(self.model, "en-us", "mdef")
        os.remove(mdef)
        with open(mdef, "w") as f:
            f.write("this is not a model definition\n")
        desktop = PulseDesktop()
        self.addCleanup(desktop.close)
        # locale, how the run ends, the final's text for goforward (None: no result at all)
        for locale, ending, final in [
            ("en-US", "recognition failed", None),
            ("fr-FR", "final", "go forward ten meters"),
            ("en_GB.UTF-8", "final", "Go forward 10 meters"),  # US English from Debian
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
