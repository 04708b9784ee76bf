"""speechline-dictate typing what a clip played into the rig's microphone says into a terminal
running cat: on an X server (Xvfb, xterm, xdotool) and in a headless sway (foot, wtype)."""

import json
import os
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

from support import TIMEOUT, Desktop, Run, within

# sway refuses to run as root: the Wayland session, its programs and the command run as nobody.
NOBODY = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]


def spawn(args, env, **options):
    return subprocess.Popen(["setpriv", "--pdeathsig", "KILL", *args], env=env,
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, **options)


def shown(data):
    """What the terminal shows: each DEL (BackSpace) erases the character before it."""
    text = []
    for c in data.decode():
        _ = text.pop() if c == "\x7f" else text.append(c)
    return "".join(text)


class Screen:
    """A display with one focused terminal running cat into the file `window`, and a wrapper
    speechline beside a copy of the command that copies its events into the file `events`."""

    def __init__(self, test, desktop, wayland):
        self.dir = tempfile.mkdtemp(prefix="dictate-", dir=test.dir)
        self.window, self.events = self.dir + "/window", self.dir + "/events"
        self.env = dict(desktop.env, WAYLAND_DISPLAY="")
        self.user = NOBODY if wayland else []
        shutil.copy(os.environ["SPEECHLINE_DICTATE"], self.dir)
        with open(self.dir + "/speechline", "w") as f:
            f.write('#!/bin/bash\nexec %s "$@" > >(exec tee %s)\n'
                    % (os.environ["SPEECHLINE"], self.events))
        os.chmod(self.dir + "/speechline", 0o755)
        open(self.events, "w").close()
        terminal = ["xterm", "-T", "dictation", "-e"]
        if wayland:
            # The rig's sound server, on a socket nobody may use.
            desktop.pactl("load-module", "module-native-protocol-unix", "auth-anonymous=1",
                          "socket=%s/pulse" % self.dir)
            self.env.update(PULSE_SERVER="unix:%s/pulse" % self.dir, HOME=self.dir,
                            XDG_RUNTIME_DIR=self.dir + "/xdg",
                            WLR_BACKENDS="headless", WLR_LIBINPUT_NO_DEVICES="1",
                            WLR_RENDERER="pixman")
            os.mkdir(self.env["XDG_RUNTIME_DIR"], 0o700)
            shutil.chown(self.dir, "nobody")
            for name in os.listdir(self.dir):
                shutil.chown(os.path.join(self.dir, name), "nobody")
            with open(self.dir + "/config", "w") as f:
                f.write("xwayland disable\n")
            test.servers.append(spawn([*NOBODY, "sway", "-c", self.dir + "/config"], self.env))
            sockets = lambda: [n for n in os.listdir(self.env["XDG_RUNTIME_DIR"])
                               if n.startswith("wayland-") and not n.endswith(".lock")]
            test.assertTrue(within(TIMEOUT, sockets), "sway did not start")
            self.env["WAYLAND_DISPLAY"] = sockets()[0]
            # The first key of each wtype is lost unless a virtual keyboard is already there.
            test.servers.append(spawn([*NOBODY, "wtype", "-s", "3600000", ""], self.env))
            terminal = [*NOBODY, "foot"]
        else:
            ready, done = os.pipe()
            test.servers.append(spawn(["Xvfb", "-displayfd", str(done), "-nolisten", "tcp"],
                                      self.env, pass_fds=[done]))
            os.close(done)
            self.env["DISPLAY"] = ":" + os.read(ready, 16).decode().strip()
        test.servers.append(spawn([*terminal, "sh", "-c", 'stty -icanon; exec cat > "$0"',
                                   self.window], self.env))
        test.assertTrue(within(TIMEOUT, lambda: os.path.exists(self.window)))
        if not wayland:  # no window manager gives it the focus
            self.xdotool("search", "--sync", "--name", "^dictation$", "windowfocus", "--sync")

    def xdotool(self, *args):
        subprocess.run(["xdotool", *args], env=self.env, check=True, timeout=TIMEOUT)

    def dictate(self, *args):
        return Run([*self.user, self.dir + "/speechline-dictate", *args], self.env)

    def read(self, name):
        with open(getattr(self, name), "rb") as f:
            return f.read()

    def results(self):
        return [e for e in map(json.loads, self.read("events").splitlines())
                if e["type"] == "result"]


class DictateTest(unittest.TestCase):
    def setUp(self):
        self.dir, self.servers = tempfile.mkdtemp(prefix="speechline-dictate-"), []
        os.chmod(self.dir, 0o711)
        self.desktop = Desktop()
        self.addCleanup(self.cleanup)

    def cleanup(self):
        for process in self.servers[::-1]:
            process.kill()
            process.wait()
        self.desktop.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def test_types_into_the_focused_window(self):
        x11, sway = Screen(self, self.desktop, False), Screen(self, self.desktop, True)
        # A pid file left by a run that died, naming a live process that must not be signalled.
        bystander = spawn(["sleep", "600"], None)
        self.servers.append(bystander)
        with open(x11.env["XDG_RUNTIME_DIR"] + "/speechline-dictate.pid", "w") as f:
            f.write("%d\n" % bystander.pid)
        # screen, arguments, clip, how the run is stopped mid-speech, modifiers held meanwhile
        rows = [("final only", x11, (), "goforward", None, ()),
                ("--live", x11, ("--live",), "goforward", None, ()),
                ("second invocation mid-speech", x11, (), "0870", "again", ()),
                ("SIGTERM mid-speech", x11, (), "0870", signal.SIGTERM, ()),
                ("Caps Lock on, Ctrl held", x11, (), "goforward", None,
                 ("Caps_Lock", "Control_L")),
                ("Wayland, --live", sway, ("--live",), "goforward", None, ())]
        for name, screen, args, clip, stop, held in rows:
            with self.subTest(name):
                open(screen.events, "w").close()
                before, started = len(screen.read("window")), time.monotonic()
                if held:
                    screen.xdotool("key", held[0], "keydown", held[1])
                    self.addCleanup(screen.xdotool, "keyup", held[1], "key", held[0])
                run = screen.dictate(*args)
                self.addCleanup(run.kill)
                self.assertTrue(within(TIMEOUT, lambda: b"recording" in screen.read("events")
                                       or run.process.poll() is not None))
                self.assertIsNone(run.process.poll(), run.err.text())
                player = self.desktop.play(clip)
                if stop:
                    self.assertTrue(within(TIMEOUT, lambda: any(e["text"] for e in
                                                                screen.results())))
                if stop == "again":
                    second = screen.dictate()
                    self.assertEqual((second.finish(), second.err.text()), (0, []))
                    self.assertLess(second.took, 1)
                elif stop:
                    run.process.send_signal(stop)
                elif "--live" in args:
                    # The window is read first: read second, it could show the final typed since.
                    def typed_or_final():
                        typed = len(screen.read("window")) > before
                        final = any(e["isFinal"] for e in screen.results())
                        return (typed or final) and (typed, final)
                    self.assertEqual(within(TIMEOUT, typed_or_final), (True, False),
                                     "nothing typed before the final came")
                self.assertEqual((run.finish(), run.err.text()), (0, []))
                results = screen.results()
                self.assertEqual(results[-1]["isFinal"], stop is None, results)
                expected = results[-1]["text"] + " "
                within(5, lambda: shown(screen.read("window")[before:]) == expected)
                self.assertEqual(shown(screen.read("window")[before:]), expected)
                player.kill()
                print("%s: %r typed, %.1f s" % (name, expected, time.monotonic() - started))
        self.assertIsNone(bystander.poll())
