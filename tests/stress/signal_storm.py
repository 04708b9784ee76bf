"""Signal storm: SIGINT and SIGTERM, single, both or repeated, at random instants in every phase
of a run. Every run must end in an allowed way: killed by the signal with no output (it came
before the program set its dispositions), or one of the protocol's sequences with its status.
A signal that falls in the short window where it is ignored is lost, so a run that reaches
"recording" and goes on is ended with one more SIGINT.

  signal_storm.py --binary PATH [--scripted] [--runs N] [--seed S]

With --scripted the binary is speechline-scripted and each run gets a random script; otherwise
the real binary runs on a private desktop playing speech into its microphone."""

import signal
import sys
import time

from common import stress
from support import Run, Scripted, check_run  # on the path once common is imported

HANG = 20  # seconds: a run still going after this and a final SIGINT is a hang


def random_script(rng):
    lines = ['locale "en-US"' + rng.choice(["", "", " noOnDevice"])]
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
    if rng.random() < 0.2:
        lines.append('engineStops %d "device changed"' % rng.randint(0, 400))
    return "\n".join(lines)


def one_run(options, rng, desktop):
    script = None if desktop else random_script(rng)
    args = ["--locale", "en-US"] + (["--requires-on-device"] if rng.random() < 0.2 else [])
    signals = rng.choice([[signal.SIGINT], [signal.SIGTERM], [signal.SIGINT, signal.SIGTERM],
                          [signal.SIGINT] * 3, [signal.SIGTERM, signal.SIGINT, signal.SIGTERM]])
    horizon = 2.5 if desktop else 0.4
    # Some signals come within the first milliseconds, before the dispositions are set.
    times = sorted(rng.uniform(0, 0.004 if rng.random() < 0.2 else horizon) for _ in signals)
    run = (Run([options.binary, *args], desktop.env) if desktop
           else Scripted(script, args, binary=options.binary))
    player = (desktop.play(rng.choice(["0880", "goforward"]))
              if desktop and rng.random() < 0.7 else None)
    try:
        for at, signum in zip(times, signals):
            if run.out.wait_end(run.started + at - time.monotonic()):
                break
            run.process.send_signal(signum)
        # Whatever phase it is in now, one more SIGINT must end it.
        status = run.stop(after=run.started + horizon + 0.3 - time.monotonic(), grace=HANG)
    finally:
        run.kill()
        if player:
            player.kill()
            player.wait()
    if status == -signal.SIGKILL:
        raise AssertionError("hang: %r" % run.out.data()[-200:])
    return check_run(run, status)


if __name__ == "__main__":
    sys.exit(stress(one_run, runs=1000, scripted=True))
