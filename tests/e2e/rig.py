"""The end-to-end test rig: a private PulseAudio daemon with a virtual microphone, recorded
speech to play into it, and the real speechline binary read line by line as it runs."""

import json
import os
import queue
import re
import shutil
import signal
import subprocess
import tempfile
import threading
import time

BINARY = os.environ.get("SPEECHLINE", "speechline")
DATA = "/usr/share/pocketsphinx/test/data"
LIBRIVOX = os.path.join(DATA, "librivox")
CLIPS = {
    "0870": os.path.join(LIBRIVOX, "sense_and_sensibility_01_austen_64kb-0870.wav"),
    "0880": os.path.join(LIBRIVOX, "sense_and_sensibility_01_austen_64kb-0880.wav"),
    "0890": os.path.join(LIBRIVOX, "sense_and_sensibility_01_austen_64kb-0890.wav"),
    "goforward": os.path.join(DATA, "goforward.raw"),
}
MODEL = "/usr/share/pocketsphinx/model/en-us"

# Bounds that catch a hang, never performance targets.
TIMEOUT = 60


def reference_words(clip):
    if clip == "goforward":
        return "go forward ten meters".split()
    clip_id = os.path.basename(CLIPS[clip])[:-4]
    with open(os.path.join(LIBRIVOX, "transcription")) as f:
        for line in f:
            if "(%s)" % clip_id in line:
                return normalize(re.sub(r"<s>|</s>|\(.*\)", " ", line))
    raise KeyError(clip)


def normalize(text):
    # The recognizer writes "mr" where the references say "mister".
    return ["mr" if w == "mister" else w for w in text.lower().split()]


def word_error_rate(reference, hypothesis):
    """Levenshtein distance over words, divided by the reference length."""
    previous = list(range(len(hypothesis) + 1))
    for i, ref in enumerate(reference, 1):
        current = [i]
        for j, hyp in enumerate(hypothesis, 1):
            current.append(min(previous[j] + 1, current[j - 1] + 1,
                               previous[j - 1] + (ref != hyp)))
        previous = current
    return previous[-1] / len(reference)


def pocketsphinx_baseline(clip):
    """What Debian's own recognizer gets on the 16 kHz original, as a list of words."""
    args = ["pocketsphinx_continuous", "-infile", CLIPS[clip], "-logfn", "/dev/null"]
    output = subprocess.run(args, capture_output=True, text=True, timeout=TIMEOUT).stdout
    return normalize(" ".join(output.splitlines()))


class PulseServer:
    """A private PulseAudio daemon whose default source is the monitor of a null sink."""

    def __init__(self, rate=48000, channels=2):
        self.dir = tempfile.mkdtemp(prefix="speechline-pulse-")
        runtime = os.path.join(self.dir, "xdg")
        os.makedirs(runtime, mode=0o700)
        os.makedirs(os.path.join(self.dir, "home"))
        self.env = dict(os.environ, XDG_RUNTIME_DIR=runtime, HOME=os.path.join(self.dir, "home"))
        self.env.pop("PULSE_SERVER", None)
        subprocess.run(
            ["pulseaudio", "-n", "--daemonize=yes", "--exit-idle-time=-1", "--use-pid-file=yes",
             "-L", "module-native-protocol-unix",
             "-L", "module-null-sink sink_name=mic rate=%d channels=%d norewinds=1" % (rate, channels),
             "--log-target=file:" + os.path.join(self.dir, "pulse.log")],
            env=self.env, check=True, stderr=subprocess.DEVNULL, timeout=TIMEOUT)
        try:
            self.pactl("set-default-source", "mic.monitor")
        except BaseException:
            self.close()
            raise

    def pactl(self, *args):
        return subprocess.run(["pactl", *args], env=self.env, check=True, capture_output=True,
                              text=True, timeout=TIMEOUT).stdout

    def pid(self):
        with open(os.path.join(self.env["XDG_RUNTIME_DIR"], "pulse", "pid")) as f:
            return int(f.read())

    def play(self, clip):
        """Starts playing a clip into the virtual microphone; returns the player process."""
        args = ["paplay", "-d", "mic"]
        if CLIPS[clip].endswith(".raw"):
            args += ["--raw", "--rate=16000", "--channels=1", "--format=s16le"]
        return subprocess.Popen(args + [CLIPS[clip]], env=self.env)

    def kill(self):
        os.kill(self.pid(), signal.SIGKILL)

    def close(self):
        try:
            pid = self.pid()
            os.kill(pid, signal.SIGKILL)
            # Gone before its directory is, so that no daemon outlives the test.
            for _ in range(200):
                if not os.path.exists("/proc/%d" % pid):
                    break
                time.sleep(0.01)
        except (OSError, ValueError):
            pass
        shutil.rmtree(self.dir, ignore_errors=True)


class Speechline:
    """The real binary, with its events read as they arrive."""

    def __init__(self, args=("--locale", "en-US"), env=None, binary=None):
        self.started = time.monotonic()
        self.process = subprocess.Popen([binary or BINARY, *args], stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, env=env)
        self.lines = queue.Queue()
        self.events = []  # (seconds since start, raw line, parsed event)
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.put((time.monotonic() - self.started, line))
        self.lines.put(None)

    def next_event(self, timeout=TIMEOUT):
        """The next event, or None at the end of the stream."""
        item = self.lines.get(timeout=timeout)
        if item is None:
            self.lines.put(None)
            return None
        at, line = item
        event = json.loads(line)
        self.events.append((at, line, event))
        return event

    def wait_for(self, predicate, timeout=TIMEOUT):
        deadline = time.monotonic() + timeout
        while True:
            event = self.next_event(max(0.01, deadline - time.monotonic()))
            if event is None or predicate(event):
                return event

    def finish(self, timeout=TIMEOUT):
        """Reads to the end; returns the exit status."""
        deadline = time.monotonic() + timeout
        while self.next_event(max(0.01, deadline - time.monotonic())) is not None:
            pass
        status = self.process.wait(timeout=max(0.01, deadline - time.monotonic()))
        self.stderr = self.process.stderr.read()
        return status

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


def results(events):
    return [e for e in events if e["type"] == "result"]
