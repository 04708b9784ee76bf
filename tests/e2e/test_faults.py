"""Faults around the real binary: a parent that goes away, a user at the limit of threads."""

import contextlib
import ctypes
import glob
import os
import pwd
import signal
import subprocess
import sys
import time
import unittest

from support import BINARY, PulseDesktop, Run, check_run, relocated_tree, within

PR_SET_CHILD_SUBREAPER = 36
# A parent that starts speechline, reads its first line, gives its pid and waits to be killed.
PARENT = """import signal, subprocess, sys
child = subprocess.Popen(sys.argv[1:], stdout=subprocess.PIPE)
child.stdout.readline()
print(child.pid, flush=True)
signal.pause()
"""


# Tasks: main (and ThreadSanitizer's), then the sound library's loop, recognizer, recognition.
with open(BINARY, "rb") as binary:
    FIRST = 1 + (b"__tsan_init" in binary.read())
TASKS = FIRST + 3


def unused_uid():
    taken = {user.pw_uid for user in pwd.getpwall()}
    for status in glob.glob("/proc/[0-9]*/status"):
        with contextlib.suppress(OSError), open(status) as f:
            taken.update(int(line.split()[1]) for line in f if line.startswith("Uid:"))
    return next(uid for uid in range(43000, 60000) if uid not in taken)


def ended(pid):
    """The wait status of the child `pid` if it has ended, else None."""
    done, status = os.waitpid(pid, os.WNOHANG)
    return (status,) if done else None


def end(pid):
    with contextlib.suppress(ProcessLookupError, ChildProcessError):
        os.kill(pid, signal.SIGKILL)
        os.waitpid(pid, 0)


class FaultTest(unittest.TestCase):
    def setUp(self):
        self.desktop = PulseDesktop()
        self.addCleanup(self.desktop.close)

    def test_parent_closes_the_pipe_while_speech_is_recognised(self):
        # Not a Run: its reader thread would keep the pipe open.
        process = subprocess.Popen([BINARY, "--locale", "en-US"], stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, env=self.desktop.env)
        self.addCleanup(process.stderr.close)
        self.addCleanup(lambda: process.poll() is None and process.kill())
        self.assertIn(b'"recording"', process.stdout.readline())
        self.desktop.play("0870")
        self.assertIn(b'"result"', process.stdout.readline())
        process.stdout.close()
        # SIGPIPE keeps its default: the next write ends the program.
        self.assertEqual(process.wait(timeout=15), -signal.SIGPIPE)
        self.assertEqual(process.stderr.read(), b"")

    def test_parent_killed_while_the_microphone_is_silent(self):
        # The orphan comes to this process, which can then tell when it ends.
        libc = ctypes.CDLL(None)
        libc.prctl(PR_SET_CHILD_SUBREAPER, 1)
        self.addCleanup(libc.prctl, PR_SET_CHILD_SUBREAPER, 0)
        parent = Run([sys.executable, "-c", PARENT, BINARY, "--locale", "en-US"],
                     env=self.desktop.env)
        self.addCleanup(parent.kill)
        pid = int(parent.wait_for(lambda line: True))
        self.addCleanup(end, pid)
        self.assertTrue(within(10, lambda: len(self.desktop.record_streams()) == 1))
        parent.process.kill()
        parent.process.wait()
        killed = time.monotonic()
        status = within(2, lambda: ended(pid))
        self.assertTrue(status, "still running 2 s after its parent was killed")
        print("\nparent killed -> gone in %.2f s" % (time.monotonic() - killed))
        self.assertEqual(os.WTERMSIG(status[0]), signal.SIGPIPE)
        self.assertTrue(within(2, lambda: self.desktop.record_streams() == []),
                        "its record stream is still on the server")

    def test_each_thread_refused(self):
        # root is exempt from RLIMIT_NPROC: these runs are another user's, on a socket open to all.
        folder, server = self.desktop.open_to_anyone()
        (binary, _), uid = relocated_tree(folder), str(unused_uid())
        for limit in range(1, TASKS + 1):
            with self.subTest(nproc=limit):
                run = Run(["setpriv", "--reuid", uid, "--regid", uid, "--clear-groups", "prlimit",
                           "--nproc=%d" % limit, binary, "--locale", "en-US"],
                          env=dict(self.desktop.env, PULSE_SERVER=server))
                self.addCleanup(run.kill)
                if limit == TASKS:
                    run.wait_for(lambda line: "recording" in line)
                    self.desktop.play("goforward")
                ending = ("failed start" if limit <= FIRST else "final" if limit == TASKS
                          else "recognition failed")
                self.assertEqual(check_run(run, run.finish()), ending, run.out.text())


if __name__ == "__main__":
    unittest.main()
