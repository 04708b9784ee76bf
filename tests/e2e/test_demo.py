"""scripts/demo as a newcomer runs it, with the packages present and the binary given: the live
event stream, its exit-status line, Ctrl-C while speech plays, and nothing left behind."""

import json
import os
import pathlib
import shutil
import signal
import tempfile
import unittest

from support import BINARY, Run

DEMO = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "demo")


def processes_naming(text):
    """The processes whose command line or environment holds `text`."""
    found = []
    for proc in pathlib.Path("/proc").glob("[0-9]*"):
        try:
            if text.encode() in (proc / "cmdline").read_bytes() + (proc / "environ").read_bytes():
                found.append(proc.name)
        except OSError:
            pass  # gone meanwhile
    return found


class DemoTest(unittest.TestCase):
    def test_demo(self):
        # As root it installs what is missing: here everything, with an apt-get that, like the
        # real one, writes its progress to standard output.
        fakes = tempfile.mkdtemp(prefix="speechline-demo-bin-")
        self.addCleanup(shutil.rmtree, fakes, True)
        for name, body in (("dpkg-query", "exit 1"), ("apt-get", "echo Setting up")):
            with open(os.path.join(fakes, name), "w") as f:
                f.write("#!/bin/sh\n%s\n" % body)
            os.chmod(f.name, 0o755)
        path = (fakes + os.pathsep if os.geteuid() == 0 else "") + os.environ["PATH"]
        for interrupted in (False, True):
            with self.subTest(interrupted=interrupted):
                # Every process the demo starts inherits TMPDIR, and its sound server lives there.
                tmp = tempfile.mkdtemp(prefix="speechline-demo-test-")
                self.addCleanup(shutil.rmtree, tmp, True)
                demo = Run(["bash", DEMO, BINARY], env=dict(os.environ, TMPDIR=tmp, PATH=path))
                self.addCleanup(demo.kill)
                if interrupted:
                    demo.wait_for(lambda line: '"result"' in line)
                    demo.process.send_signal(signal.SIGINT)
                status = demo.finish()
                events = [json.loads(line) for line in demo.out.text()]

                self.assertEqual(status, 0, demo.err.text())
                self.assertEqual(events[0], {"type": "state", "state": "recording"})
                self.assertEqual(events[-1], {"type": "state", "state": "stopped"})
                finals = [e for e in events if e.get("isFinal") is True]
                self.assertEqual(finals, [] if interrupted else [events[-2]], events)
                self.assertEqual(demo.err.text()[-1], "# exit status 0")
                self.assertEqual(os.listdir(tmp), [])
                self.assertEqual(processes_naming(tmp), [])


if __name__ == "__main__":
    unittest.main()
