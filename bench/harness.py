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

Audio time is tied to wall time by a third capture stream on the same microphone, which stamps
the arrival of the clip's first loud sample: the playback path up to it (paplay start-up,
the server's mixing and its record fragment) is measured in every run and not counted against
speechline. Word end times come from `pocketsphinx_continuous -infile ... -time yes` on the
16 kHz original.
"""

import argparse
import array
import datetime
import json
import os
import platform
import signal
import statistics
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))
from support import (CLIPS, PulseDesktop, Run, Speechline, align, cpu_seconds,  # noqa: E402
                     normalize, pcm, percentile, pocketsphinx_baseline, reference_words,
                     word_errors)

MICS = {
    # name: (source, rate, channels); the first is the desktop's own microphone
    "48k-stereo": ("mic", 48000, 2),
    "44.1k-mono": ("mic441", 44100, 1),
}
ALL_CLIPS = ["0870", "0880", "0890", "goforward"]
RATE = 16000
# A sample this loud marks the clip's onset, both in the file and on the microphone.
ONSET_LEVEL = 200
# Both models take about a second to load; the clip of a live run starts after this.
LOAD_WAIT = 2.5
# How long pocketsphinx_continuous may go on after speechline's exit to print its transcript.
REFERENCE_WAIT = 20.0
REFERENCE_QUIET = 2.5
TIMEOUT = 60


# ---------------------------------------------------------------------------------------------
# Clips and references

def clip_samples(clip):
    samples = array.array("h")
    samples.frombytes(pcm(clip))
    return samples


def first_loud(samples, level=ONSET_LEVEL):
    for i, s in enumerate(samples):
        if abs(s) >= level:
            return i
    return None


def strip_word(token):
    # "was(2)" names a second pronunciation
    return token.split("(")[0].lower()


def timed_words(clip):
    """Words and their end times in seconds, from Debian's recognizer on the original."""
    args = ["pocketsphinx_continuous", "-infile", CLIPS[clip], "-time", "yes",
            "-remove_silence", "no", "-logfn", "/dev/null"]
    out = subprocess.run(args, capture_output=True, text=True, timeout=TIMEOUT, check=True).stdout
    words, offset, utterance_end = [], 0.0, 0.0
    for line in out.splitlines():
        parts = line.split()
        try:
            token, start, end, _ = parts[0], float(parts[1]), float(parts[2]), float(parts[3])
        except (IndexError, ValueError):
            continue  # a line of text, not a timed word
        if len(parts) != 4:
            continue
        if token == "<s>":
            # Every frame is decoded, so each utterance begins where the one before it ended.
            offset = utterance_end
        elif token == "</s>":
            utterance_end = offset + end
        elif not token.startswith("<") and not token.startswith("["):
            word = normalize(strip_word(token))[0]
            words.append((word, offset + start, offset + end))
    return words


def reference_end_times(reference, words):
    """The end time in the audio of each reference word, where the original's recognition
    has a word in its place (a match or a substitution)."""
    pairs = align(reference, [w for w, _, _ in words])
    return [words[j][2] if j is not None else None for j in pairs]


def matched(reference, text):
    pairs = align(reference, text, prefix=True)
    return {i for i, j in enumerate(pairs) if j is not None and reference[i] == text[j]}


# ---------------------------------------------------------------------------------------------
# Processes

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
        while True:
            chunk = os.read(fd, 4096)
            now = time.monotonic()
            if not chunk:
                return
            if self.arrival is not None:
                continue
            pending += chunk
            usable = len(pending) - len(pending) % 2
            samples = array.array("h")
            samples.frombytes(pending[:usable])
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


def reap(process):
    """Waits for a child; returns (exit status, CPU seconds, peak RSS in KiB) from its rusage."""
    _, status, usage = os.wait4(process.pid, 0)
    process.returncode = os.waitstatus_to_exitcode(status)
    return process.returncode, usage.ru_utime + usage.ru_stime, usage.ru_maxrss


def with_every_microphone():
    """A desktop with every microphone of MICS plugged in."""
    desktop = PulseDesktop(*MICS["48k-stereo"][1:])
    for source, rate, channels in list(MICS.values())[1:]:
        desktop.plug_in(source, rate, channels)
    return desktop


def speechline_events(run, timeout=TIMEOUT):
    """Reads the run to the end; returns [(monotonic time, event)]."""
    run.out.wait_end(timeout)
    return [(at, json.loads(line)) for at, line in run.out.lines]


def speech_run(desktop, binary, clip, mic, kind):
    """One run of speechline on a microphone: "live" beside pocketsphinx_continuous, the clip
    played once both models have loaded, or "startup", the clip played at "recording"."""
    source = MICS[mic][0]
    desktop.use(source)
    onset = SourceOnset(desktop.env, source)
    # Its log goes to a pipe: a log file is buffered, and "Ready" tells when it listens.
    reference = (Run(["pocketsphinx_continuous", "-inmic", "yes"], desktop.env, cpu=True)
                 if kind == "live" else None)
    run = Speechline(env=desktop.env, binary=binary)
    r = {"kind": kind, "clip": clip, "mic": mic}
    try:
        first = run.wait_for_event()
        assert first == {"type": "state", "state": "recording"}, first
        r["exec_to_recording"] = run.out.lines[0][0] - run.started
        if reference:
            reference.wait_for(lambda line: "Ready" in line, reference.err)
            time.sleep(max(0.0, run.started + LOAD_WAIT - time.monotonic()))
            r["cpu_at_play"] = {"speechline": cpu_seconds(run.process.pid),
                                "pocketsphinx": cpu_seconds(reference.process.pid)}
        r["played"] = time.monotonic()
        player = desktop.play(clip, source + "wire")
        r["events"] = speechline_events(run)
        status, cpu, rss = reap(run.process)
        ended = time.monotonic()
        player.wait(timeout=TIMEOUT)
        if reference:
            # pocketsphinx_continuous decodes 2048 samples, then sleeps 100 ms: it falls
            # behind the microphone and prints the clip's words seconds after speechline's
            # final. It is read on until it has been quiet for a while, and its CPU is taken
            # at its last line, when it has decoded the same audio as speechline.
            lines = reference.out.lines
            while time.monotonic() < ended + REFERENCE_WAIT:
                last = lines[-1][0] if lines else None
                if (last is not None and last > r["played"]
                        and time.monotonic() - last > REFERENCE_QUIET):
                    break
                time.sleep(0.05)
            assert lines and lines[-1][0] > r["played"], "pocketsphinx_continuous printed nothing"
            reference.process.send_signal(signal.SIGTERM)
            r.update({
                "pocketsphinx_lines": [(at, line.decode(errors="replace")) for at, line in lines],
                "cpu": {"speechline": cpu, "pocketsphinx": reference.out.cpu[-1]},
                "started": {"speechline": run.started, "pocketsphinx": reference.started},
                "ended": {"speechline": ended, "pocketsphinx": lines[-1][0]},
                "rss_kib": {"speechline": rss, "pocketsphinx": reap(reference.process)[2]},
            })
    finally:
        run.kill()
        if reference:
            reference.kill()
        onset.close()
    assert status == 0, status
    r["onset"] = onset.onset()
    return r


# ---------------------------------------------------------------------------------------------
# Analysis

def word_latencies(reference, ends, t0, stamped_texts):
    """For each reference word with a known end time, the time from its end to the first of
    `stamped_texts` (time, words) that has it in place."""
    seen, latencies = set(), []
    for at, words in stamped_texts:
        for i in matched(reference, words) - seen:
            seen.add(i)
            if ends[i] is not None:
                latencies.append(at - (t0 + ends[i]))
    return latencies


def detector_ends(tool, clips):
    """Where PocketSphinx's voice-activity detector ends speech in each original, as the
    speech service reckons it (bench/speech_end.cc)."""
    if not tool:
        return {}
    out = subprocess.run([tool] + [CLIPS[c] for c in clips], capture_output=True, text=True,
                         timeout=TIMEOUT, check=True).stdout.split()
    return dict(zip(clips, map(float, out[1::2])))


def analyse(runs, clips, speech_end_tool=None):
    ends = detector_ends(speech_end_tool, clips)
    info = {}
    for clip in clips:
        words = timed_words(clip)
        reference = reference_words(clip)
        samples = clip_samples(clip)
        info[clip] = {
            "reference": reference,
            "ends": reference_end_times(reference, words),
            "speech_end": words[-1][2],
            "onset_offset": first_loud(samples) / RATE,
            "baseline": pocketsphinx_baseline(clip),
            "detector_end": ends.get(clip),
        }
    for r in runs:
        c = info[r["clip"]]
        results = [(at, e) for at, e in r["events"] if e.get("type") == "result"]
        final = [(at, e) for at, e in results if e["isFinal"]]
        r["final_text"] = final[-1][1]["text"] if final else ""
        r["errors"] = word_errors(c["reference"], normalize(r["final_text"]))
        # The first word that Debian's recognizer gets right on the original: audio lost at
        # the start would lose it.
        known = matched(c["reference"], c["baseline"])
        r["first_word_heard"] = not known or min(known) in matched(
            c["reference"], normalize(r["final_text"]))
        if r["onset"] is None:
            continue
        t0 = r["onset"] - c["onset_offset"]
        r["playback_path"] = t0 - r["played"]
        r["partial_latency"] = word_latencies(
            c["reference"], c["ends"], t0,
            [(at, normalize(e["text"])) for at, e in results])
        if final:
            r["final_after_speech"] = final[-1][0] - (t0 + c["speech_end"])
            if c["detector_end"] is not None:
                r["final_after_detector"] = final[-1][0] - (t0 + c["detector_end"])
        if r["kind"] == "live":
            # pocketsphinx_continuous prints each utterance once it has ended; its transcript
            # so far is every line up to then.
            stamped, text = [], []
            for at, line in r["pocketsphinx_lines"]:
                text = text + normalize(line)
                stamped.append((at, text))
            r["pocketsphinx_text"] = " ".join(text)
            r["pocketsphinx_errors"] = word_errors(c["reference"], text)
            r["pocketsphinx_latency"] = word_latencies(c["reference"], c["ends"], t0, stamped)
    return info


# ---------------------------------------------------------------------------------------------
# Report

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


def commit():
    def git(*args):
        return subprocess.run(["git", "-C", HERE, *args], capture_output=True,
                              text=True).stdout.strip()
    head = git("rev-parse", "--short", "HEAD") or "unknown"
    dirty = git("status", "--porcelain", "--", "src")
    return head + ("+uncommitted changes in src" if dirty else "")


def ms(seconds):
    return "%.0f ms" % (seconds * 1000)


def spread(values, unit=ms):
    """Noise across runs: the interquartile range, and the extremes."""
    if not values:
        return "-"
    return "IQR %s–%s, range %s–%s" % (unit(percentile(values, 0.25)),
                                       unit(percentile(values, 0.75)),
                                       unit(min(values)), unit(max(values)))


def verdict(ok):
    return "met" if ok else "**missed**"


def report(runs, info, services, clips, args, loads, when, revision):
    lines = []
    live = [r for r in runs if r["kind"] == "live"]
    startup = [r for r in runs if r["kind"] == "startup"]
    lines += [
        "# speechline benchmarks",
        "",
        "- date: %s" % when,
        "- machine: %s" % machine(),
        "- commit: %s (release build)" % revision,
        "- clips: %s; %d live and %d start-up runs of each clip on each microphone (%s)"
        % (", ".join(clips), args.runs, args.runs, ", ".join(args.mics)),
        "- load average (1 min) before / after: %.2f / %.2f" % tuple(loads),
        "- command: `bench/run`",
        "",
    ]

    rows = []

    def row(measure, value, target, ok, noise):
        rows.append("| %s | %s | %s | %s | %s |" % (measure, value, target,
                                                     "" if ok is None else verdict(ok), noise))

    # Start-up.
    startup_times = [r["exec_to_recording"] for r in startup]
    live_times = [r["exec_to_recording"] for r in live]
    if startup_times:
        m = statistics.median(startup_times)
        row("exec → `recording` (alone)", "median %s, max %s" % (ms(m), ms(max(startup_times))),
            "≤ 50 ms", m <= 0.050, spread(startup_times))
    if live_times:
        m = statistics.median(live_times)
        row("exec → `recording` (while pocketsphinx_continuous also loads)",
            "median %s, max %s" % (ms(m), ms(max(live_times))), "", None, spread(live_times))
    if startup:
        heard = sum(r["first_word_heard"] for r in startup)
        total_words = sum(len(info[r["clip"]]["reference"]) for r in startup)
        startup_wer = 100 * sum(r["errors"] for r in startup) / total_words
        live_wer = (100 * sum(r["errors"] for r in live)
                    / sum(len(info[r["clip"]]["reference"]) for r in live)) if live else None
        row("audio kept while the model loads (clip played at `recording`)",
            "the first word the original's recognition gets right is there in %d of %d runs; "
            "WER %.1f%%%s" % (heard, len(startup), startup_wer,
                              "" if live_wer is None else
                              " (%.1f%% with the clip played after the load)" % live_wer),
            "no audio lost", heard == len(startup) and (live_wer is None
                                                        or startup_wer <= live_wer), "")

    # CPU and memory, by microphone.
    for mic in args.mics:
        runs_here = [r for r in live if r["mic"] == mic]
        if not runs_here:
            continue
        # A common window in which both load their model and decode the whole clip: from the
        # earlier start to the later end.
        rate = {k: [r["cpu"][k] / (max(r["ended"].values()) - min(r["started"].values()))
                    for r in runs_here] for k in ("speechline", "pocketsphinx")}
        ratio = statistics.median(rate["speechline"]) / statistics.median(rate["pocketsphinx"])
        row("CPU s per wall s, %s: speechline / pocketsphinx_continuous, both decoding the "
            "whole clip, model load included" % mic,
            "%.3f / %.3f = **%.2f×**" % (statistics.median(rate["speechline"]),
                                         statistics.median(rate["pocketsphinx"]), ratio),
            "≤ 1.10×", ratio <= 1.10,
            "ratio within a run: %s" % spread([r["cpu"]["speechline"] / r["cpu"]["pocketsphinx"]
                                                for r in runs_here], lambda v: "%.2f" % v))
        steady = {k: [(r["cpu"][k] - r["cpu_at_play"][k]) / (max(r["ended"].values()) - r["played"])
                      for r in runs_here] for k in ("speechline", "pocketsphinx")}
        ratio = statistics.median(steady["speechline"]) / statistics.median(steady["pocketsphinx"])
        row("same from the clip's start (models loaded)",
            "%.3f / %.3f = %.2f×" % (statistics.median(steady["speechline"]),
                                     statistics.median(steady["pocketsphinx"]), ratio),
            "", None, "speechline %s" % spread(steady["speechline"], lambda v: "%.3f" % v))
        rss = {k: [r["rss_kib"][k] / 1024 for r in runs_here] for k in ("speechline", "pocketsphinx")}
        ratio = statistics.median(rss["speechline"]) / statistics.median(rss["pocketsphinx"])
        row("peak RSS, %s: speechline / pocketsphinx_continuous" % mic,
            "%.1f / %.1f MiB = **%.2f×**" % (statistics.median(rss["speechline"]),
                                             statistics.median(rss["pocketsphinx"]), ratio),
            "≤ 1.10×", ratio <= 1.10,
            "ratio within a run: %s" % spread([r["rss_kib"]["speechline"] / r["rss_kib"]["pocketsphinx"]
                                                for r in runs_here], lambda v: "%.2f" % v))

    # Accuracy.
    baseline_errors = sum(word_errors(info[c]["reference"], info[c]["baseline"]) for c in clips)
    words = sum(len(info[c]["reference"]) for c in clips)
    baseline = 100 * baseline_errors / words
    for mic in args.mics:
        per_run = []
        live_reference = []
        for n in range(args.runs):
            batch = [r for r in live if r["mic"] == mic and r["index"] == n]
            if len(batch) == len(clips):
                per_run.append(100 * sum(r["errors"] for r in batch) / words)
                live_reference.append(100 * sum(r["pocketsphinx_errors"] for r in batch) / words)
        if not per_run:
            continue
        m = statistics.median(per_run)
        row("word error rate, %s (all clips, %d words)" % (mic, words),
            "speechline **%.1f%%**; pocketsphinx_continuous -infile on the originals %.1f%%; "
            "-inmic beside it %.1f%%" % (m, baseline, statistics.median(live_reference)),
            "≤ %.1f%%" % (baseline + 2), m <= baseline + 2,
            spread(per_run, lambda v: "%.1f%%" % v))

    # Latency.
    for mic in args.mics:
        runs_here = [r for r in live if r["mic"] == mic]
        latencies = [v for r in runs_here for v in r.get("partial_latency", [])]
        if latencies:
            m = statistics.median(latencies)
            row("partial latency, %s (word end → first result with it; %d words)"
                % (mic, len(latencies)),
                "median **%s**, p90 %s" % (ms(m), ms(percentile(latencies, 0.9))),
                "median ≤ 250 ms", m <= 0.250, spread(latencies))
        reference_latencies = [v for r in runs_here for v in r.get("pocketsphinx_latency", [])]
        if reference_latencies:
            row("same for pocketsphinx_continuous -inmic (prints whole utterances)",
                "median %s, p90 %s" % (ms(statistics.median(reference_latencies)),
                                       ms(percentile(reference_latencies, 0.9))),
                "", None, "")
        finals = [r["final_after_detector"] for r in runs_here if "final_after_detector" in r]
        if finals:
            m = statistics.median(finals)
            row("end of speech → final, %s (speech ends where the detector puts it)" % mic,
                "median **%s**, max %s" % (ms(m), ms(max(finals))),
                "≤ 1650 ms", m <= 1.650, spread(finals))
        finals = [r["final_after_speech"] for r in runs_here if "final_after_speech" in r]
        if finals:
            row("end of the last word → final, %s" % mic,
                "median %s, max %s" % (ms(statistics.median(finals)), ms(max(finals))),
                "", None, spread(finals))
    by_clip = []
    for clip in clips:
        values = [r["final_after_speech"] for r in live if r["clip"] == clip
                  and "final_after_speech" in r]
        if values:
            detector = info[clip]["detector_end"]
            by_clip.append("%s %s%s" % (
                clip, ms(statistics.median(values)),
                "" if detector is None else " (detector %+.0f ms)"
                % ((detector - info[clip]["speech_end"]) * 1000)))
    if by_clip:
        row("end of the last word → final by clip; the detector's end against the word's",
            ", ".join(by_clip), "", None, "")
    finals = [r.get("final_after_detector", r["final_after_speech"]) for r in startup
              if "final_after_speech" in r]
    if finals:
        row("end of speech → final, clip played during the model load",
            "median %s, max %s" % (ms(statistics.median(finals)), ms(max(finals))), "", None,
            spread(finals))
    paths = [r["playback_path"] for r in runs if r.get("playback_path") is not None]
    if paths:
        row("playback path (paplay start → clip at the microphone), not counted above",
            "median %s" % ms(statistics.median(paths)), "", None, spread(paths))

    # Per-call costs: the median over the benchmark's repetitions of each percentile.
    for name, target, limit in (("BM_AppendAudioPCMBuffer/48000/2", "p99 ≤ 20 µs", 20),
                                ("BM_AppendAudioPCMBuffer/44100/1", "p99 ≤ 20 µs", 20),
                                ("BM_EmitResultLine", "", None)):
        found = [b for b in services if b["name"].startswith(name + "/")
                 and b.get("run_type", "iteration") == "iteration"]
        if not found:
            continue

        def median_of(counter):
            return statistics.median(b[counter] for b in found)

        calls = sum(b["calls"] for b in found)
        if name.startswith("BM_Emit"):
            label = "`emit` of a %d-byte partial result line into a pipe" % EMIT_LINE_BYTES
            detail = ""
        else:
            label = ("`appendAudioPCMBuffer` on the capture thread, %s, one call per "
                     "buffer's duration" % name.split("/", 1)[1].replace("/", " Hz × "))
            detail = "; p99 while the model loads %.1f µs, after it %.1f µs" % (
                median_of("load_p99_us"), median_of("after_p99_us"))
        p99s = [b["p99_us"] for b in found]
        row(label, "p50 %.1f µs, **p99 %.1f µs**%s; max %.0f µs (%d calls in %d runs)"
            % (median_of("p50_us"), median_of("p99_us"), detail,
               max(b["max_us"] for b in found), calls, len(found)),
            target, None if limit is None else median_of("p99_us") <= limit,
            "p99 per run %.1f–%.1f µs" % (min(p99s), max(p99s)))

    lines += ["| measure | result (median over runs) | target | | noise |",
              "|---|---|---|---|---|"] + rows
    lines += [
        "",
        "How each figure is taken (bench/harness.py):",
        "",
        "- exec → `recording`: from just before the harness starts the process (fork and exec "
        "included) to the line's arrival on the harness's pipe.",
        "- CPU: user + system seconds over a common wall time. Both processes start together "
        "and hear the same clip; speechline's figure is its `getrusage` (wait4) at exit, "
        "pocketsphinx_continuous's is read from /proc when it prints the clip's last "
        "utterance: it decodes 2048 samples and then sleeps 100 ms, so it runs behind the "
        "microphone and has decoded the clip only seconds after speechline's final. Both "
        "figures include one model load; the second row starts both readings at the clip's "
        "start. pocketsphinx_continuous asks the server for 16 kHz mono, so its resampling "
        "runs inside the PulseAudio daemon and is not counted; speechline resamples "
        "in-process. Peak RSS: `ru_maxrss` of each (wait4).",
        "- Word error rate: Levenshtein distance over words of the final texts against the "
        "reference texts (mister → mr), all clips together, per run.",
        "- Partial latency: word end times from `pocketsphinx_continuous -infile CLIP -time yes` "
        "on the 16 kHz original, aligned to the reference. A capture stream on the same microphone "
        "stamps when the clip's first loud sample arrives (to within its 10 ms fragment); that "
        "instant, less the sample's position in the clip, is audio time 0. Words that speechline "
        "never gets right are not counted; a word guessed before its end gives a negative value.",
        "- End of speech: the final is due 1.5 s after the last frame PocketSphinx's "
        "voice-activity detector counted as speech. bench/speech_end.cc runs the same detector "
        "over each original, 20 ms at a time as the service does, and gives that moment on "
        "the clip's time line; it can come before the last word's end (a quiet last syllable) "
        "or after it (breath and room noise up to the clip's end). The end of the last word "
        "is shown too.",
        "- Per-call costs: bench/services_bench.cc (Google Benchmark), each call timed alone; the "
        "appends run on the benchmark's thread at one 1024-frame buffer per buffer's duration "
        "while a real recognition task loads its model and then decodes on another thread "
        "(12 s a run; the first 1.5 s counted as the load); emit writes into a pipe that a "
        "reader drains. Medians over the benchmark's repetitions; max over all calls.",
        "",
        "![latency distributions](%s)" % os.path.basename(args.plot) if args.plot else "",
    ]
    return "\n".join(lines) + "\n"


EMIT_LINE_BYTES = len('{"type":"result","text":"and mr john dashwood had then leisure to '
                      'consider how much there might be prudently in his power","isFinal":false}\n')


def plot(runs, path, mics):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    live = [r for r in runs if r["kind"] == "live"]
    startup = [r for r in runs if r["kind"] == "startup"]
    fig, axes = plt.subplots(1, 4, figsize=(19, 5.5))

    def box(axis, data, labels, title, target=None, target_label=None, clip=None):
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

    box(axes[0], [[v * 1000 for r in live if r["mic"] == mic for v in r.get("partial_latency", [])]
                  for mic in mics], list(mics),
        "speechline: word end → first result\nline with the word", 250, "target median 250 ms",
        clip=0.97)
    box(axes[1], [[v * 1000 for r in live if r["mic"] == mic
                   for v in r.get("pocketsphinx_latency", [])] for mic in mics], list(mics),
        "pocketsphinx_continuous -inmic, beside it:\nword end → line with the word")
    key = "final_after_detector" if any("final_after_detector" in r for r in runs) \
        else "final_after_speech"
    box(axes[2], [[r[key] * 1000 for r in live if r["mic"] == mic and key in r] for mic in mics]
        + [[r[key] * 1000 for r in startup if key in r]],
        list(mics) + ["played during\nthe model load"],
        "speechline: end of speech → final line", 1650, "target 1650 ms")
    box(axes[3], [[r["exec_to_recording"] * 1000 for r in startup],
                  [r["exec_to_recording"] * 1000 for r in live]],
        ["alone", "pocketsphinx_continuous\nloading beside it"],
        'speechline: exec → "recording"', 50, "target 50 ms")
    fig.suptitle("Latency distributions (boxes: quartiles; whiskers: 5th–95th percentile; "
                 "circles: beyond)")
    fig.tight_layout()
    fig.savefig(path, dpi=90)


# ---------------------------------------------------------------------------------------------

def measure(args):
    """Every run; the load averages before and after; when the runs started."""
    binary = os.path.abspath(args.binary)
    when = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    loads_before = os.getloadavg()[0]
    desktop = with_every_microphone()
    runs = []
    try:
        for index in range(args.runs):
            for mic in args.mics:
                for clip in args.clips:
                    for kind in args.kinds:
                        r = speech_run(desktop, binary, clip, mic, kind)
                        r["index"] = index
                        runs.append(r)
                        print("run %d %s %-9s %-7s exec→recording %s, final %r"
                              % (index, mic, clip, kind, ms(r["exec_to_recording"]),
                                 [e for _, e in r["events"]][-2].get("text")),
                              file=sys.stderr, flush=True)
    finally:
        desktop.close()
    return runs, (loads_before, os.getloadavg()[0]), when


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--binary", help="the speechline binary to measure")
    parser.add_argument("--services-json", help="Google Benchmark JSON of services_bench")
    parser.add_argument("--runs", type=int, default=5, help="runs of each clip on each microphone")
    parser.add_argument("--clips", nargs="+", default=ALL_CLIPS, choices=ALL_CLIPS)
    parser.add_argument("--mics", nargs="+", default=list(MICS), choices=list(MICS))
    parser.add_argument("--kinds", nargs="+", default=["live", "startup"],
                        choices=["live", "startup"])
    parser.add_argument("--report", help="markdown table to write")
    parser.add_argument("--plot", help="PNG of the latency distributions to write")
    parser.add_argument("--raw", help="JSON of every run to write")
    parser.add_argument("--speech-end-tool", help="bench/speech_end.cc's binary")
    parser.add_argument("--from-raw", help="report on the runs of an earlier --raw file "
                        "instead of measuring")
    args = parser.parse_args()
    if not args.binary and not args.from_raw:
        parser.error("--binary or --from-raw is needed")
    if args.from_raw:
        with open(args.from_raw) as f:
            raw = json.load(f)
        runs, services, loads, when = raw["runs"], raw["services"], raw["loads"], raw["date"]
        revision = raw["commit"]
        args.runs = 1 + max(r["index"] for r in runs)
    else:
        runs, loads, when = measure(args)
        revision = commit()
        services = []
        if args.services_json:
            with open(args.services_json) as f:
                services = json.load(f)["benchmarks"]

    info = analyse(runs, args.clips, args.speech_end_tool)
    text = report(runs, info, services, args.clips, args, loads, when, revision)
    if args.plot:
        plot(runs, args.plot, args.mics)
    if args.report:
        with open(args.report, "w") as f:
            f.write(text)
    if args.raw:
        with open(args.raw, "w") as f:
            json.dump({"runs": runs, "services": services, "loads": loads, "date": when,
                       "commit": revision}, f,
                      indent=1, default=str)
    print(text)

    # A run that produced no measurement at all is a broken harness, not a slow program.
    live = [r for r in runs if r["kind"] == "live"]
    if "live" in args.kinds and not any(r.get("partial_latency") for r in live):
        sys.exit("no partial latency was measured")
    if not all(r.get("final_text") for r in runs):
        sys.exit("a run ended without a final result")


if __name__ == "__main__":
    main()
