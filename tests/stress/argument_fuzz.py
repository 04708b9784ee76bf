"""Argument fuzzing: random argument vectors (random bytes, invalid UTF-8, empty strings,
100 KiB values, many arguments). Every run must write one valid error line, or be a valid
recording run, which the harness ends with SIGINT; and exit 0 or 1.

  argument_fuzz.py --binary PATH [--runs N] [--seed S]

The real binary runs against a private PulseAudio daemon, so that the runs whose locale has a
model reach "recording"."""

import argparse
import os
import random
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "e2e"))
from stream_check import check_run  # noqa: E402

WORDS = [b"--locale", b"--requires-on-device", b"en-US", b"en_us", b"EN-us", b"zh-CN", b"",
         b"--locale=en-US", b"-", b"--", b"../en-us", b"/", b"\xff\xfe", b"\xc0\xaf",
         b"\xed\xa0\x80", b"\xf0\x9f\x98", b'"/\\\n\t']


def random_argument(rng):
    roll = rng.random()
    if roll < 0.45:
        return rng.choice(WORDS)
    if roll < 0.8:
        # Any bytes but NUL, which cannot be in an argument.
        return bytes(rng.randint(1, 255) for _ in range(rng.randint(0, 40)))
    if roll < 0.9:
        return bytes(rng.randint(1, 255) for _ in range(100 * 1024))
    return rng.choice([b"en-US", b"x"]) * rng.randint(1, 20000)


def random_arguments(rng):
    count = rng.choice([0, 1, 2, 3, 5, 10, 1000])
    arguments, total = [], 0
    for _ in range(count):
        argument = random_argument(rng)
        total += len(argument) + 1
        if total > 1024 * 1024:  # within the kernel's limit on a command line
            break
        arguments.append(argument)
    if rng.random() < 0.3:
        # Some runs get a locale with a model, so that recording runs are fuzzed too.
        arguments[0:0] = [b"--locale", rng.choice([b"en-US", b"en_us", b"EN-us"])]
    return arguments


def one_run(binary, arguments, env):
    process = subprocess.Popen([binary.encode()] + arguments, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, env=env)
    try:
        stdout, stderr = process.communicate(timeout=1.5)
    except subprocess.TimeoutExpired:
        # Still running: it must be recording, and SIGINT must end it.
        process.send_signal(signal.SIGINT)
        stdout, stderr = process.communicate(timeout=20)
    if stderr:
        raise AssertionError("stderr: %r" % stderr[:300])
    if process.returncode not in (0, 1):
        raise AssertionError("exit status %s" % process.returncode)
    return check_run(stdout, process.returncode, killed_by=())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    parser.add_argument("--runs", type=int, default=2000)
    parser.add_argument("--seed", type=int, default=1)
    options = parser.parse_args()
    rng = random.Random(options.seed)
    from rig import PulseServer
    server = PulseServer()
    outcomes, failures = {}, 0
    started = time.monotonic()
    try:
        for run in range(options.runs):
            arguments = random_arguments(rng)
            try:
                kind = one_run(options.binary, arguments, server.env)
                outcomes[kind] = outcomes.get(kind, 0) + 1
            except AssertionError as e:
                failures += 1
                print("run %d (seed %d, %d arguments): %s" % (run, options.seed, len(arguments), e),
                      flush=True)
    finally:
        server.close()
    print("outcomes: %s in %.0f s" % (", ".join("%s %d" % kv for kv in sorted(outcomes.items())),
                                      time.monotonic() - started))
    print("%d passed, %d failed" % (options.runs - failures, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
