"""The Info.plist that the macOS build embeds in the binary.

macOS ends a process that asks for speech or microphone permission without the matching usage
description, so a malformed file or a missing key would only show on a Mac, at the first run.
"""

import pathlib
import plistlib
import unittest

INFO_PLIST = pathlib.Path(__file__).resolve().parents[2] / "src" / "platform" / "apple" / "Info.plist"


class InfoPlistTest(unittest.TestCase):
    def test_names_the_tool_and_explains_both_permissions(self):
        with INFO_PLIST.open("rb") as file:
            info = plistlib.load(file)
        for key in ("CFBundleIdentifier", "CFBundleName", "NSMicrophoneUsageDescription",
                    "NSSpeechRecognitionUsageDescription"):
            with self.subTest(key):
                self.assertIsInstance(info.get(key), str)
                self.assertNotEqual("", info[key].strip())


if __name__ == "__main__":
    unittest.main()
