"""A private sound server laid out like a desktop: a sink "speakers", the default sink (its
monitor is what the speakers play), and a microphone "mic" that is a real source, not a monitor:
the sink "micwire" feeds module-remap-source master=micwire.monitor source_name=mic, the default
source. Speech for the microphone is played into "micwire"; what the speakers play must never be
heard. Each server kind builds this layout with pactl and only starts its own processes.

The tests of one CTest run use the kind that SPEECHLINE_SOUND_SERVER names (SERVER):
"pulseaudio" (the default) or "pipewire"; `Desktop` is its class."""

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


def failed(server, log):
    """Why `server` did not start: its log, which close() removes with the directory."""
    try:
        with open(log, errors="replace") as f:
            return "%s did not start; its log:\n%s" % (server, f.read()[-4000:])
    except FileNotFoundError:
        return "%s did not start, and wrote no log" % server


class DesktopLayout:
    """Its own XDG_RUNTIME_DIR and HOME in a temporary directory; `env` reaches only this
    server. close() kills every player and the server's processes, the last started first, and
    removes the directory."""

    def __init__(self, rate=48000, channels=2, microphone=True):
        self.dir = tempfile.mkdtemp(prefix="speechline-desktop-")
        self.env = {k: v for k, v in os.environ.items() if k not in FOREIGN}
        self.env.update(XDG_RUNTIME_DIR=os.path.join(self.dir, "xdg"),
                        HOME=os.path.join(self.dir, "home"))
        os.makedirs(self.env["XDG_RUNTIME_DIR"], mode=0o700)
        os.makedirs(self.env["HOME"])
        self.servers, self.players, self.microphones = [], [], {}
        try:
            self.start()
            self.pactl("load-module", "module-null-sink", "sink_name=speakers", "rate=48000",
                       "channels=2", "norewinds=1")
            self.make_default("sink", "speakers")
            if microphone:
                self.plug_in("mic", rate, channels)
            else:
                self.make_default("source", "speakers.monitor")
        except BaseException:
            self.close()
            raise

    def spawn(self, args, **options):
        """Starts a server process that dies with this process, even one a test timeout kills."""
        self.servers.append(subprocess.Popen(["setpriv", "--pdeathsig", "KILL", *args],
                                             env=self.env, stdin=subprocess.DEVNULL, **options))
        return self.servers[-1]

    def listening(self, server, name):
        """Waits until `server` takes connections on the socket `name` in XDG_RUNTIME_DIR; false
        if it ends first, or does not in time."""
        path = os.path.join(self.env["XDG_RUNTIME_DIR"], name)
        deadline = time.monotonic() + TIMEOUT
        while server.poll() is None and time.monotonic() < deadline:
            with socket.socket(socket.AF_UNIX) as probe:
                if probe.connect_ex(path) == 0:
                    return True
            time.sleep(0.01)
        return False

    def pactl(self, *args):
        return subprocess.run(["pactl", *args], env=self.env, check=True, capture_output=True,
                              text=True, timeout=TIMEOUT).stdout

    def plug_in(self, name, rate=48000, channels=2):
        """Adds the microphone `name` and makes it the default source, as plugging in a headset
        does; returns the sink to play its speech into."""
        wire = name + "wire"
        modules = [self.pactl("load-module", "module-null-sink", "sink_name=" + wire,
                              "rate=%d" % rate, "channels=%d" % channels, "norewinds=1"),
                   # PipeWire's has the graph's format unless told.
                   self.pactl("load-module", "module-remap-source", "master=%s.monitor" % wire,
                              "source_name=" + name, "rate=%d" % rate,
                              "channels=%d" % channels)]
        self.microphones[name] = [m.strip() for m in modules]
        self.use(name)
        return wire

    def unplug(self, name="mic"):
        """Removes the microphone: the remapped source, then its sink. (PipeWire keeps a remapped
        source whose master has gone, and feeds it from the default sink's monitor instead.)"""
        for module in reversed(self.microphones.pop(name)):
            self.pactl("unload-module", module)

    def open_to_anyone(self):
        """A socket that any user may use, in a folder anyone may enter: (folder, PULSE_SERVER)."""
        folder = os.path.join(self.dir, "anyone")
        os.mkdir(folder)
        os.chmod(self.dir, 0o755)
        self.pactl("load-module", "module-native-protocol-unix", "auth-anonymous=1",
                   "socket=%s/native" % folder)
        os.chmod(os.path.join(folder, "native"), 0o777)
        return folder, "unix:%s/native" % folder

    def use(self, source):
        self.make_default("source", source)

    def make_default(self, kind, name):
        """Makes `name` the default sink or source (`kind`), and waits until the server gives it
        as such: on PipeWire, WirePlumber applies it a moment later (in between there is none)."""
        self.pactl("set-default-" + kind, name)
        deadline = time.monotonic() + TIMEOUT
        while self.pactl("get-default-" + kind).strip() != name:
            if time.monotonic() > deadline:
                raise RuntimeError("the default %s is not %s" % (kind, name))
            time.sleep(0.01)

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
        """The server dies, as in a crash: the last process started, the one clients talk to."""
        self.servers[-1].kill()
        self.servers[-1].wait()

    def close(self):
        for process in self.players + self.servers[::-1]:
            process.kill()
            process.wait()
        shutil.rmtree(self.dir, ignore_errors=True)


class PulseDesktop(DesktopLayout):
    """The layout on a private PulseAudio daemon."""

    def start(self):
        log = os.path.join(self.dir, "pulseaudio.log")
        server = self.spawn(["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                             "--use-pid-file=no", "--log-target=file:" + log,
                             "-L", "module-native-protocol-unix"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not self.listening(server, os.path.join("pulse", "native")):
            raise RuntimeError(failed("pulseaudio", log))


class PipeWireDesktop(DesktopLayout):
    """The layout on a private PipeWire session, as desktops run it: a session bus of its own
    (WirePlumber needs one), pipewire, WirePlumber, and pipewire-pulse, the PulseAudio service
    that speechline talks to. WirePlumber looks for no device of the machine."""

    def start(self):
        # Read after WirePlumber's own 50-*-config.lua, before its 90-enable-all.lua.
        config = os.path.join(self.env["HOME"], ".config", "wireplumber")
        for folder, monitors in (("main.lua.d", ("alsa", "v4l2", "libcamera")),
                                 ("bluetooth.lua.d", ("bluez",))):
            os.makedirs(os.path.join(config, folder))
            with open(os.path.join(config, folder, "60-no-devices.lua"), "w") as f:
                f.writelines("%s_monitor.enabled = false\n" % m for m in monitors)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + os.path.join(self.dir, "bus")
        log = os.path.join(self.dir, "pipewire.log")
        with open(log, "w") as out:
            bus = self.spawn(["dbus-daemon", "--session", "--nofork", "--print-address",
                              "--address=" + self.env["DBUS_SESSION_BUS_ADDRESS"]],
                             stdout=subprocess.PIPE, stderr=out)
            # It prints its address once it listens.
            bus.stdout.readline()
            bus.stdout.close()
            # WirePlumber and pipewire-pulse give up at once if pipewire does not answer.
            pipewire = self.spawn(["pipewire"], stdout=out, stderr=subprocess.STDOUT)
            if not self.listening(pipewire, "pipewire-0"):
                raise RuntimeError(failed("pipewire", log))
            self.spawn(["wireplumber"], stdout=out, stderr=subprocess.STDOUT)
            # No client before it listens: one would make the folder for the socket, which it
            # then fails to make itself.
            pulse = self.spawn(["pipewire-pulse"], stdout=out, stderr=subprocess.STDOUT)
            if not self.listening(pulse, os.path.join("pulse", "native")):
                raise RuntimeError(failed("pipewire-pulse", log))
        # The default sink is WirePlumber's choice: once there is one, it runs, and the defaults
        # can be set.
        deadline = time.monotonic() + TIMEOUT
        while all(p.poll() is None for p in self.servers) and time.monotonic() < deadline:
            info = subprocess.run(["pactl", "info"], env=self.env, capture_output=True,
                                  text=True, timeout=TIMEOUT).stdout
            if "Default Sink: " in info and "Default Sink: @" not in info:
                return
            time.sleep(0.01)
        raise RuntimeError(failed("the PipeWire session", log))


SERVER = os.environ.get("SPEECHLINE_SOUND_SERVER", "pulseaudio")
Desktop = {"pulseaudio": PulseDesktop, "pipewire": PipeWireDesktop}[SERVER]
