// A private PulseAudio daemon for one test, laid out like a desktop as tests/support/desktop.py
// lays out its own, and the process environment that reaches it.
#pragma once

#include <sys/types.h>

#include <string>

namespace speechline::testing_support {

// Owns a fresh temporary directory and points this process's XDG_RUNTIME_DIR and HOME into it
// (child processes inherit them), so that libpulse finds only the daemon started here. Without
// start() no server is reachable. The destructor kills the daemon, which ends every player, and
// removes the directory.
class PrivatePulseServer {
 public:
  PrivatePulseServer();
  ~PrivatePulseServer();

  PrivatePulseServer(const PrivatePulseServer&) = delete;
  PrivatePulseServer& operator=(const PrivatePulseServer&) = delete;

  // Starts the daemon with the native protocol and, with `speakers`, the default sink
  // `speakers`. Returns false if it did not come up.
  bool start(bool speakers = true);

  // start(), and the microphone plugMicrophone("mic", micFormat) as the default source.
  bool startDesktop(const std::string& micFormat);

  // Adds a source `name`, not a monitor, that records what is played into the sink `<name>wire`
  // of sample spec `format` ("rate=16000 channels=1"), and makes it the default source.
  bool plugMicrophone(const std::string& name, const std::string& format);

  // Sends `signal` to the daemon.
  void signalDaemon(int signal);

  // Runs `pactl <arguments>` against the daemon; returns true on success.
  bool pactl(const std::string& arguments);

  // Starts playing the WAV file at `path` into the sink named `sink`; returns false if the
  // player could not be started.
  bool play(const std::string& path, const std::string& sink);

 private:
  std::string directory_;
  pid_t daemon_ = -1;
};

// Captures everything written to file descriptor 2 while it lives.
class StderrCapture {
 public:
  StderrCapture();
  ~StderrCapture();

  // What was written so far.
  std::string text() const;

 private:
  std::string path_;
  int saved_ = -1;
};

}  // namespace speechline::testing_support
