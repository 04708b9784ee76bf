#!/usr/bin/env python3
"""End-to-end benchmarks of the real binary, side by side with Debian's pocketsphinx_continuous.

A private desktop (tests/support) carries two microphones, 48 kHz stereo and 44.1 kHz mono, each
a real source fed by a null sink. For each microphone and clip, two kinds of run:

- live: speechline and `pocketsphinx_continuous -inmic yes` start together on the same default
  source; once both models have loaded the clip plays. Gives CPU, peak memory, word error rate,
  partial latency and end of speech -> final.
- startup: speechline alone, the clip played the moment "recording" arrives, so that most of the
  model load happens while speech comes in. Gives exec -> "recording" and shows whether audio
  heard during the load is kept.

The bare engine: `pocketsphinx_continuous -infile` decodes each 16 kHz original alone, once a
round, beside nothing; its CPU seconds of whole runs are set against those of speechline's
start-up runs (exec to exit, model load included, the clip played at "recording").

exec -> "recording" is also taken on a private PipeWire desktop (PipeWire's PulseAudio service),
speechline stopped at "recording", as many times as there are start-up runs on one microphone.

Audio time is tied to wall time by a third capture stream on the same microphone, which stamps
the arrival of the clip's first loud sample: the playback path up to it (paplay start-up,
the server's mixing and its record fragment) is measured in every run and not counted against
speechline. Word end times come from `pocketsphinx_continuous -infile ... -time yes` on the
16 kHz original.
"""

import argparse
import array
import collections
import ctypes
import dataclasses
import datetime
import itertools
import json
import os
import platform
import random
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))
from support import (CLIPS, PipeWireDesktop, PulseDesktop, Run, Speechline,  # noqa: E402
                     align, check_run, cpu_seconds, damage_model_file, format_texts, normalize,
                     pcm, percentile,
                     pocketsphinx_baseline, recognizer_of, reference_words, relocated_tree,
                     within, word_errors)

MICS = {
    # name: (source, rate, channels); the first is the desktop's own microphone
    "48k-stereo": ("mic", 48000, 2),
    "44.1k-mono": ("mic441", 44100, 1),
}
ALL_CLIPS = ["0870", "0880", "0890", "goforward"]
KINDS = ["live", "startup"]
BOTH = ("speechline", "pocketsphinx")
RATE = 16000
# A sample this loud marks the clip's onset, both in the file and on the microphone.
ONSET_LEVEL = 200
# Both models take about a second to load; the clip of a live run starts after this.
LOAD_WAIT = 2.5
# How long pocketsphinx_continuous may go on after speechline's exit to print its transcript.
REFERENCE_WAIT = 20.0
REFERENCE_QUIET = 2.5
TIMEOUT = 60
PR_SET_CHILD_SUBREAPER = 36
# Damaged copies of the English model: what the recognizer's libraries do with each (a crash,
# an exit for want of memory under the recognizer's limit, a clean failure, a dictionary that
# shares no word with the language model), and how each is made.
DAMAGES = {
    "mdef cut in half": ("en-us/mdef", lambda b: b[:len(b) // 2]),
    "feat.params asks for 10^8 filters": ("en-us/feat.params",
                                          lambda b: b.replace(b"-nfilt 25", b"-nfilt 100000000")),
    "means of random bytes": ("en-us/means", lambda b: random.Random(1).randbytes(len(b))),
    "dictionary in upper case": ("cmudict-en-us.dict", bytes.upper),
}
# The line bench/services_bench.cc emits.
EMIT_LINE_BYTES = len('{"type":"result","text":"and mr john dashwood had then leisure to '
                      'consider how much there might be prudently in his power","isFinal":false}\n')


@dataclasses.dataclass
class Measurement:
    """One run as it was measured; times are time.monotonic() readings, and each field of the
    second group, set on live runs only, maps "speechline" and "pocketsphinx" to a figure."""
    kind: str
    clip: str
    mic: str
    index: int
    exec_to_recording: float
    played: float  # when the player started
    events: list  # [(time, event)] of speechline's output
    onset: float | None  # when the clip's time 0 passed the microphone; None if never seen
    cpu_at_play: dict | None = None
    whole_cpu: float | None = None  # CPU seconds from exec to exit, start-up runs only
    cpu: dict | None = None
    started: dict | None = None
    ended: dict | None = None
    rss_kib: dict | None = None
    pocketsphinx_lines: list | None = None  # [(time, line)]
    scores: "Scores | None" = None  # filled in by analyse()


# What a clip's original holds, on its own time line (seconds from its first sample): the
# reference words; per reference word, its end time, or None where the original's recognition has
# no word in its place; the end of the last word; the first loud sample; what
# pocketsphinx_continuous -infile makes of it; where the voice-activity detector ends speech.
Clip = collections.namedtuple("Clip", "reference ends speech_end onset_offset baseline "
                              "detector_end")


@dataclasses.dataclass
class Scores:
    """What one Measurement comes to; the latencies and times after speech need the onset."""
    final_text: str
    errors: int
    first_word_heard: bool
    pocketsphinx_errors: int | None = None
    playback_path: float | None = None
    partial_latency: list = dataclasses.field(default_factory=list)
    pocketsphinx_latency: list = dataclasses.field(default_factory=list)
    final_after_speech: float | None = None
    final_after_detector: float | None = None


def main():
    args = parse_arguments()
    if args.from_raw:
        with open(args.from_raw) as f:
            session = json.load(f)
        measured = {f.name for f in dataclasses.fields(Measurement)} - {"scores"}
        runs = [Measurement(**{k: v for k, v in r.items() if k in measured})
                for r in session.pop("runs")]
        args.runs = 1 + max(r.index for r in runs)
    else:
        runs, session = measure(args)

    clips = analyse(runs, args.clips, args.speech_end_tool)
    text = report(runs, clips, args, **session)
    if args.plot:
        plot(runs, args.plot, args.mics, session.get("pipewire_startup", []))
    if args.report:
        with open(args.report, "w") as f:
            f.write(text)
    if args.raw:
        with open(args.raw, "w") as f:
            json.dump(dict(session, runs=[dataclasses.asdict(r) for r in runs]), f, indent=1,
                      default=str)
    print(text)

    # A run that produced no measurement at all is a broken harness, not a slow program.
    if "live" in args.kinds and not any(r.scores.partial_latency for r in runs
                                        if r.kind == "live"):
        sys.exit("no partial latency was measured")
    if not all(r.scores.final_text for r in runs):
        sys.exit("a run ended without a final result")


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--binary", help="the speechline binary to measure")
    parser.add_argument("--services-json", help="Google Benchmark JSON of services_bench")
    parser.add_argument("--runs", type=int, default=5, help="runs of each clip on each microphone")
    parser.add_argument("--clips", nargs="+", default=ALL_CLIPS, choices=ALL_CLIPS)
    parser.add_argument("--mics", nargs="+", default=list(MICS), choices=list(MICS))
    parser.add_argument("--kinds", nargs="+", default=KINDS, choices=KINDS)
    parser.add_argument("--report", help="markdown table to write")
    parser.add_argument("--plot", help="PNG of the latency distributions to write")
    parser.add_argument("--raw", help="JSON of every run to write")
    parser.add_argument("--speech-end-tool", help="bench/speech_end.cc's binary")
    parser.add_argument("--from-raw", help="report on the runs of an earlier --raw file "
                        "instead of measuring")
    args = parser.parse_args()
    if not args.binary and not args.from_raw:
        parser.error("--binary or --from-raw is needed")
    if args.binary and "SPEECHLINE_FORMAT_TEXT" not in os.environ:
        # The reference texts are formatted by the tool that a build puts beside speechline.
        os.environ["SPEECHLINE_FORMAT_TEXT"] = os.path.join(
            os.path.dirname(os.path.abspath(args.binary)), "speechline-format-text")
    return args


# ---------------------------------------------------------------------------------------------
# Measuring

def measure(args):
    """Every run, and what the report says of the session: the service benchmarks, the load
    averages before and after, when the runs started and the commit measured."""
    binary = os.path.abspath(args.binary)
    when = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    loads_before = os.getloadavg()[0]
    # speechline ends with _exit and leaves its recognizer to die with it: the harness takes
    # the orphan in, to reap it and count its CPU and memory with speechline's.
    ctypes.CDLL(None).prctl(PR_SET_CHILD_SUBREAPER, 1)
    desktop = PulseDesktop(*MICS["48k-stereo"][1:])
    for source, rate, channels in list(MICS.values())[1:]:
        desktop.plug_in(source, rate, channels)
    runs, bare, damaged = [], collections.defaultdict(list), []
    try:
        for index in range(args.runs):
            # Once a round, so that a drift in the machine's load reaches both sides alike.
            if "startup" in args.kinds:
                for clip in args.clips:
                    bare[clip].append(bare_engine_cpu(clip))
            if "startup" in args.kinds:
                damaged.extend(damaged_model_runs(desktop, binary))
            for mic, clip, kind in itertools.product(args.mics, args.clips, args.kinds):
                r = speech_run(desktop, binary, index, mic, clip, kind)
                runs.append(r)
                print("run %d %s %-9s %-7s exec→recording %s, final %r"
                      % (index, mic, clip, kind, ms(r.exec_to_recording),
                         r.events[-2][1].get("text")), file=sys.stderr, flush=True)
    finally:
        desktop.close()
    pipewire = pipewire_startups(binary, args.runs * len(args.clips)) if "startup" in args.kinds \
        else []
    services = []
    if args.services_json:
        with open(args.services_json) as f:
            services = json.load(f)["benchmarks"]
    return runs, {"services": services, "loads": (loads_before, os.getloadavg()[0]),
                  "date": when, "commit": current_commit(), "pipewire_startup": pipewire,
                  "bare_engine": bare, "damaged": damaged}


def bare_engine_cpu(clip):
    """CPU seconds of `pocketsphinx_continuous -infile` decoding a clip's 16 kHz original."""
    process = subprocess.Popen(["pocketsphinx_continuous", "-infile", CLIPS[clip],
                                "-logfn", "/dev/null"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    status, cpu, _ = reap(process)
    assert status == 0, status
    return cpu


def damaged_model_runs(desktop, binary):
    """For each of DAMAGES, a run in a relocated tree with that model: seconds from
    "recording" to the error line, and the peak RSS in MiB of speechline and its recognizer
    together."""
    results = []
    recognizer = os.path.join(os.path.dirname(binary), "speechline-recognizer")
    for name, (file, damage) in DAMAGES.items():
        root = tempfile.mkdtemp(prefix="speechline-bench-")
        try:
            tree_binary, model = relocated_tree(root, binary, recognizer)
            damage_model_file(os.path.join(model, file), damage)
            run = Speechline(env=desktop.env, binary=tree_binary)
            try:
                run.wait_for_event()
                pid = within(5, lambda: recognizer_of(run.process.pid))
                peak = PeakRss(run.process.pid, *([pid] if pid else []))
                run.out.wait_end(TIMEOUT)
                rss = peak.total()
                status = reap(run.process)[0]
                reap_orphan(pid)
            finally:
                run.kill()
            assert check_run(run, status) == "recognition failed", run.events()
            error = run.out.lines[-2][0] - run.out.lines[0][0]
            results.append((name, error, rss / 1024))
            print("damaged model (%s): recording→error %s, peak RSS %.0f MiB"
                  % (name, ms(error), rss / 1024), file=sys.stderr, flush=True)
        finally:
            shutil.rmtree(root, ignore_errors=True)
    return results


def pipewire_startups(binary, count):
    """exec -> "recording" of `count` runs on a private PipeWire desktop, each stopped there."""
    desktop = PipeWireDesktop(*MICS["48k-stereo"][1:])
    times = []
    try:
        for index in range(count):
            run = Speechline(env=desktop.env, binary=binary)
            try:
                first = run.wait_for_event()
                assert first == {"type": "state", "state": "recording"}, first
                times.append(run.out.lines[0][0] - run.started)
                run.process.send_signal(signal.SIGINT)
                assert run.finish() == 0
            finally:
                run.kill()
            print("run %d on PipeWire exec→recording %s" % (index, ms(times[-1])),
                  file=sys.stderr, flush=True)
    finally:
        desktop.close()
    return times


def speech_run(desktop, binary, index, mic, clip, kind):
    """One run of speechline on a microphone: "live" beside pocketsphinx_continuous, the clip
    played once both models have loaded, or "startup", the clip played at "recording"."""
    source = MICS[mic][0]
    desktop.use(source)
    onset = SourceOnset(desktop.env, source)
    beside = Beside(desktop.env) if kind == "live" else None
    run = Speechline(env=desktop.env, binary=binary)
    try:
        first = run.wait_for_event()
        assert first == {"type": "state", "state": "recording"}, first
        recognizer = within(5, lambda: recognizer_of(run.process.pid))
        assert recognizer, "no recognizer process"
        peak = PeakRss(run.process.pid, recognizer)
        cpu_at_play = beside.wait_until_loaded(run, recognizer) if beside else None
        played = time.monotonic()
        player = desktop.play(clip, source + "wire")
        run.out.wait_end(TIMEOUT)
        # Both processes: speechline and the recognizer it started.
        rss = peak.total()
        status, cpu, _ = reap(run.process)
        cpu += reap_orphan(recognizer)
        whole_cpu = None if beside else cpu
        ended = time.monotonic()
        player.wait(timeout=TIMEOUT)
        side = beside.finish(run, played, ended, cpu, rss) if beside else {}
    finally:
        run.kill()
        if beside:
            beside.run.kill()
        onset.close()
    assert status == 0, status
    return Measurement(kind, clip, mic, index, run.out.lines[0][0] - run.started, played,
                       [(at, json.loads(line)) for at, line in run.out.lines], onset.onset(),
                       cpu_at_play=cpu_at_play, whole_cpu=whole_cpu, **side)


class Beside:
    """pocketsphinx_continuous on the same microphone. Its log goes to a pipe: a log file is
    buffered, and "Ready" tells when it listens."""

    def __init__(self, env):
        self.run = Run(["pocketsphinx_continuous", "-inmic", "yes"], env, cpu=True)

    def wait_until_loaded(self, speechline, recognizer):
        """Waits for both models; returns the CPU seconds each has used by then (speechline's
        with its recognizer's)."""
        self.run.wait_for(lambda line: "Ready" in line, self.run.err)
        time.sleep(max(0.0, speechline.started + LOAD_WAIT - time.monotonic()))
        return dict(zip(BOTH, (cpu_seconds(speechline.process.pid) + cpu_seconds(recognizer),
                               cpu_seconds(self.run.process.pid))))

    def finish(self, speechline, played, ended, cpu, rss):
        """pocketsphinx_continuous decodes 2048 samples, then sleeps 100 ms: it falls behind the
        microphone and prints the clip's words seconds after speechline's final. It is read on
        until it has been quiet for a while, and its CPU is taken at its last line, when it has
        decoded the same audio as speechline. Returns the live fields of the Measurement."""
        lines = self.run.out.lines
        while time.monotonic() < ended + REFERENCE_WAIT:
            last = lines[-1][0] if lines else 0
            if last > played and time.monotonic() - last > REFERENCE_QUIET:
                break
            time.sleep(0.05)
        assert lines and lines[-1][0] > played, "pocketsphinx_continuous printed nothing"
        self.run.process.send_signal(signal.SIGTERM)
        return {"pocketsphinx_lines": [(at, line.decode(errors="replace")) for at, line in lines],
                "cpu": dict(zip(BOTH, (cpu, self.run.out.cpu[-1]))),
                "started": dict(zip(BOTH, (speechline.started, self.run.started))),
                "ended": dict(zip(BOTH, (ended, lines[-1][0]))),
                "rss_kib": dict(zip(BOTH, (rss, reap(self.run.process)[2])))}


class SourceOnset:
    """A capture stream on a microphone that stamps when the clip's first loud sample arrives
    there, and so when the clip's time 0 passed the point where a capturing program gets its
    audio."""

    def __init__(self, env, source):
        self.process = subprocess.Popen(
            ["parec", "-d", source, "--raw", "--format=s16le", "--channels=1",
             "--rate=%d" % RATE, "--latency-msec=10"],
            stdout=subprocess.PIPE, env=env)
        self.arrival = None  # when the loud sample's chunk arrived
        self.lag = None  # how much audio that chunk held after the loud sample
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        fd = self.process.stdout.fileno()
        pending = b""
        while chunk := os.read(fd, 4096):
            now = time.monotonic()
            if self.arrival is not None:
                continue
            pending += chunk
            usable = len(pending) - len(pending) % 2
            samples = samples_of(pending[:usable])
            pending = pending[usable:]
            index = first_loud(samples)
            if index is not None:
                self.arrival = now
                self.lag = (len(samples) - index) / RATE

    def onset(self):
        return None if self.arrival is None else self.arrival - self.lag

    def close(self):
        self.process.terminate()
        self.process.wait()
        self.thread.join(timeout=5)


class PeakRss:
    """The peak resident memory of processes, read from /proc while they live: speechline may
    reap its recognizer itself, and then wait4 gives only the larger of the two peaks."""

    def __init__(self, *pids):
        self.kib = dict.fromkeys(pids, 0)
        self.stopped = threading.Event()
        self.thread = threading.Thread(target=self._sample, daemon=True)
        self.thread.start()

    def _sample(self):
        while not self.stopped.wait(0.02):
            for pid in self.kib:
                try:
                    with open("/proc/%d/status" % pid) as f:
                        hwm = [line for line in f if line.startswith("VmHWM:")]
                except OSError:
                    continue
                if hwm:
                    self.kib[pid] = max(self.kib[pid], int(hwm[0].split()[1]))

    def total(self):
        """The sum of the peaks, in KiB."""
        self.stopped.set()
        self.thread.join()
        return sum(self.kib.values())


def reap_orphan(pid):
    """CPU seconds of a recognizer that died with speechline, taken in by the harness; 0 if
    speechline reaped it itself (its CPU is then in speechline's own figure)."""
    try:
        return reap(pid)[1]
    except ChildProcessError:
        return 0.0


def reap(process):
    """Waits for a child (a Popen, or the pid of an orphan taken in); returns (exit status, CPU
    seconds, peak RSS in KiB) from its rusage."""
    _, status, usage = os.wait4(getattr(process, "pid", process), 0)
    code = os.waitstatus_to_exitcode(status)
    if hasattr(process, "returncode"):
        process.returncode = code
    return code, usage.ru_utime + usage.ru_stime, usage.ru_maxrss


def samples_of(data):
    samples = array.array("h")
    samples.frombytes(data)
    return samples


def first_loud(samples):
    return next((i for i, s in enumerate(samples) if abs(s) >= ONSET_LEVEL), None)


# ---------------------------------------------------------------------------------------------
# Analysis

def analyse(runs, clip_names, speech_end_tool=None):
    """Scores every run; returns the Clip of each clip name."""
    detector = detector_ends(speech_end_tool, clip_names)
    clips = {c: describe(c, detector.get(c)) for c in clip_names}
    for r in runs:
        r.scores = score(r, clips[r.clip])
    return clips


def detector_ends(tool, clips):
    """Where PocketSphinx's voice-activity detector ends speech in each original, as the
    speech service reckons it (bench/speech_end.cc)."""
    if not tool:
        return {}
    out = subprocess.run([tool] + [CLIPS[c] for c in clips], capture_output=True, text=True,
                         timeout=TIMEOUT, check=True).stdout.split()
    return dict(zip(clips, map(float, out[1::2])))


def describe(clip, detector_end):
    words = timed_words(clip)
    reference = reference_words(clip)
    # The end of the word paired with each reference word, as a match or a substitution.
    ends = [words[j][2] if j is not None else None
            for j in align(reference, [w for w, _, _ in words])]
    return Clip(reference, ends, words[-1][2], first_loud(samples_of(pcm(clip))) / RATE,
                pocketsphinx_baseline(clip), detector_end)


def timed_words(clip):
    """Words as speechline formats them and their end times in seconds, from Debian's
    recognizer on the original."""
    args = ["pocketsphinx_continuous", "-infile", CLIPS[clip], "-time", "yes",
            "-remove_silence", "no", "-logfn", "/dev/null"]
    out = subprocess.run(args, capture_output=True, text=True, timeout=TIMEOUT, check=True).stdout
    words, offset, utterance_end = [], 0.0, 0.0
    for line in out.splitlines():
        try:  # a timed word: the word, its start, end and probability
            token, start, end, _ = line.split()[0], *map(float, line.split()[1:])
        except (IndexError, ValueError):
            continue  # a line of text
        if token == "<s>":
            # Every frame is decoded, so each utterance begins where the one before it ended.
            offset = utterance_end
        elif token == "</s>":
            utterance_end = offset + end
        elif not token.startswith("<") and not token.startswith("["):
            # "was(2)" names a second pronunciation
            words.append((token.split("(")[0].lower(), offset + start, offset + end))
    return formatted_timed_words(words)


def formatted_timed_words(words):
    """The formatted words of the transcript `words` [(word, start, end)], each with the start
    of its first word and the end of its last: a number of several words is one word."""
    prefixes = [normalize(text) for text in
                format_texts([" ".join(w for w, _, _ in words[:k + 1]) for k in range(len(words))])]
    result, first = [], 0
    for i, formatted in enumerate(prefixes[-1] if prefixes else []):
        # A word that stays a word is itself; a number ends with the first prefix that has it.
        last = next(k for k in range(first, len(words))
                    if formatted.rstrip(".") == words[k][0] or prefixes[k][i:i + 1] == [formatted])
        result.append((formatted, words[first][1], words[last][2]))
        first = last + 1
    return result


def score(r, clip):
    results = [(at, e) for at, e in r.events if e.get("type") == "result"]
    finals = [(at, e) for at, e in results if e["isFinal"]]
    final_text = finals[-1][1]["text"] if finals else ""
    heard = normalize(final_text)
    # The first word that Debian's recognizer gets right on the original: audio lost at the
    # start would lose it.
    known = matched(clip.reference, clip.baseline)
    s = Scores(final_text, word_errors(clip.reference, heard),
               not known or min(known) in matched(clip.reference, heard))
    # pocketsphinx_continuous prints each utterance once it has ended; its transcript so far is
    # every line up to then.
    lines = r.pocketsphinx_lines or []
    so_far = format_texts(list(itertools.accumulate((line for _, line in lines),
                                                    lambda text, line: text + " " + line)))
    stamped = [(at, normalize(text)) for (at, _), text in zip(lines, so_far)]
    if r.kind == "live":
        s.pocketsphinx_errors = word_errors(clip.reference, stamped[-1][1] if stamped else [])
    if r.onset is None:
        return s
    t0 = r.onset - clip.onset_offset
    s.playback_path = t0 - r.played
    s.partial_latency = word_latencies(clip, t0, [(at, normalize(e["text"])) for at, e in results])
    if r.kind == "live":
        s.pocketsphinx_latency = word_latencies(clip, t0, stamped)
    if finals:
        s.final_after_speech = finals[-1][0] - (t0 + clip.speech_end)
        if clip.detector_end is not None:
            s.final_after_detector = finals[-1][0] - (t0 + clip.detector_end)
    return s


def word_latencies(clip, t0, stamped_texts):
    """For each reference word with a known end time, the time from its end to the first of
    `stamped_texts` (time, words) that has it in place."""
    seen, latencies = set(), []
    for at, words in stamped_texts:
        for i in matched(clip.reference, words) - seen:
            seen.add(i)
            if clip.ends[i] is not None:
                latencies.append(at - (t0 + clip.ends[i]))
    return latencies


def matched(reference, text):
    pairs = align(reference, text, prefix=True)
    return {i for i, j in enumerate(pairs) if j is not None and reference[i] == text[j]}


# ---------------------------------------------------------------------------------------------
# Report: one row builder per section, in the table's order

def row(measure, value, target="", ok=None, noise=""):
    verdict = "" if ok is None else "met" if ok else "**missed**"
    return "| %s | %s | %s | %s | %s |" % (measure, value, target, verdict, noise)


def report(runs, clips, args, services, loads, date, commit, pipewire_startup=(),
           bare_engine=None, damaged=()):
    live = [r for r in runs if r.kind == "live"]
    startup = [r for r in runs if r.kind == "startup"]

    def by_mic(builder, *more):
        return [line for mic in args.mics for line in builder(on(live, mic), mic, *more)]

    rows = [*startup_rows(live, startup, clips, pipewire_startup),
            *damaged_model_rows(damaged), *by_mic(resource_rows),
            *[line for mic in args.mics for line in bare_engine_rows(on(startup, mic), mic,
                                                                     bare_engine or {})],
            *by_mic(accuracy_rows, clips, args.runs), *by_mic(latency_rows),
            *final_rows(runs, live, startup, clips), *service_rows(services)]
    lines = [
        "# speechline benchmarks",
        "",
        "- date: %s" % date,
        "- machine: %s" % machine(),
        "- commit: %s (release build)" % commit,
        "- clips: %s; %d live and %d start-up runs of each clip on each microphone (%s)"
        % (", ".join(clips), args.runs, args.runs, ", ".join(args.mics)),
        "- load average (1 min) before / after: %.2f / %.2f" % tuple(loads),
        "- command: `bench/run`",
        "",
        "| measure | result (median over runs) | target | | noise |",
        "|---|---|---|---|---|",
    ]
    # How each figure is taken, and the plot.
    with open(os.path.join(HERE, "method.md")) as f:
        method = f.read().splitlines()
    plot_link = "![latency distributions](%s)" % os.path.basename(args.plot) if args.plot else ""
    return "\n".join(lines + rows + [""] + method + ["", plot_link]) + "\n"


def on(runs, mic):
    return [r for r in runs if r.mic == mic]


def startup_rows(live, startup, clips, pipewire):
    if startup:
        times = [r.exec_to_recording for r in startup]
        yield row("exec → `recording` (alone)", median_max(times), "≤ 50 ms",
                  statistics.median(times) <= 0.050, spread(times))
    if pipewire:
        yield row("exec → `recording` (alone) on PipeWire's PulseAudio service",
                  median_max(pipewire), "≤ 50 ms", statistics.median(pipewire) <= 0.050,
                  spread(pipewire))
    if live:
        times = [r.exec_to_recording for r in live]
        yield row("exec → `recording` (while pocketsphinx_continuous also loads)",
                  median_max(times), noise=spread(times))
    if startup:
        heard = sum(r.scores.first_word_heard for r in startup)
        startup_wer, live_wer = word_error_rate(startup, clips), word_error_rate(live, clips)
        yield row("audio kept while the model loads (clip played at `recording`)",
                  "the first word the original's recognition gets right is there in %d of %d "
                  "runs; WER %.1f%%%s" % (heard, len(startup), startup_wer,
                                          "" if live_wer is None else
                                          " (%.1f%% with the clip played after the load)"
                                          % live_wer),
                  "no audio lost",
                  heard == len(startup) and (live_wer is None or startup_wer <= live_wer))


def damaged_model_rows(damaged):
    if not damaged:
        return
    errors = [error for _, error, _ in damaged]
    memory = [rss for _, _, rss in damaged]
    yield row("`recording` → `recognition_failed`, damaged models (%s)"
              % ", ".join(sorted({name for name, _, _ in damaged})), median_max(errors), "≤ 2 s",
              max(errors) <= 2.0, spread(errors))
    yield row("peak RSS of speechline and its recognizer together, damaged models",
              "max %.0f MiB" % max(memory), "< 1024 MiB", max(memory) < 1024,
              spread(memory, lambda v: "%.0f MiB" % v))


def word_error_rate(runs, clips):
    """In percent, over every word of every run; None without runs."""
    if not runs:
        return None
    return 100 * sum(r.scores.errors for r in runs) / sum(len(clips[r.clip].reference)
                                                          for r in runs)


def resource_rows(runs, mic):
    """CPU and memory of the two recognizers, on one microphone."""
    if not runs:
        return
    # A common window in which both load their model and decode the whole clip: from the
    # earlier start to the later end.
    rate = {k: [r.cpu[k] / (max(r.ended.values()) - min(r.started.values())) for r in runs]
            for k in BOTH}
    steady = {k: [(r.cpu[k] - r.cpu_at_play[k]) / (max(r.ended.values()) - r.played)
                  for r in runs] for k in BOTH}
    rss = {k: [r.rss_kib[k] / 1024 for r in runs] for k in BOTH}
    cpu, memory = side_by_side(rate), side_by_side(rss)
    yield row("CPU s per wall s, %s: speechline / pocketsphinx_continuous, both decoding the "
              "whole clip, model load included" % mic, "%.3f / %.3f = **%.2f×**" % cpu,
              "≤ 1.10×", cpu[2] <= 1.10, ratio_within_a_run(runs, "cpu"))
    yield row("same from the clip's start (models loaded)",
              "%.3f / %.3f = %.2f×" % side_by_side(steady),
              noise="speechline %s" % spread(steady["speechline"], lambda v: "%.3f" % v))
    yield row("peak RSS, %s: speechline / pocketsphinx_continuous" % mic,
              "%.1f / %.1f MiB = **%.2f×**" % memory, "≤ 1.10×", memory[2] <= 1.10,
              ratio_within_a_run(runs, "rss_kib"))


def bare_engine_rows(runs, mic, bare):
    """CPU of whole start-up runs against the bare engine on the same originals: medians over
    rounds of the sums over clips, and each clip's ratio of medians."""
    clips = sorted({r.clip for r in runs})
    if not runs or not all(bare.get(c) for c in clips):
        return
    rounds = sorted({r.index for r in runs})
    mine = {(r.index, r.clip): r.whole_cpu for r in runs}
    sums = [sum(mine[i, c] for c in clips) for i in rounds if all((i, c) in mine for c in clips)]
    theirs = [sum(bare[c][i] for c in clips) for i in range(min(map(len, bare.values())))]
    ratio = statistics.median(sums) / statistics.median(theirs)
    per_clip = ", ".join("%s %.2f×" % (c, statistics.median([mine[i, c] for i in rounds
                                                              if (i, c) in mine])
                                        / statistics.median(bare[c])) for c in clips)
    seconds = lambda v: "%.2f s" % v  # noqa: E731
    yield row("CPU s of whole runs, %s, summed over the clips: speechline alone (clip played at "
              "`recording`) / `pocketsphinx_continuous -infile` on the 16 kHz originals" % mic,
              "%.2f / %.2f s = **%.3f×** (per clip: %s)"
              % (statistics.median(sums), statistics.median(theirs), ratio, per_clip),
              "≤ 1.05×", ratio <= 1.05, "speechline %s; bare engine %s"
              % (spread(sums, seconds), spread(theirs, seconds)))


def side_by_side(values):
    """The medians of speechline's and pocketsphinx_continuous's values, and their ratio."""
    mine, theirs = (statistics.median(values[k]) for k in BOTH)
    return mine, theirs, mine / theirs


def ratio_within_a_run(runs, field):
    ratios = [getattr(r, field)["speechline"] / getattr(r, field)["pocketsphinx"] for r in runs]
    return "ratio within a run: %s" % spread(ratios, lambda v: "%.2f" % v)


def accuracy_rows(runs, mic, clips, run_count):
    """Word error rate over every clip, per run index that has them all."""
    words = sum(len(c.reference) for c in clips.values())
    baseline = 100 * sum(word_errors(c.reference, c.baseline) for c in clips.values()) / words
    per_run, beside = [], []
    for n in range(run_count):
        batch = [r for r in runs if r.index == n]
        if len(batch) == len(clips):
            per_run.append(100 * sum(r.scores.errors for r in batch) / words)
            beside.append(100 * sum(r.scores.pocketsphinx_errors for r in batch) / words)
    if not per_run:
        return
    m = statistics.median(per_run)
    yield row("word error rate, %s (all clips, %d words)" % (mic, words),
              "speechline **%.1f%%**; pocketsphinx_continuous -infile on the originals %.1f%%; "
              "-inmic beside it %.1f%%" % (m, baseline, statistics.median(beside)),
              "≤ %.1f%%" % (baseline + 2), m <= baseline + 2,
              spread(per_run, lambda v: "%.1f%%" % v))


def latency_rows(runs, mic):
    latencies = [v for r in runs for v in r.scores.partial_latency]
    if latencies:
        m = statistics.median(latencies)
        yield row("partial latency, %s (word end → first result with it; %d words)"
                  % (mic, len(latencies)),
                  "median **%s**, p90 %s" % (ms(m), ms(percentile(latencies, 0.9))),
                  "median ≤ 250 ms", m <= 0.250, spread(latencies))
    beside = [v for r in runs for v in r.scores.pocketsphinx_latency]
    if beside:
        yield row("same for pocketsphinx_continuous -inmic (prints whole utterances)",
                  "median %s, p90 %s" % (ms(statistics.median(beside)),
                                         ms(percentile(beside, 0.9))))
    finals = present(r.scores.final_after_detector for r in runs)
    if finals:
        yield row("end of speech → final, %s (speech ends where the detector puts it)"
                  % mic, median_max(finals, bold=True), "≤ 1650 ms",
                  statistics.median(finals) <= 1.650, spread(finals))
    finals = present(r.scores.final_after_speech for r in runs)
    if finals:
        yield row("end of the last word → final, %s" % mic, median_max(finals),
                  noise=spread(finals))


def final_rows(runs, live, startup, clips):
    by_clip = []
    for name, clip in clips.items():
        values = present(r.scores.final_after_speech for r in live if r.clip == name)
        if values:
            by_clip.append("%s %s%s" % (
                name, ms(statistics.median(values)),
                "" if clip.detector_end is None
                else " (detector %+.0f ms)" % ((clip.detector_end - clip.speech_end) * 1000)))
    if by_clip:
        yield row("end of the last word → final by clip; the detector's end against the "
                  "word's", ", ".join(by_clip))
    finals = [r.scores.final_after_speech if r.scores.final_after_detector is None
              else r.scores.final_after_detector
              for r in startup if r.scores.final_after_speech is not None]
    if finals:
        yield row("end of speech → final, clip played during the model load",
                  median_max(finals), noise=spread(finals))
    paths = present(r.scores.playback_path for r in runs)
    if paths:
        yield row("playback path (paplay start → clip at the microphone), not counted "
                  "above", "median %s" % ms(statistics.median(paths)), noise=spread(paths))


def service_rows(services):
    """Per-call costs: the median over the benchmark's repetitions of each percentile."""
    for name, limit in (("BM_AppendAudioPCMBuffer/48000/2", 20),
                        ("BM_AppendAudioPCMBuffer/44100/1", 20), ("BM_EmitResultLine", None)):
        found = [b for b in services if b["name"].startswith(name + "/")
                 and b.get("run_type", "iteration") == "iteration"]
        if found:
            yield service_row(name, found, limit)


def service_row(name, found, limit):
    def median_of(counter):
        return statistics.median(b[counter] for b in found)

    if name.startswith("BM_Emit"):
        label = "`emit` of a %d-byte partial result line into a pipe" % EMIT_LINE_BYTES
        detail = ""
    else:
        label = ("`appendAudioPCMBuffer` on the capture thread, %s, one call per buffer's "
                 "duration" % name.split("/", 1)[1].replace("/", " Hz × "))
        detail = "; p99 while the model loads %.1f µs, after it %.1f µs" % (
            median_of("load_p99_us"), median_of("after_p99_us"))
    p99s = [b["p99_us"] for b in found]
    return row(label, "p50 %.1f µs, **p99 %.1f µs**%s; max %.0f µs (%d calls in %d runs)"
               % (median_of("p50_us"), median_of("p99_us"), detail,
                  max(b["max_us"] for b in found), sum(b["calls"] for b in found), len(found)),
               "" if limit is None else "p99 ≤ %d µs" % limit,
               None if limit is None else median_of("p99_us") <= limit,
               "p99 per run %.1f–%.1f µs" % (min(p99s), max(p99s)))


def machine():
    model = "?"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as f:
        memory = int(f.readline().split()[1]) / 1024 / 1024
    return "%s, %d CPUs, %.0f GiB, Linux %s" % (model, os.cpu_count(), memory, platform.release())


def current_commit():
    def git(*args):
        return subprocess.run(["git", "-C", HERE, *args], capture_output=True,
                              text=True).stdout.strip()
    head = git("rev-parse", "--short", "HEAD") or "unknown"
    dirty = git("status", "--porcelain", "--", "src")
    return head + ("+uncommitted changes in src" if dirty else "")


def present(values):
    return [v for v in values if v is not None]


def ms(seconds):
    return "%.0f ms" % (seconds * 1000)


def median_max(values, bold=False):
    median = ms(statistics.median(values))
    return "median %s, max %s" % ("**%s**" % median if bold else median, ms(max(values)))


def spread(values, unit=ms):
    """Noise across runs: the interquartile range, and the extremes."""
    if not values:
        return "-"
    return "IQR %s–%s, range %s–%s" % (unit(percentile(values, 0.25)),
                                       unit(percentile(values, 0.75)),
                                       unit(min(values)), unit(max(values)))


# ---------------------------------------------------------------------------------------------
# Plot

def plot(runs, path, mics, pipewire_startup):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    live = [r for r in runs if r.kind == "live"]
    startup = [r for r in runs if r.kind == "startup"]
    fig, axes = plt.subplots(1, 4, figsize=(19, 5.5))

    def milliseconds(runs, value):
        return [v * 1000 for r in runs for v in value(r.scores) if v is not None]

    box(axes[0], [milliseconds(on(live, mic), lambda s: s.partial_latency) for mic in mics],
        list(mics), "speechline: word end → first result\nline with the word", 250,
        "target median 250 ms", clip=0.97)
    box(axes[1], [milliseconds(on(live, mic), lambda s: s.pocketsphinx_latency) for mic in mics],
        list(mics), "pocketsphinx_continuous -inmic, beside it:\nword end → line with the word")
    key = ("final_after_detector" if any(r.scores.final_after_detector is not None for r in runs)
           else "final_after_speech")
    box(axes[2], [milliseconds(group, lambda s: [getattr(s, key)])
                  for group in [on(live, mic) for mic in mics] + [startup]],
        list(mics) + ["played during\nthe model load"],
        "speechline: end of speech → final line", 1650, "target 1650 ms")
    box(axes[3], [[r.exec_to_recording * 1000 for r in startup],
                  [t * 1000 for t in pipewire_startup],
                  [r.exec_to_recording * 1000 for r in live]],
        ["alone", "alone,\non PipeWire", "pocketsphinx_continuous\nloading beside it"],
        'speechline: exec → "recording"', 50, "target 50 ms")
    fig.suptitle("Latency distributions (boxes: quartiles; whiskers: 5th–95th percentile; "
                 "circles: beyond)")
    fig.tight_layout()
    fig.savefig(path, dpi=90)


def box(axis, data, labels, title, target=None, target_label=None, clip=None):
    """One panel: a box per list of `data`, values in ms; with `clip`, the axis ends at that
    quantile of all values."""
    axis.boxplot(data, labels=labels, whis=(5, 95))
    values = [v for d in data for v in d]
    if clip and values:
        # A few words that only the final gets right would squash the boxes.
        top = max(percentile(values, clip), (target or 0) * 1.2)
        beyond = sum(v > top for v in values)
        axis.set_ylim(min(values + [0]) - 50, top)
        if beyond:
            title += "\n(%d of %d values above the axis)" % (beyond, len(values))
    if target is not None:
        axis.axhline(target, color="tab:red", linestyle="--", label=target_label)
        axis.legend()
    axis.set_title(title)
    axis.set_ylabel("ms")


if __name__ == "__main__":
    main()
