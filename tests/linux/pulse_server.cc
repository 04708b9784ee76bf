#include "pulse_server.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

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
  // Anything else that could lead libpulse to another server.
  unsetenv("PULSE_SERVER");
  unsetenv("PULSE_RUNTIME_PATH");
  unsetenv("PULSE_COOKIE");
  unsetenv("PULSE_SOURCE");
  unsetenv("PULSE_SINK");
  unsetenv("DISPLAY");
}

PrivatePulseServer::~PrivatePulseServer() {
  for (pid_t player : players_) {
    kill(player, SIGKILL);
    waitpid(player, nullptr, 0);
  }
  if (daemon_ > 0) kill(daemon_, SIGKILL);
  std::error_code ignored;
  std::filesystem::remove_all(directory_, ignored);
}

bool PrivatePulseServer::start(const std::vector<std::string>& modules) {
  std::string command = "pulseaudio -n --daemonize=yes --exit-idle-time=-1 --log-target=file:" +
                        quoted(directory_ + "/pulseaudio.log") + " -L module-native-protocol-unix";
  for (const std::string& module : modules) command += " -L " + quoted(module);
  // The daemon's own complaints (it runs as root here) stay out of the test's stderr.
  command += " >/dev/null 2>>" + quoted(directory_ + "/pulseaudio.log");
  // --daemonize returns once the daemon is up.
  if (std::system(command.c_str()) != 0) return false;
  daemon_ = static_cast<pid_t>(std::atol(readFile(directory_ + "/pulse/pid").c_str()));
  return daemon_ > 0;
}

bool PrivatePulseServer::startDesktop(const std::string& micFormat) {
  return start({"module-null-sink sink_name=speakers norewinds=1"}) &&
         plugMicrophone("mic", micFormat) && pactl("set-default-sink speakers") &&
         pactl("set-default-source mic");
}

bool PrivatePulseServer::plugMicrophone(const std::string& name, const std::string& format) {
  // Without norewinds the first audio of a null sink's monitor can take two seconds.
  return pactl("load-module module-null-sink sink_name=" + name + "wire " + format +
               " norewinds=1") &&
         pactl("load-module module-remap-source master=" + name +
               "wire.monitor source_name=" + name);
}

void PrivatePulseServer::signalDaemon(int signal) {
  if (daemon_ > 0) kill(daemon_, signal);
}

bool PrivatePulseServer::pactl(const std::string& arguments) {
  return std::system(("pactl " + arguments + " >/dev/null 2>&1").c_str()) == 0;
}

void PrivatePulseServer::play(const std::string& path, const std::string& sink) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> arguments = {"paplay", "-d", sink, path};
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, "paplay", &actions, nullptr, argv.data(), environ) == 0) {
    players_.push_back(pid);
  }
  posix_spawn_file_actions_destroy(&actions);
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
