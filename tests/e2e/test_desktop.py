"""The real binary on desktops laid out as users have them: what the speakers play is never taken
for the microphone, and the run follows the microphone as it comes and goes. The speakers play
one clip in every case; the microphones hear another, with no word in common."""

import contextlib
import signal
import time
import unittest

from support import Desktop, Speechline, check_run, normalize, reference_words, word_error_rate

SPEAKERS, MICROPHONE = "0870", "goforward"
# Short words ("for", "the") turn up among the guesses on any speech; the longer ones show that
# the speakers were heard.
SPEAKERS_WORDS = {w for w in reference_words(SPEAKERS) if len(w) > 3}
UNAVAILABLE = [{"type": "error", "code": "microphone_unavailable",
                "message": "No microphone input channel is available."}]
# Long enough for a run that wrongly records to show what it heard, yet a bound.
SETTLE = 15
# Generous: a start that fails must not wait for anything first.
START_BOUND = 5
WIDE_MICROPHONE = {"rate": 96000, "channels": 8}


def speak_into_the_microphone(desktop, speakers, run):
    desktop.play(MICROPHONE)


def unplug_the_microphone(desktop, speakers, run):
    time.sleep(1)
    desktop.unplug("mic")
    return time.monotonic()


def kill_the_server(desktop, speakers, run):
    time.sleep(1)
    desktop.kill()
    return time.monotonic()


def plug_in_a_headset(desktop, speakers, run):
    time.sleep(1)
    desktop.play(MICROPHONE, desktop.plug_in("headset"))


def let_the_speakers_finish(desktop, speakers, run):
    speakers.wait()


def stopped_for(seconds):
    """SIGSTOP (a debugger, a frozen session), then a wait past the time given to a backlog."""
    def stop(desktop, speakers, run):
        time.sleep(1)
        run.process.send_signal(signal.SIGSTOP)
        time.sleep(seconds)
        run.process.send_signal(signal.SIGCONT)
        time.sleep(3)
    return stop


class DesktopTest(unittest.TestCase):
    def test_layouts(self):
        # name, has a microphone, environment, what happens once recording, how the run ends
        for name, microphone, env, during, ending in [
            ("speakers only", False, {}, None, "failed start"),
            ("PULSE_SOURCE names the speakers' monitor", True,
             {"PULSE_SOURCE": "speakers.monitor"}, None, "failed start"),
            ("no sound server", True, {"PULSE_SERVER": "unix:/nonexistent"}, None,
             "failed start"),
            ("speech on the speakers only, then SIGINT", True, {}, let_the_speakers_finish,
             "stopped"),
            ("speech on both", True, {}, speak_into_the_microphone, "final"),
            ("microphone unplugged", True, {}, unplug_the_microphone, "recognition failed"),
            ("headset plugged in and made the default", True, {}, plug_in_a_headset, "final"),
            ("sound server killed", True, {}, kill_the_server, "recognition failed"),
            ("stopped for less than the server holds, then SIGINT", True, {}, stopped_for(6),
             "stopped"),
            ("stopped for longer than the server holds", WIDE_MICROPHONE, {}, stopped_for(5),
             "Audio was lost"),
        ]:
            with self.subTest(name), contextlib.ExitStack() as cleanup:
                desktop = Desktop(**(microphone if isinstance(microphone, dict)
                                     else {"microphone": microphone}))
                cleanup.callback(desktop.close)
                speakers = desktop.play(SPEAKERS, "speakers")
                run = Speechline(env=dict(desktop.env, **env))
                cleanup.callback(run.kill)
                if ending == "failed start":
                    self.assertEqual(check_run(run, run.stop(after=SETTLE)), ending)
                    self.assertEqual(run.events(), UNAVAILABLE)
                    self.assertLess(run.took, START_BOUND)
                    continue
                run.wait_for_event()
                since = during(desktop, speakers, run)
                status = run.stop(after=1 if ending == "stopped" else SETTLE)
                events = run.events()
                heard = {w for e in events if e["type"] == "result" for w in normalize(e["text"])}
                self.assertFalse(heard & SPEAKERS_WORDS, events)
                kind = check_run(run, status)
                self.assertIn(ending, (kind, events[-2].get("message", "")[:len(ending)]), events)
                if ending == "final":
                    self.assertLessEqual(word_error_rate(reference_words(MICROPHONE),
                                                         normalize(events[-2]["text"])), 0.5)
                if since:
                    print("\n%s -> stopped in %.2f s: %s"
                          % (name, run.started + run.took - since, events[-2]["message"]))


if __name__ == "__main__":
    unittest.main()
