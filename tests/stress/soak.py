"""Soak: the allowed clips looped into the virtual microphone with gaps shorter than the final's
silence, so one run keeps going; resident memory is sampled every 10 s.

  soak.py --binary PATH [--minutes 30]

Reports the resident set at one minute and at the end, and the transcript's length, which the
growth is allowed to include."""

import argparse
import os
import signal
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "e2e"))
from rig import PulseServer, Speechline  # noqa: E402

GAP_SECONDS = 0.6  # well under the 1.5 s of silence that ends a run


def resident_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    parser.add_argument("--minutes", type=float, default=30)
    options = parser.parse_args()
    server = PulseServer()
    run = Speechline(("--locale", "en-US"), env=server.env, binary=options.binary)
    stop = threading.Event()

    def play_loop():
        clips = ["0870", "0880", "0890", "goforward"]
        i = 0
        while not stop.is_set():
            server.play(clips[i % len(clips)]).wait()
            i += 1
            time.sleep(GAP_SECONDS)

    try:
        assert run.next_event()["state"] == "recording"
        threading.Thread(target=play_loop, daemon=True).start()
        started = time.monotonic()
        samples = []
        ended = None
        while time.monotonic() - started < options.minutes * 60:
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline:
                try:
                    event = run.next_event(timeout=max(0.01, deadline - time.monotonic()))
                except Exception:
                    continue
                if event is None or event["type"] != "result" or event["isFinal"]:
                    ended = event
                    break
            if ended is not None:
                break
            samples.append((time.monotonic() - started, resident_kib(run.process.pid)))
            print("%6.0f s  %7d KiB" % samples[-1], flush=True)
        stop.set()
        if ended is not None:
            print("the run ended early: %r" % ended)
            return 1
        run.process.send_signal(signal.SIGINT)
        status = run.finish()
        texts = [e["text"] for _, _, e in run.events if e["type"] == "result"]
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
        server.close()


if __name__ == "__main__":
    sys.exit(main())
