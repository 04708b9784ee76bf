// A private PulseAudio daemon for one test, laid out like a desktop as tests/support/desktop.py
// lays out its own, and the process environment that reaches it.
#pragma once

#include <signal.h>
#include <stdlib.h>
#include <sys/types.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace speechline::testing_support {

inline std::string shellQuoted(const std::string& text) {
  std::string result = "'";
  for (char c : text) result += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return result + "'";
}

inline std::string fileText(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

// Owns a fresh temporary directory and points this process's XDG_RUNTIME_DIR and HOME into it
// (child processes inherit them), so that libpulse finds only the daemon started here. Without
// start() no server is reachable. The destructor kills the daemon, which ends every player, and
// removes the directory.
class PrivatePulseServer {
 public:
  PrivatePulseServer() {
    std::string pattern = std::filesystem::temp_directory_path() / "speechline-pulse-XXXXXX";
    if (mkdtemp(pattern.data())) directory_ = pattern;
    std::filesystem::create_directory(directory_ + "/home");
    setenv("XDG_RUNTIME_DIR", directory_.c_str(), 1);
    setenv("HOME", (directory_ + "/home").c_str(), 1);
    // Whatever could lead libpulse to another server, or to another device on this one.
    for (const char* name : {"PULSE_SERVER", "PULSE_RUNTIME_PATH", "PULSE_STATE_PATH",
                             "PULSE_COOKIE", "PULSE_CLIENTCONFIG", "PULSE_SOURCE", "PULSE_SINK",
                             "DISPLAY", "DBUS_SESSION_BUS_ADDRESS"}) {
      unsetenv(name);
    }
  }

  ~PrivatePulseServer() {
    if (daemon_ > 0) kill(daemon_, SIGKILL);
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }

  PrivatePulseServer(const PrivatePulseServer&) = delete;
  PrivatePulseServer& operator=(const PrivatePulseServer&) = delete;

  // Starts the daemon with the native protocol and, with `speakers`, the default sink
  // `speakers`. Returns false if it did not come up.
  bool start(bool speakers = true) {
    const std::string log = shellQuoted(directory_ + "/pulseaudio.log");
    // --daemonize returns once the daemon is up. Its own complaints (it runs as root here) stay
    // out of the test's stderr.
    if (std::system(("pulseaudio -n --daemonize=yes --exit-idle-time=-1 --log-target=file:" + log +
                     " -L module-native-protocol-unix >/dev/null 2>>" + log)
                        .c_str()) != 0) {
      return false;
    }
    daemon_ = static_cast<pid_t>(std::atol(fileText(directory_ + "/pulse/pid").c_str()));
    return daemon_ > 0 &&
           (!speakers || (pactl("load-module module-null-sink sink_name=speakers norewinds=1") &&
                          pactl("set-default-sink speakers")));
  }

  // start(), and the microphone plugMicrophone("mic", micFormat) as the default source.
  bool startDesktop(const std::string& micFormat) {
    return start() && plugMicrophone("mic", micFormat);
  }

  // Adds a source `name`, not a monitor, that records what is played into the sink `<name>wire`
  // whose sample format is `format` ("rate=16000 channels=1"), and makes it the default source.
  bool plugMicrophone(const std::string& name, const std::string& format) {
    // Without norewinds the first audio of a null sink's monitor can take two seconds.
    return pactl("load-module module-null-sink sink_name=" + name + "wire " + format +
                 " norewinds=1") &&
           pactl("load-module module-remap-source master=" + name +
                 "wire.monitor source_name=" + name) &&
           pactl("set-default-source " + name);
  }

  void signalDaemon(int signal) {
    if (daemon_ > 0) kill(daemon_, signal);
  }

  // Runs `pactl <arguments>` against the daemon; returns true on success.
  bool pactl(const std::string& arguments) {
    return std::system(("pactl " + arguments + " >/dev/null 2>&1").c_str()) == 0;
  }

  // Starts playing the WAV file at `path` into the sink named `sink`; returns false if the
  // player could not be started.
  bool play(const std::string& path, const std::string& sink) {
    return std::system(
               ("paplay -d " + shellQuoted(sink) + " " + shellQuoted(path) + " >/dev/null 2>&1 &")
                   .c_str()) == 0;
  }

 private:
  std::string directory_;
  pid_t daemon_ = -1;
};

// Captures everything written to file descriptor 2 while it lives.
class StderrCapture {
 public:
  StderrCapture() {
    std::string pattern = std::filesystem::temp_directory_path() / "speechline-stderr-XXXXXX";
    const int file = mkstemp(pattern.data());
    if (file < 0) return;
    path_ = pattern;
    saved_ = dup(2);
    dup2(file, 2);
    close(file);
  }

  ~StderrCapture() {
    if (saved_ < 0) return;
    dup2(saved_, 2);
    close(saved_);
    unlink(path_.c_str());
  }

  // What was written so far.
  std::string text() const { return path_.empty() ? "" : fileText(path_); }

 private:
  std::string path_;
  int saved_ = -1;
};

}  // namespace speechline::testing_support
