#!/usr/bin/env python3
"""Type-checks the macOS backend's Objective-C++ on a machine without Apple's SDK.

Each src/platform/apple/*.mm (or each file named on the command line) is compiled with
clang's -fsyntax-only, ARC and blocks against the stub SDK headers in tools/apple_sdk_stub/,
once for each slice of the macOS build: x86_64 at macOS 10.15 and arm64 at macOS 11. The
Apple target makes clang honour the availability the stubs declare, so an API newer than the
deployment target fails unless it is guarded with @available; it also gives BOOL its type
for the slice (signed char on x86_64, bool on arm64), since a block written for one may not
match the SDK's declaration on the other. The C++ library is Debian's libc++ (libc++-14-dev),
which clang finds beside itself as Apple's clang does; the C library under it is the stub
SDK's usr/include, so no header of the Linux system takes part. Prints clang's diagnostics
and exits with 1 when any file fails, or when there is nothing to check.

    tests/apple/objc_type_check.py [--clang clang++] [file.mm ...]
"""

import argparse
import pathlib
import subprocess
import sys

REPO = pathlib.Path(__file__).resolve().parents[2]
STUB_SDK = REPO / "tools" / "apple_sdk_stub"
SOURCES = REPO / "src" / "platform" / "apple"

FLAGS = [
    "-x", "objective-c++", "-std=c++20", "-fobjc-arc", "-fblocks", "-fsyntax-only",
    "-stdlib=libc++", "-Wall", "-Wextra", "-Werror",
    "-Werror=unguarded-availability", "-Werror=unguarded-availability-new",
]

# The slices of the macOS build at their deployment targets, by the name of their architecture.
TARGETS = {
    "x86-64": "x86_64-apple-macos10.15",
    "arm64": "arm64-apple-macos11",
}


def compile_command(clang, source, target):
    # The SDK's headers are system headers on a Mac; so are the stubs here.
    return [clang, "-target", TARGETS[target], *FLAGS, "-isysroot", str(STUB_SDK),
            "-isystem", str(STUB_SDK), "-I", str(REPO / "src"), str(source)]


def check(clang, sources):
    """Returns a list of (source, target, diagnostics) for every compilation that failed."""
    failures = []
    for source in sources:
        for target in TARGETS:
            run = subprocess.run(compile_command(clang, source, target),
                                 capture_output=True, text=True)
            if run.returncode != 0:
                failures.append((source, target, run.stdout + run.stderr))
    return failures


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--clang", default="clang++")
    parser.add_argument("sources", nargs="*", type=pathlib.Path)
    args = parser.parse_args(argv)

    sources = args.sources or sorted(SOURCES.glob("*.mm"))
    if not sources:
        print(f"no Objective-C++ sources to check in {SOURCES}")
        return 1
    failures = check(args.clang, sources)
    for source, target, diagnostics in failures:
        print(f"FAILED {source} ({TARGETS[target]}):\n{diagnostics}")
    if not failures:
        for source in sources:
            print(f"ok {source.relative_to(REPO) if source.is_relative_to(REPO) else source}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
