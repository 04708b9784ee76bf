#!/usr/bin/env python3
"""Shows the live transcript of one speechline run.

    python3 transcribe.py [--locale en-US] [--timeout 60] [--speechline PATH]

The transcript goes to standard output: on a terminal as one line rewritten in place, otherwise
one line per change ("partial: ..." and "final: ..."). Status and errors go to standard error.
Ctrl-C or the timeout stops the run; what was heard until then stays on the screen.

Exit status: 0 after a final transcript or a stop, 1 after a speechline error, 2 when speechline
could not be started.
"""

import argparse
import json
import signal
import subprocess
import sys

# What a user can do about each error code. The message that comes with the code says what
# happened; an unknown code is still reported, with its message.
ADVICE = {
    "speech_permission_denied":
        "Allow speech recognition in System Settings > Privacy & Security.",
    "microphone_permission_denied":
        "Allow microphone access in System Settings > Privacy & Security.",
    "recognizer_unavailable":
        "Check the locale, or install a model for it (docs/protocol.md, 'Linux models').",
    "on_device_unavailable":
        "Run without --requires-on-device, or choose another locale.",
    "microphone_unavailable":
        "Connect or select a microphone ('pactl info' shows the default source).",
    "audio_engine_failed":
        "The sound system refused to record; try again.",
    "recognition_failed":
        "Recognition ended early; the text above is what was heard.",
}


class TranscriptView:
    """The live transcript: each partial replaces the one before."""

    def __init__(self, out):
        self.out = out
        self.live = out.isatty()
        self.shown = False

    def show(self, text, final):
        if self.live:
            # Carriage return and erase-line: the new text replaces the old in place.
            self.out.write("\r\x1b[K" + text + ("\n" if final else ""))
            self.shown = not final
        else:
            self.out.write("%s: %s\n" % ("final" if final else "partial", text))
        self.out.flush()

    def close(self):
        if self.shown:
            self.out.write("\n")
            self.shown = False


def status(message):
    print("transcribe: " + message, file=sys.stderr, flush=True)


def main():
    parser = argparse.ArgumentParser(description="Show what speechline hears.")
    parser.add_argument("--locale", default="en-US")
    parser.add_argument("--timeout", type=float, default=60,
                        help="stop after this many seconds (0: never)")
    parser.add_argument("--speechline", default="speechline", help="path of the program")
    args = parser.parse_args()

    try:
        child = subprocess.Popen([args.speechline, "--locale", args.locale],
                                 stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                 text=True, encoding="utf-8")
    except OSError as error:
        status("cannot start %s: %s" % (args.speechline, error.strerror))
        return 2

    recording = False
    stop_wanted = False

    def request_stop(*_):
        nonlocal stop_wanted
        # Before "recording", speechline may not have its own handlers yet; the stop is sent
        # as soon as it says it is listening.
        if recording and not stop_wanted:
            child.send_signal(signal.SIGINT)
        stop_wanted = True

    # Ctrl-C in a terminal also reaches speechline directly; forwarding covers the cases where
    # it does not (no terminal, a parent that sends SIGINT to us alone). A second one is harmless.
    signal.signal(signal.SIGINT, request_stop)
    signal.signal(signal.SIGTERM, request_stop)
    # The timer's signal is handled on this thread, like Ctrl-C, so no lock is needed.
    signal.signal(signal.SIGALRM, request_stop)
    if args.timeout > 0:
        signal.setitimer(signal.ITIMER_REAL, args.timeout)

    view = TranscriptView(sys.stdout)
    error_code = None
    for line in child.stdout:
        event = json.loads(line)
        kind = event["type"]
        if kind == "state" and event["state"] == "recording":
            recording = True
            status("listening (Ctrl-C to stop)")
            if stop_wanted:
                child.send_signal(signal.SIGINT)
        elif kind == "result":
            view.show(event["text"], event["isFinal"])
        elif kind == "error":
            view.close()
            error_code = event["code"]
            status("error %s: %s" % (error_code, event["message"]))
            if error_code in ADVICE:
                status(ADVICE[error_code])
        elif kind == "state" and event["state"] == "stopped":
            view.close()
            status("stopped")

    signal.setitimer(signal.ITIMER_REAL, 0)
    returncode = child.wait()
    view.close()
    if returncode < 0:
        # Killed before it could stop in order (a signal in its first milliseconds, SIGKILL).
        name = signal.Signals(-returncode).name
        status("ended by %s" % name)
        return 0 if -returncode in (signal.SIGINT, signal.SIGTERM) else 1
    if error_code is not None or returncode != 0:
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
