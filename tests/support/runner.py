"""Child processes whose output lines are kept, as they come, with the time each came."""

import json
import os
import signal
import subprocess
import tempfile
import threading
import time

from .clips import BINARY, TIMEOUT

SCRIPTED = os.environ.get("SPEECHLINE_SCRIPTED", "speechline-scripted")


def cpu_seconds(pid):
    """User and system CPU time of a process, from /proc."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def within(seconds, done):
    """Polls `done` until it gives something true or `seconds` pass; returns its last answer."""
    deadline = time.monotonic() + seconds
    while not (answer := done()) and time.monotonic() < deadline:
        time.sleep(0.005)
    return answer


class Lines:
    """One output stream, read on a thread of its own: `lines` holds (time.monotonic() at
    arrival, the line's bytes; a last line may lack its newline) and, given the writer's pid,
    `cpu` the writer's CPU seconds at each arrival."""

    def __init__(self, stream, pid=None):
        self.lines, self.cpu, self.ended = [], [], False
        self.changed = threading.Condition()
        threading.Thread(target=self._read, args=(stream, pid), daemon=True).start()

    def _read(self, stream, pid):
        for line in stream:
            with self.changed:
                self.lines.append((time.monotonic(), line))
                if pid is not None:
                    self.cpu.append(cpu_seconds(pid))
                self.changed.notify_all()
        with self.changed:
            self.ended = True
            self.changed.notify_all()

    def wait_end(self, timeout):
        """True once the stream has ended, False if it is still open after `timeout` s."""
        with self.changed:
            return self.changed.wait_for(lambda: self.ended, max(0, timeout))

    def data(self):
        return b"".join(line for _, line in self.lines)

    def text(self):
        return [line.decode(errors="replace").rstrip("\n") for _, line in self.lines]


class Run:
    """A child process with both output streams read as they come."""

    def __init__(self, args, env=None, cpu=False, group=False):
        """`group`: in a process group of its own, as a shell starts a job."""
        # speechline finds models through these: no run may find the developer's own.
        env = {k: v for k, v in (os.environ if env is None else env).items()
               if k not in ("XDG_DATA_HOME", "XDG_DATA_DIRS")}
        self.started = time.monotonic()
        self.process = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, env=env,
                                        process_group=0 if group else None)
        self.out = Lines(self.process.stdout, self.process.pid if cpu else None)
        self.err = Lines(self.process.stderr)

    def wait_for(self, predicate, stream=None, timeout=TIMEOUT):
        """The first line of `stream` (standard output by default), as text, that satisfies
        `predicate`; AssertionError if the stream ends or time runs out first."""
        stream = stream or self.out
        deadline = time.monotonic() + timeout
        with stream.changed:
            while not (found := [line for line in stream.text() if predicate(line)]):
                if stream.ended or not stream.changed.wait(deadline - time.monotonic()):
                    raise AssertionError("no such line; stdout %r, stderr %r"
                                         % (self.out.text(), self.err.text()))
        return found[0]

    def finish(self, timeout=TIMEOUT):
        """Waits for the exit and the end of both streams; returns the exit status."""
        status = self.process.wait(timeout=timeout)
        self.took = time.monotonic() - self.started
        self.out.wait_end(timeout)
        self.err.wait_end(timeout)
        return status

    def stop(self, after, signum=signal.SIGINT, grace=10):
        """Lets the run go on for at most `after` seconds, then sends it `signum`, and SIGKILL
        if it is still there `grace` seconds later; returns the exit status. A run that should
        have ended by itself so shows what it did instead, and never hangs the test."""
        for sent, wait in ((signum, after), (signal.SIGKILL, grace)):
            if self.out.wait_end(wait):
                break
            self.process.send_signal(sent)
        return self.finish()

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        # A grandchild left behind by a failed test may hold a stream open a while longer.
        for lines, stream in ((self.out, self.process.stdout), (self.err, self.process.stderr)):
            if lines.wait_end(5):
                stream.close()


class Speechline(Run):
    """The real binary, with its standard output read as events."""

    def __init__(self, args=("--locale", "en-US"), env=None, binary=None, group=False):
        super().__init__([binary or BINARY, *args], env, group=group)

    def events(self):
        return [json.loads(line) for _, line in self.out.lines]

    def wait_for_event(self, predicate=lambda event: True, timeout=TIMEOUT):
        """The first event that satisfies `predicate`; AssertionError if none comes."""
        return json.loads(self.wait_for(lambda line: predicate(json.loads(line)),
                                        timeout=timeout))


class Scripted(Run):
    """speechline-scripted playing `script` (the script's text without its `log` line), its
    platform calls logged to a file that calls() reads."""

    def __init__(self, script, args=("--locale", "en-US"), binary=None):
        self.dir = tempfile.TemporaryDirectory()
        self.log = os.path.join(self.dir.name, "calls.log")
        path = os.path.join(self.dir.name, "run.script")
        with open(path, "w") as f:
            f.write('log "%s"\n%s\n' % (self.log, script))
        super().__init__([binary or SCRIPTED, *args], dict(os.environ, SPEECHLINE_SCRIPT=path))

    def calls(self):
        try:
            with open(self.log) as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def kill(self):
        super().kill()
        self.dir.cleanup()
