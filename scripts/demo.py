#!/usr/bin/env python3
"""The live part of scripts/demo: a private sound server laid out like a desktop, a recording of
real speech played into its microphone, and speechline's events on standard output as they
come; the demo's own lines, starting with "#", go to standard error. SIGINT, SIGTERM or SIGHUP
stop speechline with SIGINT; the exit status is shown whatever happens, and the sound server
and its directory are always removed.

  python3 scripts/demo.py path/to/speechline
"""

import os
import signal
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from support import CLIPS, PulseDesktop, reference_text  # noqa: E402

CLIP = "0870"


def note(text):
    print("# " + text, file=sys.stderr, flush=True)


def main(binary):
    speechline, recording, interrupted = None, False, False

    def interrupt(*_):
        nonlocal interrupted
        interrupted = True
        # Before "recording" a signal could end speechline before its handlers are set; it is
        # sent once that line comes. Ctrl-C in a terminal reaches speechline directly as well,
        # and a second SIGINT does no harm.
        if recording:
            speechline.send_signal(signal.SIGINT)

    for signum in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(signum, interrupt)
    desktop = PulseDesktop()
    try:
        if interrupted:
            note("interrupted before speechline started")
            return 1
        note("speechline --locale en-US hears %s, which says: %s"
             % (os.path.basename(CLIPS[CLIP]), reference_text(CLIP)))
        speechline = subprocess.Popen([binary, "--locale", "en-US"], stdin=subprocess.DEVNULL,
                                      stdout=subprocess.PIPE, env=desktop.env, text=True)
        for line in speechline.stdout:
            print(line, end="", flush=True)
            if not recording and '"recording"' in line:
                recording = True
                if interrupted:
                    speechline.send_signal(signal.SIGINT)
                else:
                    desktop.play(CLIP)
        status = speechline.wait()
        if status < 0:
            note("speechline was ended by " + signal.Signals(-status).name)
            return 1
        note("exit status %d" % status)
        return status
    finally:
        if speechline and speechline.poll() is None:
            speechline.kill()
            speechline.wait()
        desktop.close()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
