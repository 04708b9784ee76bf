#!/usr/bin/env python3
"""Type-checks the macOS backend's Objective-C++ on a machine without Apple's SDK.

Each src/platform/apple/*.mm (or each file named on the command line) is compiled with
clang's -fsyntax-only, ARC and blocks against the stub SDK headers in tools/apple_sdk_stub/,
twice: with BOOL as on x86-64 (signed char) and as on arm64 (bool), since a block written
for one may not match the SDK's declaration on the other. Prints clang's diagnostics and
exits with 1 when any file fails, or when there is nothing to check.

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
    "-x", "objective-c++", "-std=c++20", "-fobjc-arc", "-fblocks",
    "-fobjc-runtime=macosx-11.0", "-fsyntax-only", "-Wall", "-Wextra", "-Werror",
]

# The stub's <objc/objc.h> picks BOOL by clang's predefined __OBJC_BOOL_IS_BOOL, as the SDK's does.
BOOL_FLAVOURS = {
    "x86-64": [],
    "arm64": ["-U__OBJC_BOOL_IS_BOOL", "-D__OBJC_BOOL_IS_BOOL=1"],
}


def compile_command(clang, source, flavour):
    # The SDK's headers are system headers on a Mac; so are the stubs here.
    return [clang, *FLAGS, *BOOL_FLAVOURS[flavour],
            "-isystem", str(STUB_SDK), "-I", str(REPO / "src"), str(source)]


def check(clang, sources):
    """Returns a list of (source, flavour, diagnostics) for every compilation that failed."""
    failures = []
    for source in sources:
        for flavour in BOOL_FLAVOURS:
            run = subprocess.run(compile_command(clang, source, flavour),
                                 capture_output=True, text=True)
            if run.returncode != 0:
                failures.append((source, flavour, run.stdout + run.stderr))
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
    for source, flavour, diagnostics in failures:
        print(f"FAILED {source} (BOOL as on {flavour}):\n{diagnostics}")
    if not failures:
        for source in sources:
            print(f"ok {source.relative_to(REPO) if source.is_relative_to(REPO) else source}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
