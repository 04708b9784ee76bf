"""The Debian package: built with CPack from this build tree, unpacked into a temporary root with
dpkg-deb -x (never installed), and the unpacked binary run for real."""

import gzip
import os
import re
import shutil
import subprocess
import tempfile
import unittest

from support import (TIMEOUT, PulseDesktop, Speechline, normalize, reference_words,
                     word_error_rate)

BUILD = os.environ["SPEECHLINE_BUILD_DIR"]
SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


def run(*args):
    return subprocess.run(args, check=True, capture_output=True, text=True, timeout=TIMEOUT).stdout


def needed_libraries(binary):
    """The sonames in the binary's dynamic section."""
    return [line.split("[", 1)[1].rstrip("]") for line in run("readelf", "-d", binary).splitlines()
            if "(NEEDED)" in line]


def owning_package(path):
    """The Debian package that ships the library at `path`."""
    real = os.path.realpath(path)
    # dpkg records some libraries under /lib and some under /usr/lib; both are one place now.
    candidates = [real, real[len("/usr"):]] if real.startswith("/usr/lib/") else [real]
    for candidate in candidates:
        found = subprocess.run(["dpkg", "-S", candidate], capture_output=True, text=True)
        if found.returncode == 0:
            return found.stdout.split(":", 1)[0]
    raise AssertionError("no package ships " + path)


def resolved_libraries(binary):
    """Soname to path, as the dynamic linker resolves them for `binary`."""
    paths = {}
    for line in run("ldd", binary).splitlines():
        if " => " in line:
            soname, rest = line.strip().split(" => ", 1)
            paths[soname] = rest.split(" (", 1)[0]
    return paths


class DebianPackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="speechline-package-")
        output = os.path.join(cls.work, "out")
        run("cpack", "-G", "DEB", "--config", os.path.join(BUILD, "CPackConfig.cmake"),
            "-B", output)
        packages = [name for name in os.listdir(output) if name.endswith(".deb")]
        assert len(packages) == 1, packages
        cls.deb = os.path.join(output, packages[0])
        cls.root = os.path.join(cls.work, "root")
        run("dpkg-deb", "-x", cls.deb, cls.root)
        cls.binary = os.path.join(cls.root, "usr", "bin", "speechline")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def field(self, name):
        return run("dpkg-deb", "-f", self.deb, name).strip()

    def test_control_fields(self):
        self.assertEqual(self.field("Package"), "speechline")
        self.assertRegex(self.field("Maintainer"), r"^[^<>]+ <[^@<>]+@[^<>]+>$")
        self.assertTrue(self.field("Description").split("\n")[0].strip())
        self.assertGreater(len(self.field("Description").splitlines()), 2, "a long description")

    def test_depends_names_every_linked_library_and_the_english_model(self):
        depends = {entry.strip().split(" ")[0] for entry in self.field("Depends").split(",")}
        self.assertIn("pocketsphinx-en-us", depends)
        paths = resolved_libraries(self.binary)
        for soname in needed_libraries(self.binary):
            with self.subTest(soname=soname):
                self.assertIn(owning_package(paths[soname]), depends)

    def test_contents(self):
        listed = run("dpkg-deb", "-c", self.deb)
        for path in ["./usr/bin/speechline", "./usr/share/man/man1/speechline.1.gz",
                     "./usr/share/speechline/models/", "./usr/share/speechline/models/README",
                     "./usr/share/doc/speechline/protocol.md",
                     "./usr/share/doc/speechline/examples/python/transcribe.py",
                     "./usr/share/doc/speechline/examples/node/transcribe.js"]:
            with self.subTest(path=path):
                self.assertIn(" " + path + "\n", listed)
        self.assertNotIn("scripted", listed)

    def test_manual_page_renders_without_warnings(self):
        with gzip.open(os.path.join(self.root, "usr/share/man/man1/speechline.1.gz"), "rb") as f:
            page = f.read()
        with open(os.path.join(SOURCE, "docs", "speechline.1"), "rb") as f:
            self.assertEqual(page, f.read())
        rendered = subprocess.run(["groff", "-man", "-Tutf8", "-ww"], input=page,
                                  capture_output=True, timeout=TIMEOUT)
        self.assertEqual(rendered.returncode, 0)
        self.assertEqual(rendered.stderr, b"")
        # Bold and underline come as overstrikes: a character, a backspace, the character again.
        text = re.sub(rb".\x08", b"", rendered.stdout)
        self.assertIn(b"recognizer_unavailable", text)

    def test_unpacked_binary_reports_a_locale_without_a_model(self):
        speechline = Speechline(("--locale", "xx-XX"), binary=self.binary)
        self.addCleanup(speechline.kill)
        status = speechline.finish()
        self.assertEqual(speechline.out.data(),
                         b'{"type":"error","code":"recognizer_unavailable",'
                         b'"message":"No speech recognizer is available for xx-XX."}\n')
        self.assertEqual(status, 1)
        self.assertEqual(speechline.err.data(), b"")

    def test_unpacked_binary_hears_speech(self):
        desktop = PulseDesktop()
        self.addCleanup(desktop.close)
        speechline = Speechline(("--locale", "en-US"), env=desktop.env, binary=self.binary)
        self.addCleanup(speechline.kill)
        self.assertEqual(speechline.wait_for_event(), {"type": "state", "state": "recording"})
        desktop.play("goforward")
        status = speechline.finish()
        events = speechline.events()
        self.assertEqual(status, 0, events)
        self.assertEqual(events[-1], {"type": "state", "state": "stopped"})
        self.assertIs(events[-2]["isFinal"], True, events)
        heard = normalize(events[-2]["text"])
        self.assertLessEqual(word_error_rate(reference_words("goforward"), heard), 0.5, heard)


if __name__ == "__main__":
    unittest.main()
