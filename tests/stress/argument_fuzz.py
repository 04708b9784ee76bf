"""Argument fuzzing: random argument vectors (random bytes, invalid UTF-8, empty strings,
100 KiB values, many arguments). Every run must write one valid error line, or be a valid
recording run, which the harness ends with SIGINT; and exit 0 or 1.

  argument_fuzz.py --binary PATH [--runs N] [--seed S]

The real binary runs on a private desktop, so that the runs whose locale has a model reach
"recording"."""

import sys

from common import stress
from support import Run, check_run  # on the path once common is imported

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


def one_run(options, rng, desktop):
    arguments = random_arguments(rng)
    run = Run([options.binary.encode()] + arguments, desktop.env)
    try:
        # Still running after 1.5 s: it must be recording, and SIGINT must end it.
        status = run.stop(after=1.5)
    finally:
        run.kill()
    return check_run(run, status, killed_by=())


if __name__ == "__main__":
    sys.exit(stress(one_run, runs=2000))
