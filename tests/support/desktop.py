"""A private sound server laid out like a desktop: a sink "speakers", the default sink (its
monitor is what the speakers play), and a microphone "mic" that is a real source, not a monitor:
the sink "micwire" feeds module-remap-source master=micwire.monitor source_name=mic, the default
source. Speech for the microphone is played into "micwire"; what the speakers play must never be
heard. Each server kind builds this layout with pactl and only starts its own processes."""

import os
import shutil
import socket
import subprocess
import tempfile
import time

from .clips import CLIPS, RAW_FORMAT, TIMEOUT

# Whatever could lead a client to another server, or to another device on this one.
FOREIGN = ["PULSE_SERVER", "PULSE_RUNTIME_PATH", "PULSE_STATE_PATH", "PULSE_COOKIE",
           "PULSE_CLIENTCONFIG", "PULSE_SOURCE", "PULSE_SINK", "DISPLAY",
           "DBUS_SESSION_BUS_ADDRESS"]


class Desktop:
    """Its own XDG_RUNTIME_DIR and HOME in a temporary directory; `env` reaches only this
    server. close() kills the server and every player, and removes the directory."""

    def __init__(self, rate=48000, channels=2, microphone=True):
        self.dir = tempfile.mkdtemp(prefix="speechline-desktop-")
        self.env = {k: v for k, v in os.environ.items() if k not in FOREIGN}
        self.env.update(XDG_RUNTIME_DIR=os.path.join(self.dir, "xdg"),
                        HOME=os.path.join(self.dir, "home"))
        os.makedirs(self.env["XDG_RUNTIME_DIR"], mode=0o700)
        os.makedirs(self.env["HOME"])
        self.servers, self.players, self.wires = [], [], {}
        try:
            self.start()
            self.pactl("load-module", "module-null-sink", "sink_name=speakers", "rate=48000",
                       "channels=2", "norewinds=1")
            self.pactl("set-default-sink", "speakers")
            if microphone:
                self.plug_in("mic", rate, channels)
        except BaseException:
            self.close()
            raise

    def spawn(self, args, **options):
        """Starts a server process that dies with this process, even one a test timeout kills."""
        self.servers.append(subprocess.Popen(["setpriv", "--pdeathsig", "KILL", *args],
                                             env=self.env, stdin=subprocess.DEVNULL, **options))
        return self.servers[-1]

    def pactl(self, *args):
        return subprocess.run(["pactl", *args], env=self.env, check=True, capture_output=True,
                              text=True, timeout=TIMEOUT).stdout

    def plug_in(self, name, rate=48000, channels=2):
        """Adds the microphone `name` and makes it the default source, as plugging in a headset
        does; returns the sink to play its speech into."""
        wire = name + "wire"
        self.wires[name] = self.pactl("load-module", "module-null-sink", "sink_name=" + wire,
                                      "rate=%d" % rate, "channels=%d" % channels, "norewinds=1")
        self.pactl("load-module", "module-remap-source", "master=%s.monitor" % wire,
                   "source_name=" + name)
        self.use(name)
        return wire

    def unplug(self, name="mic"):
        """Removes the microphone: its sink goes, and the remapped source with it."""
        self.pactl("unload-module", self.wires.pop(name).strip())

    def use(self, source):
        self.pactl("set-default-source", source)

    def record_streams(self):
        """The record streams of clients (a remapped source's own stream has no client)."""
        lines = self.pactl("list", "short", "source-outputs").splitlines()
        return [line for line in lines if line.split("\t")[2] != "-"]

    def play(self, clip, sink="micwire"):
        """Starts playing a clip (a name in CLIPS, or a WAV file) into a sink; returns the
        player process."""
        path = CLIPS.get(clip, clip)
        raw = RAW_FORMAT if path.endswith(".raw") else []
        self.players.append(subprocess.Popen(["paplay", "-d", sink, *raw, path], env=self.env))
        return self.players[-1]

    def kill(self):
        """The server dies, as in a crash."""
        for process in self.servers:
            process.kill()
            process.wait()

    def close(self):
        for process in self.players + self.servers:
            process.kill()
            process.wait()
        shutil.rmtree(self.dir, ignore_errors=True)


class PulseDesktop(Desktop):
    """The layout on a private PulseAudio daemon."""

    def start(self):
        log = os.path.join(self.dir, "pulseaudio.log")
        server = self.spawn(["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                             "--use-pid-file=no", "--log-target=file:" + log,
                             "-L", "module-native-protocol-unix"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        socket_path = os.path.join(self.env["XDG_RUNTIME_DIR"], "pulse", "native")
        deadline = time.monotonic() + TIMEOUT
        while server.poll() is None and time.monotonic() < deadline:
            with socket.socket(socket.AF_UNIX) as probe:
                if probe.connect_ex(socket_path) == 0:
                    return
            time.sleep(0.01)
        raise RuntimeError("pulseaudio did not start; its log: " + log)
