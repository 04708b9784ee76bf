"""The event protocol as a parent program sees it: every line one compact JSON event, and the
sequences a whole run may write, each with its exit status."""

import json
import re
import signal

STRING = re.compile(rb'"(?:[^"\\]|\\.)*"')

STATE_KEYS = {"type", "state"}
STATES = ("recording", "stopped")
RESULT_KEYS = {"type", "text", "isFinal"}
ERROR_KEYS = {"type", "code", "message"}
START_CODES = {"speech_permission_denied", "microphone_permission_denied",
               "recognizer_unavailable", "on_device_unavailable", "microphone_unavailable",
               "audio_engine_failed"}


def parse_events(stdout):
    """The events, or a ValueError naming the first malformed line."""
    if stdout and not stdout.endswith(b"\n"):
        raise ValueError("torn last line: %r" % stdout[-80:])
    events = []
    for line in stdout.split(b"\n")[:-1]:
        try:
            event = json.loads(line.decode("utf-8"))  # strict UTF-8
        except (UnicodeDecodeError, json.JSONDecodeError) as e:
            raise ValueError("malformed line %r: %s" % (line[:120], e))
        if re.search(rb"\s", STRING.sub(b"", line)):
            raise ValueError("not compact: %r" % line)
        if not isinstance(event, dict):
            raise ValueError("not an object: %r" % line)
        keys, kind = set(event), event.get("type")
        ok = ((kind == "state" and keys == STATE_KEYS and event["state"] in STATES)
              or (kind == "result" and keys == RESULT_KEYS and isinstance(event["text"], str)
                  and isinstance(event["isFinal"], bool))
              or (kind == "error" and keys == ERROR_KEYS and isinstance(event["code"], str)
                  and isinstance(event["message"], str)))
        if not ok:
            raise ValueError("not a protocol event: %r" % line)
        events.append(event)
    return events


def check_run(run, status, killed_by=(signal.SIGINT, signal.SIGTERM)):
    """Raises AssertionError unless the ended `run` (a support.Run) is one of the allowed
    outcomes, with nothing on standard error; returns its kind."""
    if run.err.data():
        raise AssertionError("stderr: %r" % run.err.data()[:300])
    try:
        events = parse_events(run.out.data())
    except ValueError as e:
        raise AssertionError(str(e))
    if status is not None and status < 0:
        if -status in killed_by and not events:
            return "killed"
        raise AssertionError("ended by signal %d after %r" % (-status, events))
    if len(events) == 1 and events[0]["type"] == "error":
        if events[0]["code"] not in START_CODES or status != 1:
            raise AssertionError("failed start %r with status %s" % (events[0], status))
        return "failed start"
    if not events or events[0] != {"type": "state", "state": "recording"}:
        raise AssertionError("does not start with recording: %r" % events[:3])
    if events[-1] != {"type": "state", "state": "stopped"}:
        raise AssertionError("does not end with stopped: %r" % events[-3:])
    middle = events[1:-1]
    if any(e["type"] != "result" or e["isFinal"] for e in middle[:-1]):
        raise AssertionError("unexpected event among partials: %r" % middle)
    last = middle[-1] if middle else None
    if last is None or (last["type"] == "result" and not last["isFinal"]):
        expected, kind = 0, "stopped"
    elif last["type"] == "result":
        expected, kind = 0, "final"
    elif last["type"] == "error" and last["code"] == "recognition_failed":
        expected, kind = 1, "recognition failed"
    else:
        raise AssertionError("unexpected ending: %r" % events[-3:])
    if status != expected:
        raise AssertionError("%s run exited %s" % (kind, status))
    return kind
