"""Soak: the allowed clips looped into the microphone with gaps shorter than the final's silence,
so one run keeps going; resident memory is sampled every 10 s.

  soak.py --binary PATH [--minutes 30]

Reports the resident set at one minute and at the end, and the transcript's length, which the
growth is allowed to include."""

import argparse
import os
import signal
import sys
import threading
import time
import wave

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from support import PulseDesktop, Speechline, pcm  # noqa: E402

GAP_SECONDS = 0.3  # well under the 1.5 s of silence that ends a run


def write_cycle(path):
    """All the allowed clips, each followed by a short gap, as one WAV file: one player per
    cycle keeps the gaps short even when the machine is busy."""
    gap = b"\0\0" * int(16000 * GAP_SECONDS)
    with wave.open(path, "wb") as w:
        w.setparams((1, 2, 16000, 0, "NONE", None))
        w.writeframes(b"".join(pcm(clip) + gap for clip in ["0870", "0880", "0890", "goforward"]))


def resident_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    parser.add_argument("--minutes", type=float, default=30)
    options = parser.parse_args()
    desktop = PulseDesktop()
    run = Speechline(env=desktop.env, binary=options.binary)
    stop = threading.Event()

    cycle = os.path.join(desktop.dir, "cycle.wav")
    write_cycle(cycle)

    def play_loop():
        while not stop.is_set():
            desktop.play(cycle).wait()

    try:
        assert run.wait_for_event()["state"] == "recording"
        threading.Thread(target=play_loop, daemon=True).start()
        started = time.monotonic()
        samples = []
        while time.monotonic() - started < options.minutes * 60:
            run.out.wait_end(10)
            events = run.events()
            if run.out.ended or any(e["type"] != "result" or e["isFinal"] for e in events[1:]):
                print("the run ended early: %r" % events[-3:])
                return 1
            samples.append((time.monotonic() - started, resident_kib(run.process.pid)))
            print("%6.0f s  %7d KiB" % samples[-1], flush=True)
        stop.set()
        run.process.send_signal(signal.SIGINT)
        status = run.finish()
        texts = [e["text"] for e in run.events() if e["type"] == "result"]
        at_minute = next(kib for t, kib in samples if t >= 60)
        growth = samples[-1][1] - at_minute
        transcript_kib = len(texts[-1].encode()) / 1024 if texts else 0
        print("rss at 1 min %d KiB, at end %d KiB, growth %d KiB; transcript %.1f KiB; "
              "%d results; exit %d" % (at_minute, samples[-1][1], growth, transcript_kib,
                                       len(texts), status))
        return 0 if growth <= 5 * 1024 + transcript_kib and status == 0 else 1
    finally:
        stop.set()
        run.kill()
        desktop.close()


if __name__ == "__main__":
    sys.exit(main())
