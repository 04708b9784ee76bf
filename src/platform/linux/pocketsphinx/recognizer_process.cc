#include "platform/linux/pocketsphinx/recognizer_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/linux/pocketsphinx/recognizer_messages.h"

namespace speechline {
namespace {

constexpr char kProgramName[] = "speechline-recognizer";
constexpr int kSendBufferBytes = 32 << 10;

// A product build gives the recognizer no standard output or error.
constexpr int kFirstClosedAfterSocket = kSanitizerReports ? 3 : 1;

void closeFrom(int first, int last) {
  if (::close_range(static_cast<unsigned>(first), ~0u, 0) == 0) return;
  for (int descriptor = first; descriptor <= last; ++descriptor) ::close(descriptor);
}

// In the child between fork and exec: only calls that are safe after a fork of a threaded
// process.
[[noreturn]] void becomeRecognizer(int socket, pid_t parent, char* const* argv,
                                   int lastDescriptor) {
  if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent) ::_exit(127);
  // A Ctrl-C reaches the terminal's process group; speechline stops the recognizer itself. One
  // that came before the group was left (held back by the inherited mask) is dropped first.
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGINT, &ignore, nullptr);
  ::sigaction(SIGTERM, &ignore, nullptr);
  ::setpgid(0, 0);
  struct sigaction defaultAction = {};
  defaultAction.sa_handler = SIG_DFL;
  for (const int signalNumber : {SIGINT, SIGTERM, SIGPIPE, SIGCHLD}) {
    ::sigaction(signalNumber, &defaultAction, nullptr);
  }
  sigset_t none;
  ::sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  if (socket == 0) {
    ::fcntl(0, F_SETFD, 0);
  } else if (::dup2(socket, 0) != 0) {
    ::_exit(127);
  }
  if (kFirstClosedAfterSocket > 1) ::close(1);
  closeFrom(kFirstClosedAfterSocket, lastDescriptor);
  ::execve(argv[0], argv, environ);
  ::_exit(127);
}

Failure startFailure(int error) {
  return {std::string("The speech recognizer could not be started (") + std::strerror(error) + ").",
          error};
}

}  // namespace

std::string locateRecognizerProgram() {
  const std::string directory = executableDirectory();
  if (!directory.empty()) {
    for (const std::string& candidate :
         {directory + "/../libexec/speechline/" + kProgramName, directory + "/" + kProgramName}) {
      if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
  }
  return std::string(SPEECHLINE_INSTALL_LIBEXEC_DIR "/") + kProgramName;
}

Result<std::shared_ptr<RecognizerProcess>> RecognizerProcess::start(const std::string& program,
                                                                    const ModelParts& parts) {
  int sockets[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0) {
    return startFailure(errno);
  }
  // Everything the child needs is made before the fork.
  std::vector<std::string> arguments{program, parts.acousticModel, parts.languageModel,
                                     parts.dictionary};
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  rlimit descriptors{};
  ::getrlimit(RLIMIT_NOFILE, &descriptors);
  const int lastDescriptor = static_cast<int>(std::min<rlim_t>(descriptors.rlim_cur, 1 << 16));
  const pid_t parent = ::getpid();

  const pid_t pid = ::fork();
  if (pid == 0) becomeRecognizer(sockets[1], parent, argv.data(), lastDescriptor);
  const int forkError = errno;
  // Also here, so that it holds from the moment start() returns.
  if (pid > 0) ::setpgid(pid, pid);
  ::close(sockets[1]);
  if (pid < 0) {
    ::close(sockets[0]);
    return startFailure(forkError);
  }
  ::fcntl(sockets[0], F_SETFL, ::fcntl(sockets[0], F_GETFL) | O_NONBLOCK);
  // About a second of audio in flight: what waits beyond that stays in the audio queue, which
  // bounds it.
  const int sendBuffer = kSendBufferBytes;
  ::setsockopt(sockets[0], SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
  return std::shared_ptr<RecognizerProcess>(new RecognizerProcess(pid, sockets[0]));
}

RecognizerProcess::~RecognizerProcess() {
  ::kill(pid_, SIGKILL);
  while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
  ::close(socket_);
}

}  // namespace speechline
