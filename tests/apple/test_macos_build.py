"""What the macOS build puts into and around the binary: the embedded Info.plist, and a
signature that the packaging rules leave intact.

macOS ends a process that asks for speech or microphone permission without the matching usage
description, and an arm64 Mac refuses to launch a binary whose signature no longer matches it,
so either fault would only show on a Mac, at the first run.
"""

import os
import pathlib
import plistlib
import re
import subprocess
import tempfile
import unittest

REPO = pathlib.Path(__file__).resolve().parents[2]
INFO_PLIST = REPO / "src" / "platform" / "apple" / "Info.plist"
CMAKE = os.environ.get("CMAKE_COMMAND", "cmake")

# The packaging rules as a Mac evaluates them: APPLE set, the binary as a target of its own.
PROBE = """cmake_minimum_required(VERSION 3.20)
project(packaging_probe CXX)
set(APPLE TRUE)
add_executable(speechline main.cc)
include("{rules}")
"""


class InfoPlistTest(unittest.TestCase):
    def test_names_the_tool_and_explains_both_permissions(self):
        with INFO_PLIST.open("rb") as file:
            info = plistlib.load(file)
        for key in ("CFBundleIdentifier", "CFBundleName", "NSMicrophoneUsageDescription",
                    "NSSpeechRecognitionUsageDescription"):
            with self.subTest(key):
                self.assertIsInstance(info.get(key), str)
                self.assertNotEqual("", info[key].strip())


class PackagingKeepsSignatureTest(unittest.TestCase):
    """The build signs the binary after linking; stripping it later invalidates the signature."""

    def test_apple_package_is_not_stripped_after_signing(self):
        with tempfile.TemporaryDirectory() as directory:
            source, build = pathlib.Path(directory, "src"), pathlib.Path(directory, "build")
            source.mkdir()
            (source / "main.cc").write_text("int main() { return 0; }\n")
            rules = (REPO / "packaging" / "packaging.cmake").as_posix()
            (source / "CMakeLists.txt").write_text(PROBE.format(rules=rules))
            subprocess.run([CMAKE, "-S", source, "-B", build], check=True, capture_output=True)
            config = (build / "CPackConfig.cmake").read_text()
            install_script = (build / "cmake_install.cmake").read_text()

        self.assertIn('set(CPACK_GENERATOR "TGZ")', config, "the probe missed the Apple rules")
        strip = re.search(r'set\(CPACK_STRIP_FILES "([^"]*)"\)', config)
        strips = strip is not None and strip.group(1).upper() not in ("", "0", "OFF", "NO", "FALSE")
        # Only a signature made after the strip of the installed binary would hold.
        stripped_at = install_script.rfind("CMAKE_INSTALL_DO_STRIP")
        signs_again = "codesign" in install_script[max(stripped_at, 0):]
        self.assertFalse(strips and not signs_again,
                         "CPack strips the macOS binary after the build signed it")

if __name__ == "__main__":
    unittest.main()
