"""Runs speechline-scripted as a whole process: writes its script, reads its exact output,
exit status and call log, and sends signals once a given platform call has been logged."""

import os
import signal
import subprocess
import tempfile
import time

BINARY = os.environ.get("SPEECHLINE_SCRIPTED", "speechline-scripted")

RECORDING = b'{"type":"state","state":"recording"}\n'
STOPPED = b'{"type":"state","state":"stopped"}\n'

# Enough to catch a hang, never a performance target.
TIMEOUT = 20


def result_line(text, is_final):
    return ('{"type":"result","text":"%s","isFinal":%s}\n'
            % (text, "true" if is_final else "false")).encode()


def error_line(code, message):
    return ('{"type":"error","code":"%s","message":"%s"}\n' % (code, message)).encode()


class Run:
    def __init__(self, stdout, status, calls):
        self.stdout = stdout
        self.status = status
        self.calls = calls

    def called(self, prefix):
        return any(call.startswith(prefix) for call in self.calls)

    def calls_after(self, call):
        return self.calls[self.calls.index(call) + 1:]


class ScriptedProcess:
    """One run. `script` is the script text without its `log` line."""

    def __init__(self, script, args=("--locale", "en-US")):
        self.dir = tempfile.TemporaryDirectory()
        self.log_path = os.path.join(self.dir.name, "calls.log")
        script_path = os.path.join(self.dir.name, "run.script")
        with open(script_path, "w") as f:
            f.write('log "%s"\n%s\n' % (self.log_path, script))
        env = dict(os.environ, SPEECHLINE_SCRIPT=script_path)
        self.process = subprocess.Popen([BINARY, *args], stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, env=env)

    def calls(self):
        try:
            with open(self.log_path) as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def wait_for_call(self, call):
        deadline = time.monotonic() + TIMEOUT
        while call not in self.calls():
            if time.monotonic() > deadline or self.process.poll() is not None:
                raise AssertionError("never called: %s; calls: %s" % (call, self.calls()))
            time.sleep(0.005)

    def send(self, signal_number):
        self.process.send_signal(signal_number)

    def finish(self):
        try:
            stdout, stderr = self.process.communicate(timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            self.process.kill()
            raise AssertionError("the run did not end; calls: %s" % self.calls())
        finally:
            calls = self.calls()
            self.dir.cleanup()
        assert stderr == b"", stderr
        return Run(stdout, self.process.returncode, calls)


def run(script, args=("--locale", "en-US"), signal_after=None, signal_number=signal.SIGINT):
    """Runs to the end; with `signal_after`, sends the signal once that call is logged."""
    process = ScriptedProcess(script, args)
    if signal_after is not None:
        process.wait_for_call(signal_after)
        process.send(signal_number)
    return process.finish()
