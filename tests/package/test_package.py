"""The Debian package as its README builds it: a Release build of its own, configured for /usr,
packaged with CPack, unpacked into a temporary root with dpkg-deb -x (never installed), and the
unpacked binary run for real."""

import gzip
import os
import re
import shutil
import subprocess
import tempfile
import unittest

from support import (TIMEOUT, PulseDesktop, Run, Speechline, normalize, reference_words,
                     word_error_rate)

SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


def run(*args, timeout=TIMEOUT):
    return subprocess.run(args, check=True, capture_output=True, text=True,
                          timeout=timeout).stdout


def cpack(build, prefix):
    """Configures a Release build for `prefix` and runs cpack -G DEB in it."""
    run("cmake", "-S", SOURCE, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
        "-DCMAKE_INSTALL_PREFIX=" + prefix, "-DSPEECHLINE_TESTS=OFF")
    if prefix == "/usr":
        run("cmake", "--build", build, "-j", str(os.cpu_count()), timeout=600)
    return subprocess.run(["cpack", "-G", "DEB"], cwd=build, capture_output=True, text=True,
                          timeout=TIMEOUT)


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
        build = os.path.join(cls.work, "build")
        packaged = cpack(build, "/usr")
        assert packaged.returncode == 0, packaged.stdout + packaged.stderr
        packages = [name for name in os.listdir(build) if name.endswith(".deb")]
        assert len(packages) == 1, packages
        cls.deb = os.path.join(build, packages[0])
        cls.root = os.path.join(cls.work, "root")
        run("dpkg-deb", "-x", cls.deb, cls.root)
        cls.binary = os.path.join(cls.root, "usr", "bin", "speechline")
        cls.doc = os.path.join(cls.root, "usr", "share", "doc", "speechline")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def field(self, name):
        return run("dpkg-deb", "-f", self.deb, name).strip()

    def test_control_fields_and_versioned_dependencies(self):
        self.assertEqual(self.field("Package"), "speechline")
        self.assertRegex(self.field("Maintainer"), r"^[^<>]+ <[^@<>]+@[^<>]+>$")
        self.assertTrue(self.field("Description").split("\n")[0].strip())
        self.assertGreater(len(self.field("Description").splitlines()), 2, "a long description")
        # Every linked library is covered by a package with a version, and the model is named.
        depends = dict(re.fullmatch(r"(\S+)\s*(.*)", entry.strip()).groups()
                       for entry in self.field("Depends").split(","))
        self.assertEqual(depends.get("pocketsphinx-en-us"), "")
        self.assertEqual(depends.get("python3"), "")  # speechline-dictate's
        self.assertIn("xdotool | wtype", self.field("Recommends").split(", "))
        paths = resolved_libraries(self.binary)
        for soname in needed_libraries(self.binary):
            with self.subTest(soname=soname):
                self.assertRegex(depends.get(owning_package(paths[soname]), ""),
                                 r"^\(>= \S+\)$", depends)

    def test_documentation_keeps_the_repository_layout(self):
        listed = run("dpkg-deb", "-c", self.deb)
        for path in ["./usr/bin/speechline", "./usr/share/man/man1/speechline.1.gz",
                     "./usr/bin/speechline-dictate", "./usr/share/man/man1/speechline-dictate.1.gz",
                     "./usr/share/doc/speechline/docs/dictation.md",
                     "./usr/share/speechline/models/", "./usr/share/speechline/models/README",
                     "./usr/share/doc/speechline/README.md",
                     "./usr/share/doc/speechline/docs/protocol.md",
                     "./usr/share/doc/speechline/examples/python/transcribe.py",
                     "./usr/share/doc/speechline/examples/node/transcribe.js"]:
            with self.subTest(path=path):
                self.assertIn(" " + path + "\n", listed)
        self.assertNotIn("scripted", listed)
        for folder, _, names in os.walk(self.doc):
            for name in (name for name in names if name.endswith(".md")):
                with open(os.path.join(folder, name)) as f:
                    links = re.findall(r"\]\(([^)#:]+)[)#]", f.read())  # neither URLs nor anchors
                for link in links:
                    with self.subTest(document=name, link=link):
                        self.assertTrue(os.path.exists(os.path.join(folder, link)))

    def test_copyright_is_machine_readable_with_the_licence(self):
        with open(os.path.join(self.doc, "copyright")) as f:
            header, files, licence = f.read().rstrip("\n").split("\n\n")
        with open(os.path.join(SOURCE, "LICENSE")) as f:
            holder, terms = re.search(r"Copyright \(c\) ([^\n]+)\n\n(.*)", f.read(), re.S).groups()
        self.assertEqual(header.split("\n")[0], "Format: https://www.debian.org/doc/"
                         "packaging-manuals/copyright-format/1.0/")
        self.assertEqual(files, "Files: *\nCopyright: %s\nLicense: Expat" % holder)
        # The licence text comes one space in, with "." for an empty line.
        self.assertEqual(re.sub(r"^ \.?", "", licence, flags=re.M),
                         "License: Expat\n" + terms.strip())

    def test_manual_page_shows_the_version_and_renders_without_warnings(self):
        with gzip.open(os.path.join(self.root, "usr/share/man/man1/speechline.1.gz"), "rb") as f:
            page = f.read()
        with open(os.path.join(SOURCE, "CMakeLists.txt")) as f:
            released = re.search(r"set\(SPEECHLINE_RELEASE_DATE (\S+)\)", f.read())[1]
        self.assertEqual(page.split(b"\n")[0].decode(), '.TH SPEECHLINE 1 "%s" "speechline %s" '
                         '"User Commands"' % (released, self.field("Version")))
        rendered = subprocess.run(["groff", "-man", "-Tutf8", "-ww"], input=page,
                                  capture_output=True, timeout=TIMEOUT)
        self.assertEqual(rendered.returncode, 0)
        self.assertEqual(rendered.stderr, b"")
        # Bold and underline come as overstrikes: a character, a backspace, the character again.
        text = re.sub(rb".\x08", b"", rendered.stdout)
        self.assertIn(b"recognizer_unavailable", text)

    def test_unpacked_binary_looks_for_models_under_usr_share(self):
        trace = os.path.join(self.work, "trace")
        speechline = Run(["strace", "-f", "-qq", "-e", "trace=%file", "-o", trace, self.binary,
                          "--locale", "xx-XX"], env=dict(os.environ, HOME=self.work))
        self.addCleanup(speechline.kill)
        status = speechline.finish()
        self.assertEqual(speechline.out.data(),
                         b'{"type":"error","code":"recognizer_unavailable",'
                         b'"message":"No speech recognizer is available for xx-XX."}\n')
        self.assertEqual(status, 1)
        self.assertEqual(speechline.err.data(), b"")
        with open(trace) as f:
            looked = re.findall(r'"([^"]*/xx-xx)"', f.read())
        # The user's models, the unpacked tree's own, then the system's (XDG_DATA_DIRS's
        # default), where the ones compiled in for the package are too.
        self.assertEqual([path for path in looked if not path.startswith(self.root)],
                         [self.work + "/.local/share/speechline/models/xx-xx",
                          "/usr/local/share/speechline/models/xx-xx",
                          "/usr/share/speechline/models/xx-xx"])

    def test_a_package_of_another_prefix_is_refused(self):
        refused = cpack(os.path.join(self.work, "elsewhere"), "/opt/speechline")
        self.assertNotEqual(refused.returncode, 0)
        self.assertIn("-DCMAKE_INSTALL_PREFIX=/usr", refused.stdout + refused.stderr)

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
