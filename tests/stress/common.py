"""What the stress scripts share: the command line that makes many random runs, each checked
against the event protocol (support.check_run)."""

import argparse
import collections
import os
import random
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from support import PulseDesktop  # noqa: E402


def stress(one_run, runs, scripted=False):
    """Reads --binary PATH [--runs N] [--seed S] (and --scripted where allowed), then calls
    one_run(options, rng, desktop) N times, on one private desktop unless --scripted; one_run
    returns the run's kind or raises AssertionError. Prints the tally; returns the exit status."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    parser.add_argument("--runs", type=int, default=runs)
    parser.add_argument("--seed", type=int, default=1)
    if scripted:
        parser.add_argument("--scripted", action="store_true")
    options = parser.parse_args()
    rng = random.Random(options.seed)
    desktop = None if getattr(options, "scripted", False) else PulseDesktop()
    outcomes, failures = collections.Counter(), 0
    started = time.monotonic()
    try:
        for run in range(options.runs):
            try:
                outcomes[one_run(options, rng, desktop)] += 1
            except AssertionError as e:
                failures += 1
                print("run %d (seed %d): %s" % (run, options.seed, e), flush=True)
    finally:
        if desktop:
            desktop.close()
    print("outcomes: %s in %.0f s" % (", ".join("%s %d" % kv for kv in sorted(outcomes.items())),
                                      time.monotonic() - started))
    print("%d passed, %d failed" % (options.runs - failures, failures))
    return 1 if failures else 0
