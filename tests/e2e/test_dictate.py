"""speechline-dictate typing what a clip played into the rig's microphone says into a terminal
running cat: on an X server (Xvfb, xterm, xdotool) and in a headless sway (foot, wtype)."""

import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

from support import TIMEOUT, Desktop, Run, within

# sway refuses to run as root: the Wayland session, its programs and the command run as nobody.
NOBODY = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]


def shown(data):
    """What the terminal shows: each DEL (BackSpace) erases the character before it."""
    text = data.decode()
    while (erased := re.sub("[^\x7f]\x7f", "", text)) != text:
        text = erased
    return text


class Screen:
    """A display whose focused terminal runs cat into the file `window`, and a copy of the
    command beside a wrapper speechline that copies its events into the file `events`."""

    def __init__(self, test, wayland):
        self.test, self.dir = test, tempfile.mkdtemp(dir=test.dir)
        self.window, self.events = self.dir + "/window", self.dir + "/events"
        self.env, self.user = dict(test.desktop.env, WAYLAND_DISPLAY=""), NOBODY * wayland
        shutil.copy(os.environ["SPEECHLINE_DICTATE"], self.dir)
        with open(self.dir + "/speechline", "w") as f:
            f.write('#!/bin/bash\nexec %s "$@" > >(exec tee %s)\n'
                    % (os.environ["SPEECHLINE"], self.events))
        os.chmod(self.dir + "/speechline", 0o755)
        open(self.events, "w").close()
        terminal = self.wayland() if wayland else self.x11()
        self.spawn(*terminal, "sh", "-c", 'stty -icanon; exec cat > "$0"', self.window)
        test.assertTrue(within(TIMEOUT, lambda: os.path.exists(self.window)))
        if not wayland:  # no window manager gives it the focus
            self.xdotool("search", "--sync", "--name", "^dictation$", "windowfocus", "--sync")

    def spawn(self, *args, **options):
        self.test.servers.append(subprocess.Popen(
            ["setpriv", "--pdeathsig", "KILL", *self.user, *args], env=self.env,
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            **options))

    def x11(self):
        ready, done = os.pipe()
        self.spawn("Xvfb", "-displayfd", str(done), pass_fds=[done])
        os.close(done)
        self.env["DISPLAY"] = ":" + os.read(ready, 16).decode().strip()
        return ["xterm", "-T", "dictation", "-e"]

    def wayland(self):
        # The rig's sound server, on a socket that nobody may use.
        self.test.desktop.pactl("load-module", "module-native-protocol-unix", "auth-anonymous=1",
                                "socket=%s/pulse" % self.dir)
        self.env.update(PULSE_SERVER="unix:%s/pulse" % self.dir, HOME=self.dir,
                        XDG_RUNTIME_DIR=self.dir + "/xdg", WLR_BACKENDS="headless",
                        WLR_LIBINPUT_NO_DEVICES="1", WLR_RENDERER="pixman")
        os.mkdir(self.env["XDG_RUNTIME_DIR"], 0o700)
        with open(self.dir + "/config", "w") as f:
            f.write("xwayland disable\n")
        for name in [".", *os.listdir(self.dir)]:
            shutil.chown(os.path.join(self.dir, name), "nobody")
        self.spawn("sway", "-c", self.dir + "/config")
        # sway leaves wayland-0 to other sessions.
        self.test.assertTrue(within(TIMEOUT, lambda: os.path.exists(
            self.env["XDG_RUNTIME_DIR"] + "/wayland-1")), "sway did not start")
        self.env["WAYLAND_DISPLAY"] = "wayland-1"
        # The first key of each wtype is lost unless a virtual keyboard is already there.
        self.spawn("wtype", "-s", "3600000", "")
        return ["foot"]

    def xdotool(self, *args):
        subprocess.run(["xdotool", *args], env=self.env, check=True, timeout=TIMEOUT)

    def dictate(self, *args, env=None):
        run = Run([*self.user, self.dir + "/speechline-dictate", *args],
                  dict(self.env, **(env or {})))
        self.test.addCleanup(run.kill)
        return run

    def read(self, name):
        with open(getattr(self, name), "rb") as f:
            return f.read()

    def results(self):
        return [e for e in map(json.loads, self.read("events").splitlines())
                if e["type"] == "result"]


class DictateTest(unittest.TestCase):
    def setUp(self):
        self.dir, self.servers, self.desktop = tempfile.mkdtemp(), [], Desktop()
        os.chmod(self.dir, 0o711)
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)
        self.addCleanup(self.desktop.close)
        self.addCleanup(lambda: [(p.kill(), p.wait()) for p in self.servers[::-1]])

    def test_types_into_the_focused_window(self):
        x11, sway = Screen(self, False), Screen(self, True)
        # A pid file left by a run that died, naming a live process: this one.
        with open(x11.env["XDG_RUNTIME_DIR"] + "/speechline-dictate.pid", "w") as f:
            f.write("%d\n" % os.getpid())
        # screen, arguments, clip, how the run is stopped mid-speech, keys held meanwhile
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
                self.assertTrue(within(TIMEOUT, lambda: b"recording" in screen.read("events")
                                       or run.process.poll() is not None), "not recording")
                player = self.desktop.play(clip)
                self.addCleanup(player.kill)
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
                player.kill()
                results = screen.results()
                self.assertEqual(results[-1]["isFinal"], stop is None, results)
                expected = results[-1]["text"] + " "
                within(5, lambda: shown(screen.read("window")[before:]) == expected)
                self.assertEqual(shown(screen.read("window")[before:]), expected)
                print("%s: %r typed, %.1f s" % (name, expected, time.monotonic() - started))

    def test_each_failure_is_one_line(self):
        screen = Screen(self, False)
        # changes to the environment, arguments, what the one line says
        rows = [({"DISPLAY": ""}, (), "no display"),
                ({"WAYLAND_DISPLAY": "wayland-1", "XDG_CURRENT_DESKTOP": "ubuntu:GNOME"}, (),
                 "GNOME on Wayland"),
                ({"PATH": "/nonexistent"}, (), "xdotool is not installed"),
                ({}, ("--locale", "xx-XX"), "available for xx-XX. (recognizer_unavailable)"),
                ({}, ("--live", "--bogus"), "unrecognized arguments: --bogus")]
        for env, args, says in rows:
            with self.subTest(says):
                run = screen.dictate(*args, env=env)
                self.assertEqual((run.finish(), run.out.text()), (1, []))
                self.assertRegex("\n".join(run.err.text()),
                                 r"\Aspeechline-dictate: [^\n]*%s[^\n]*\Z" % re.escape(says))
