"""speechline-scripted as a whole process: its exact output, exit status and call log, with
signals sent once a given platform call has been logged."""

import collections
import signal
import unittest

from support import Scripted, within
from support.runner import SCRIPTED

EN_US = 'locale "en-US"'
RECORDING = b'{"type":"state","state":"recording"}\n'
STOPPED = b'{"type":"state","state":"stopped"}\n'
# Enough to catch a hang, never a performance target.
TIMEOUT = 20
Result = collections.namedtuple("Result", "stdout status calls")


def result_line(text, is_final):
    return ('{"type":"result","text":"%s","isFinal":%s}\n'
            % (text, "true" if is_final else "false")).encode()


def error_line(code, message):
    return ('{"type":"error","code":"%s","message":"%s"}\n' % (code, message)).encode()


SPEECH_DENIED = error_line("speech_permission_denied",
                           "Speech recognition permission was not granted.")
MICROPHONE_DENIED = error_line("microphone_permission_denied",
                               "Microphone permission was not granted.")


def run(script, args=("--locale", "en-US"), signal_after=None, signal_number=signal.SIGINT):
    """Runs to the end, or is killed after TIMEOUT; with `signal_after`, sends the signal once
    that call is logged."""
    process = Scripted(script, args)
    try:
        if signal_after is not None:
            within(TIMEOUT, lambda: signal_after in process.calls()
                   or process.process.poll() is not None)
            assert signal_after in process.calls(), "never called: %s; calls: %s" % (
                signal_after, process.calls())
            process.process.send_signal(signal_number)
        status = process.stop(after=TIMEOUT, signum=signal.SIGKILL)
        assert process.err.data() == b"", process.err.data()
        return Result(process.out.data(), status, process.calls())
    finally:
        process.kill()


class FailedStartTest(unittest.TestCase):
    """Each failed start writes its one line, exits 1, and goes no further."""

    CASES = [
        # name, script, args, line, calls that must not have happened
        ("speech not determined", "speechAuthorization 0", (), SPEECH_DENIED,
         ["requestAccessForMediaType", "initWithLocale"]),
        ("speech denied", "speechAuthorization 1", (), SPEECH_DENIED,
         ["requestAccessForMediaType", "initWithLocale"]),
        ("speech restricted, answered later", "speechAuthorization 2 thread 50", (),
         SPEECH_DENIED, ["requestAccessForMediaType", "initWithLocale"]),
        ("microphone refused", "microphoneAccess no thread 30\n" + EN_US, ("--locale", "en-US"),
         MICROPHONE_DENIED, ["initWithLocale"]),
        ("no recognizer, default locale", EN_US, (),
         error_line("recognizer_unavailable", "No speech recognizer is available for zh-CN."),
         ["isAvailable", "SFSpeechAudioBufferRecognitionRequest"]),
        ("no recognizer, quote and slash", EN_US, ("--locale", 'x"y/z\\'),
         error_line("recognizer_unavailable",
                    'No speech recognizer is available for x\\"y\\/z\\\\.'),
         ["isAvailable"]),
        ("recognizer unavailable", 'locale "en-US" unavailable', ("--locale", "en-US"),
         error_line("recognizer_unavailable", "The speech recognizer is currently unavailable."),
         ["SFSpeechAudioBufferRecognitionRequest", "inputNode"]),
        ("on-device required, unsupported", 'locale "fr-FR" noOnDevice',
         ("--locale", "fr-FR", "--requires-on-device"),
         error_line("on_device_unavailable",
                    "On-device speech recognition is not available for fr-FR."),
         ["setRequiresOnDeviceRecognition", "inputNode"]),
        ("no input channel", EN_US + "\ninput 0 48000", ("--locale", "en-US"),
         error_line("microphone_unavailable", "No microphone input channel is available."),
         ["installTapOnBus", "prepare"]),
        ("engine start fails",
         EN_US + '\nengineStartError "Device \\xe2\\x80\\x9cmic\\xe2\\x80\\x9d / gone"',
         ("--locale", "en-US"),
         error_line("audio_engine_failed", "Device \u201cmic\u201d \\/ gone"),
         ["recognitionTaskWithRequest"]),
    ]

    def test_failed_starts(self):
        for name, script, args, line, not_called in self.CASES:
            with self.subTest(name):
                result = run(script, args)
                self.assertEqual(result.stdout, line)
                self.assertEqual(result.status, 1)
                self.assertNotIn("stop", result.calls)
                self.assertNotIn("runMainLoop", result.calls)
                for call in not_called:
                    self.assertFalse([c for c in result.calls if c.startswith(call)], call)

    def test_output_that_cannot_be_written(self):
        # Every write to /dev/full fails: the first event ends the run, with no teardown.
        process = Scripted(EN_US + "\ntapBuffers 3", binary="sh",
                           args=("-c", 'exec "$0" --locale en-US >/dev/full', SCRIPTED))
        self.addCleanup(process.kill)
        self.assertEqual((process.stop(after=TIMEOUT), process.err.data()), (1, b""))
        self.assertIn("startAndReturnError", process.calls())
        self.assertFalse({"recognitionTaskWithRequest", "stop", "runMainLoop"}
                         & set(process.calls()))

    def test_engine_failure_leaves_tap_and_skips_teardown(self):
        result = run(EN_US + '\nengineStartError "broken"')
        self.assertEqual(result.calls[-3:], ["installTapOnBus 0 1024 16000 1", "prepare",
                                             "startAndReturnError"])


class OnDeviceRuleTest(unittest.TestCase):
    def test_on_device_setting(self):
        cases = [
            # recognizer supports it, option given, expected setRequiresOnDevice calls
            (True, False, ["setRequiresOnDeviceRecognition YES"]),
            (True, True, ["setRequiresOnDeviceRecognition YES"]),
            (False, False, []),
        ]
        for supported, required, expected in cases:
            with self.subTest(supported=supported, required=required):
                script = 'locale "en-US"' + ("" if supported else " noOnDevice")
                args = ("--locale", "en-US") + (("--requires-on-device",) if required else ())
                result = run(script, args, signal_after="runMainLoop")
                self.assertEqual(result.stdout, RECORDING + STOPPED)
                self.assertEqual([c for c in result.calls if c.startswith("setRequiresOnDevice")],
                                 expected)


class RecognitionTest(unittest.TestCase):
    """What the recognizer delivers becomes events; a final or an error ends the run."""

    CASES = [
        ("partials then final", [
            'deliver 0 partial "go"', 'deliver 20 partial "go forward"',
            'deliver 30 final "go forward ten meters"'],
         [result_line("go", False), result_line("go forward", False),
          result_line("go forward ten meters", True)], 0),
        ("error", ['deliver 10 partial "go"', 'deliver 20 error "Recognition broke down."'],
         [result_line("go", False),
          error_line("recognition_failed", "Recognition broke down.")], 1),
        ("partial and error together", ['deliver 10 partial "go" error "Lost."'],
         [result_line("go", False), error_line("recognition_failed", "Lost.")], 1),
        ("final and error together", ['deliver 10 final "go" error "Lost."'],
         [result_line("go", True)], 0),
        ("empty delivery writes nothing", ["deliver 10", 'deliver 20 final "done"'],
         [result_line("done", True)], 0),
        ("empty and repeated texts are reported", [
            'deliver 10 partial ""', 'deliver 15 partial ""', 'deliver 20 final ""'],
         [result_line("", False), result_line("", False), result_line("", True)], 0),
        ("text escaped", ['deliver 10 final "\\xe4\\xbd\\xa0 \\"a/b\\"\\n"'],
         [result_line('\u4f60 \\"a\\/b\\"\\n', True)], 0),
        ("nothing after the ending", [
            'deliver 10 final "one"', 'deliver 11 partial "two"', 'deliver 12 error "x"'],
         [result_line("one", True)], 0),
        # The engine stops by itself when its microphone goes away; timed from the engine's start.
        ("engine stops by itself", [
            'deliver 0 partial "go"', 'engineStops 200 "The audio input device changed."'],
         [result_line("go", False),
          error_line("recognition_failed", "The audio input device changed.")], 1),
    ]

    def test_deliveries(self):
        for name, deliveries, lines, status in self.CASES:
            with self.subTest(name):
                result = run("\n".join([EN_US, "tapBuffers 3"] + deliveries))
                self.assertEqual(result.stdout, RECORDING + b"".join(lines) + STOPPED)
                self.assertEqual(result.status, status)
                self.assertEqual(result.calls.count("stop"), 1)
                # "recording" is written before the task starts, which may deliver at once.
                calls = [c for c in result.calls if not c.startswith("appendAudioPCMBuffer")]
                self.assertEqual(calls[calls.index("startAndReturnError") + 1],
                                 "recognitionTaskWithRequest")

    def test_tap_forwards_buffers_to_the_request(self):
        result = run(EN_US + "\ninput 2 48000\ntapBuffers 3",
                     signal_after="appendAudioPCMBuffer 1024")
        self.assertIn("installTapOnBus 0 1024 48000 2", result.calls)
        self.assertGreaterEqual(result.calls.count("appendAudioPCMBuffer 1024"), 1)


class SignalTest(unittest.TestCase):
    """SIGINT or SIGTERM while recording stops in order; one that comes during a permission wait
    is acted on only once the start has ended."""

    TEARDOWN = ["stop", "inputNode", "removeTapOnBus 0", "endAudio", "cancel"]

    def test_signals(self):
        # name, script after the locale, the call after which the signal comes, output, status
        for name, script, call, stdout, status in [
            ("while recording", "", "runMainLoop", RECORDING + STOPPED, 0),
            ("a cancel that reports an error at once", 'cancelError "Recognition was cancelled."',
             "runMainLoop", RECORDING + STOPPED, 0),
            ("a final due after the signal", 'deliver 300 final "late"', "runMainLoop",
             RECORDING + STOPPED, 0),
            ("an engine stop due after the signal", 'engineStops 300 "gone"', "runMainLoop",
             RECORDING + STOPPED, 0),
            ("during the speech wait", "speechAuthorization 3 thread 400", "requestAuthorization",
             RECORDING + STOPPED, 0),
            ("during the microphone wait", "microphoneAccess yes thread 400",
             "requestAccessForMediaType audio", RECORDING + STOPPED, 0),
            ("during a microphone wait that ends in a refusal", "microphoneAccess no thread 400",
             "requestAccessForMediaType audio", MICROPHONE_DENIED, 1),
        ]:
            for signal_number in (signal.SIGINT, signal.SIGTERM):
                with self.subTest(name, signal=signal_number.name):
                    result = run(EN_US + "\n" + script, signal_after=call,
                                 signal_number=signal_number)
                    self.assertEqual((result.stdout, result.status), (stdout, status))
                    if status == 0:
                        loop = result.calls.index("runMainLoop")
                        self.assertEqual(result.calls[loop + 1:], self.TEARDOWN)

    def test_signal_repeated(self):
        # A handler that ThreadSanitizer deferred and then never ran hung about 1 run in 200.
        outcomes = collections.Counter(run(EN_US + '\ncancelError "Recognition was cancelled."',
                                           signal_after="runMainLoop")[:2] for _ in range(1000))
        self.assertEqual(outcomes, {(RECORDING + STOPPED, 0): 1000})

if __name__ == "__main__":
    unittest.main()
