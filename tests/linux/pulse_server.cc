#include "pulse_server.h"

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace speechline::testing_support {
namespace {

std::string quoted(const std::string& text) {
  std::string result = "'";
  for (char c : text) result += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return result + "'";
}

std::string readFile(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

}  // namespace

PrivatePulseServer::PrivatePulseServer() {
  std::string pattern = std::filesystem::temp_directory_path() / "speechline-pulse-XXXXXX";
  if (mkdtemp(pattern.data())) directory_ = pattern;
  std::filesystem::create_directory(directory_ + "/home");
  setenv("XDG_RUNTIME_DIR", directory_.c_str(), 1);
  setenv("HOME", (directory_ + "/home").c_str(), 1);
  // Whatever could lead libpulse to another server, or to another device on this one.
  for (const char* name : {"PULSE_SERVER", "PULSE_RUNTIME_PATH", "PULSE_STATE_PATH", "PULSE_COOKIE",
                           "PULSE_CLIENTCONFIG", "PULSE_SOURCE", "PULSE_SINK", "DISPLAY",
                           "DBUS_SESSION_BUS_ADDRESS"}) {
    unsetenv(name);
  }
}

PrivatePulseServer::~PrivatePulseServer() {
  if (daemon_ > 0) kill(daemon_, SIGKILL);
  std::error_code ignored;
  std::filesystem::remove_all(directory_, ignored);
}

bool PrivatePulseServer::start(bool speakers) {
  const std::string log = quoted(directory_ + "/pulseaudio.log");
  // --daemonize returns once the daemon is up. Its own complaints (it runs as root here) stay
  // out of the test's stderr.
  if (std::system(("pulseaudio -n --daemonize=yes --exit-idle-time=-1 --log-target=file:" + log +
                   " -L module-native-protocol-unix >/dev/null 2>>" + log)
                      .c_str()) != 0) {
    return false;
  }
  daemon_ = static_cast<pid_t>(std::atol(readFile(directory_ + "/pulse/pid").c_str()));
  return daemon_ > 0 && (!speakers || (pactl("load-module module-null-sink sink_name=speakers "
                                             "norewinds=1") &&
                                       pactl("set-default-sink speakers")));
}

bool PrivatePulseServer::startDesktop(const std::string& micFormat) {
  return start() && plugMicrophone("mic", micFormat);
}

bool PrivatePulseServer::plugMicrophone(const std::string& name, const std::string& format) {
  // Without norewinds the first audio of a null sink's monitor can take two seconds.
  return pactl("load-module module-null-sink sink_name=" + name + "wire " + format +
               " norewinds=1") &&
         pactl("load-module module-remap-source master=" + name +
               "wire.monitor source_name=" + name) &&
         pactl("set-default-source " + name);
}

void PrivatePulseServer::signalDaemon(int signal) {
  if (daemon_ > 0) kill(daemon_, signal);
}

bool PrivatePulseServer::pactl(const std::string& arguments) {
  return std::system(("pactl " + arguments + " >/dev/null 2>&1").c_str()) == 0;
}

bool PrivatePulseServer::play(const std::string& path, const std::string& sink) {
  return std::system(
             ("paplay -d " + quoted(sink) + " " + quoted(path) + " >/dev/null 2>&1 &").c_str()) ==
         0;
}

StderrCapture::StderrCapture() {
  std::string pattern = std::filesystem::temp_directory_path() / "speechline-stderr-XXXXXX";
  const int file = mkstemp(pattern.data());
  if (file < 0) return;
  path_ = pattern;
  saved_ = dup(2);
  dup2(file, 2);
  close(file);
}

StderrCapture::~StderrCapture() {
  if (saved_ < 0) return;
  dup2(saved_, 2);
  close(saved_);
  unlink(path_.c_str());
}

std::string StderrCapture::text() const { return path_.empty() ? "" : readFile(path_); }

}  // namespace speechline::testing_support
