"""speechline-dictate typing a clip's words into a terminal, on X11 (Xvfb) and Wayland (sway)."""

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


class Screen:
    """A display, its focused terminal running cat into `window`, and the command beside a
    speechline that copies its events into `events`."""

    def __init__(self, test, wayland):
        self.test, self.dir = test, tempfile.mkdtemp(dir=test.dir)
        self.window, self.events = self.dir + "/window", self.dir + "/events"
        self.env, self.user = dict(test.desktop.env, WAYLAND_DISPLAY=""), NOBODY * wayland
        shutil.copy(os.environ["SPEECHLINE_DICTATE"], self.dir)
        with open(self.dir + "/speechline", "w") as f:
            f.write('#!/bin/bash\nexec %s "$@" > >(exec tee %s)\n'
                    % (os.environ["SPEECHLINE"], self.events))
        os.chmod(self.dir + "/speechline", 0o755)
        if wayland:
            # The rig's sound server, on a socket that nobody may use.
            self.env.update(PULSE_SERVER=test.desktop.open_to_anyone()[1], HOME=self.dir,
                            XDG_RUNTIME_DIR=self.dir + "/xdg", WLR_BACKENDS="headless",
                            WLR_RENDERER="pixman")
            os.mkdir(self.env["XDG_RUNTIME_DIR"], 0o700)
            open(self.events, "w").close()
            for name in [".", "xdg", "speechline", "events"]:
                shutil.chown(os.path.join(self.dir, name), "nobody")
            self.spawn("sway", "-c", "/dev/null")
            # sway leaves wayland-0 to other sessions.
            test.assertTrue(within(TIMEOUT, lambda: os.path.exists(self.dir + "/xdg/wayland-1")))
            self.env["WAYLAND_DISPLAY"] = "wayland-1"
            # The first key of each wtype is lost unless a virtual keyboard is already there.
            self.spawn("wtype", "-s", "3600000", "")
            terminal = ["foot"]
        else:
            ready, done = os.pipe()
            self.spawn("Xvfb", "-displayfd", str(done), pass_fds=[done])
            os.close(done)
            self.env["DISPLAY"] = ":" + os.read(ready, 16).decode().strip()
            terminal = ["xterm", "-T", "dictation", "-e"]
        self.spawn(*terminal, "sh", "-c", 'stty -icanon; exec cat > "$0"', self.window)
        test.assertTrue(within(TIMEOUT, lambda: os.path.exists(self.window)))
        if not wayland:  # no window manager to give it the focus
            self.xdotool("search", "--sync", "--name", "^dictation$", "windowfocus", "--sync")

    def spawn(self, *args, **options):
        self.test.servers.append(subprocess.Popen(
            ["setpriv", "--pdeathsig", "KILL", *self.user, *args], env=self.env,
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            **options))

    def xdotool(self, *args):
        subprocess.run(["xdotool", *args], env=self.env, check=True, timeout=TIMEOUT)

    def dictate(self, *args):
        run = Run([*self.user, self.dir + "/speechline-dictate", *args], self.env)
        self.test.addCleanup(run.kill)
        return run

    def shown(self, since):
        """What the window shows: each DEL (BackSpace) erases the character before it."""
        with open(self.window, "rb") as f:
            text = f.read()[since:].decode()
        while (erased := re.sub("[^\x7f]\x7f", "", text)) != text:
            text = erased
        return text

    def results(self):
        with open(self.events) as f:
            return [e for e in map(json.loads, f) if e["type"] == "result"]


class DictateTest(unittest.TestCase):
    def test_types_into_the_focused_window(self):
        self.dir, self.servers, self.desktop = tempfile.mkdtemp(), [], Desktop()
        os.chmod(self.dir, 0o711)
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)
        self.addCleanup(self.desktop.close)
        self.addCleanup(lambda: [(p.kill(), p.wait()) for p in self.servers[::-1]])
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
                before, started = os.path.getsize(screen.window), time.monotonic()
                if held:
                    screen.xdotool("key", held[0], "keydown", held[1])
                    self.addCleanup(screen.xdotool, "keyup", held[1], "key", held[0])
                run = screen.dictate(*args)
                self.assertTrue(within(TIMEOUT, lambda: os.path.getsize(screen.events)),
                                run.err.text())
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
                elif args:  # typed before the final came (the window read first, to be sure)
                    typed = lambda: (os.path.getsize(screen.window) > before,
                                     any(e["isFinal"] for e in screen.results()))
                    self.assertEqual(within(TIMEOUT, lambda: any(t := typed()) and t),
                                     (True, False))
                self.assertEqual((run.finish(), run.err.text()), (0, []))
                player.kill()
                results = screen.results()
                self.assertEqual(results[-1]["isFinal"], stop is None, results)
                expected = results[-1]["text"] + " "
                within(5, lambda: screen.shown(before) == expected)
                self.assertEqual(screen.shown(before), expected)
                print("%s: %r typed, %.1f s" % (name, expected, time.monotonic() - started))
