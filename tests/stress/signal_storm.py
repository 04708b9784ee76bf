"""Signal storm: SIGINT and SIGTERM, single, both or repeated, at random instants in every phase
of a run. Every run must end in an allowed way: killed by the signal with no output (it came
before the program set its dispositions), or one of the protocol's sequences with its status.
A signal that falls in the short window where it is ignored is lost, so a run that reaches
"recording" and goes on is ended with one more SIGINT.

  signal_storm.py --binary PATH [--scripted] [--runs N] [--seed S]

With --scripted the binary is speechline-scripted and each run gets a random script; otherwise
the real binary runs against a private PulseAudio daemon playing speech."""

import argparse
import os
import random
import select
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "e2e"))
from stream_check import check_run  # noqa: E402

HANG = 20  # seconds: a run still going after this and a final SIGINT is a hang


def random_script(rng, log_path):
    lines = ['log "%s"' % log_path, 'locale "en-US"' + rng.choice(["", "", " noOnDevice"])]
    if rng.random() < 0.5:
        lines.append("speechAuthorization %d thread %d" % (rng.choice([3, 3, 3, 1]),
                                                           rng.randint(0, 150)))
    if rng.random() < 0.5:
        lines.append("microphoneAccess %s thread %d" % (rng.choice(["yes", "yes", "no"]),
                                                        rng.randint(0, 150)))
    if rng.random() < 0.1:
        lines.append('engineStartError "no device"')
    lines.append("tapBuffers %d" % rng.randint(0, 50))
    at = 0
    for _ in range(rng.randint(0, 6)):
        at += rng.randint(0, 120)
        kind = rng.choice(["partial", "partial", "partial", "final", "error"])
        lines.append('deliver %d partial "w%d"' % (at, at) if kind == "partial"
                     else 'deliver %d final "done"' % at if kind == "final"
                     else 'deliver %d error "gone"' % at)
    if rng.random() < 0.2:
        lines.append('cancelError "cancelled"')
    return "\n".join(lines) + "\n"


def one_run(binary, rng, env, scripted, play):
    with tempfile.TemporaryDirectory() as work:
        if scripted:
            script = os.path.join(work, "run.script")
            with open(script, "w") as f:
                f.write(random_script(rng, os.path.join(work, "calls.log")))
            env = dict(env, SPEECHLINE_SCRIPT=script)
        args = [binary, "--locale", "en-US"] + (["--requires-on-device"] if rng.random() < 0.2 else [])
        signals = rng.choice([[signal.SIGINT], [signal.SIGTERM], [signal.SIGINT, signal.SIGTERM],
                              [signal.SIGINT] * 3, [signal.SIGTERM, signal.SIGINT, signal.SIGTERM]])
        horizon = 0.4 if scripted else 2.5
        # Some signals come within the first milliseconds, before the dispositions are set.
        times = sorted(rng.uniform(0, 0.004 if rng.random() < 0.2 else horizon) for _ in signals)
        process = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
        player = play() if play and rng.random() < 0.7 else None
        started = time.monotonic()
        stdout = b""
        pending = list(zip(times, signals))
        deadline = started + HANG
        final_sigint_sent = False
        os.set_blocking(process.stdout.fileno(), False)
        while True:
            now = time.monotonic() - started
            while pending and pending[0][0] <= now:
                process.send_signal(pending.pop(0)[1])
            ready, _, _ = select.select([process.stdout], [], [], 0.01)
            if ready:
                chunk = process.stdout.read()
                if not chunk:
                    break
                stdout += chunk
            if not pending and not final_sigint_sent and now > horizon + 0.3 \
                    and process.poll() is None:
                # Whatever phase it is in now, one more SIGINT must end it.
                process.send_signal(signal.SIGINT)
                final_sigint_sent = True
            if time.monotonic() > deadline:
                process.kill()
                raise AssertionError("hang: %r" % stdout[-200:])
        status = process.wait(timeout=HANG)
        stderr = process.stderr.read()
        if player:
            player.kill()
            player.wait()
        if stderr:
            raise AssertionError("stderr: %r" % stderr[:300])
        return check_run(stdout, status)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    parser.add_argument("--scripted", action="store_true")
    parser.add_argument("--runs", type=int, default=1000)
    parser.add_argument("--seed", type=int, default=1)
    options = parser.parse_args()
    rng = random.Random(options.seed)
    env, play, server = dict(os.environ), None, None
    if not options.scripted:
        from rig import PulseServer
        server = PulseServer()
        env = server.env
        play = lambda: server.play(rng.choice(["0880", "goforward"]))  # noqa: E731
    outcomes = {}
    failures = 0
    try:
        for run in range(options.runs):
            try:
                kind = one_run(options.binary, rng, env, options.scripted, play)
                outcomes[kind] = outcomes.get(kind, 0) + 1
            except AssertionError as e:
                failures += 1
                print("run %d (seed %d): %s" % (run, options.seed, e), flush=True)
    finally:
        if server:
            server.close()
    print("outcomes: %s" % ", ".join("%s %d" % kv for kv in sorted(outcomes.items())))
    print("%d passed, %d failed" % (options.runs - failures, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
