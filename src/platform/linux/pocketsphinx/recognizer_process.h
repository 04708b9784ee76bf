#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

#include "platform/linux/pocketsphinx/model_locator.h"
#include "platform/linux/result.h"

namespace speechline {

// The program that recognises speech for speechline (recognizer_main-pocketsphinx.cc): in
// libexec/speechline/ beside the installed or relocated tree speechline runs from, else beside
// speechline itself (a build tree), else under the compiled-in install prefix.
std::string locateRecognizerProgram();

// One running recognizer process and speechline's end of its socket (recognizer_messages.h).
// The process lives in a process group of its own, so that a Ctrl-C meant for speechline does
// not reach it, and is killed when the thread that started it ends: start it on the main
// thread, which lives as long as speechline.
class RecognizerProcess {
 public:
  // Starts `program` for `parts`. Fails when it cannot be started (a process limit reached,
  // say); a program that cannot be executed ends at once instead, as a crashed one does.
  static Result<std::shared_ptr<RecognizerProcess>> start(const std::string& program,
                                                          const ModelParts& parts);

  // Kills the process and waits for it.
  ~RecognizerProcess();

  RecognizerProcess(const RecognizerProcess&) = delete;
  RecognizerProcess& operator=(const RecognizerProcess&) = delete;

  // Non-blocking; closed by the destructor.
  int socket() const { return socket_; }
  pid_t pid() const { return pid_; }

 private:
  RecognizerProcess(pid_t pid, int socket) : pid_(pid), socket_(socket) {}

  const pid_t pid_;
  const int socket_;
};

}  // namespace speechline
