// speechline-recognizer: the PocketSphinx recognizer of one speechline task, in a process of
// its own, so that whatever the recognizer's libraries do with a damaged model (crash, exit,
// allocate without bound) ends only this process. speechline starts it with the model's three
// parts as arguments and the socket of recognizer_messages.h as descriptor 0; it has no
// standard output or error. It ends when the audio ends, after its final message.
#include <fcntl.h>
#include <pocketsphinx.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/linux/pocketsphinx/pocketsphinx_decoder.h"
#include "platform/linux/pocketsphinx/recognizer_messages.h"
#include "platform/linux/pocketsphinx/transcript_decoder.h"
#include "platform/linux/result.h"

namespace speechline {
namespace {

constexpr int kSocket = 0;

// Debian's US English model needs about 100 MB; a model that asks for far more is damaged.
constexpr rlim_t kDataLimitBytes = rlim_t{512} << 20;
// Loading takes about half a second; a load that computes for far longer is stuck.
constexpr rlim_t kLoadCpuSeconds = 20;
// About 20 ms of audio: the final is looked for after each piece.
constexpr size_t kPieceSamples = 320;

// sphinxbase writes some failures straight to standard error, and a model file opened as
// descriptor 1 or 2 would be written to: both go to /dev/null. A sanitized build keeps the
// standard error speechline gives it (speechline's own), so that its reports are seen.
Failure systemFailure(int error) { return {std::strerror(error), error}; }

Result<> muteStandardStreams() {
  const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null < 0) return systemFailure(errno);
  const bool keepError = kSanitizerReports && ::fcntl(2, F_GETFD) >= 0;
  if (::dup2(null, 1) < 0 || (!keepError && ::dup2(null, 2) < 0)) return systemFailure(errno);
  if (null > 2) ::close(null);
  return Done{};
}

void lowerSoftLimit(int resource, rlim_t value) {
  rlimit limit;
  if (::getrlimit(resource, &limit) != 0) return;
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur <= value) return;
  limit.rlim_cur = value;
  if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < value) limit.rlim_cur = limit.rlim_max;
  ::setrlimit(resource, &limit);
}

// Fails once speechline has gone.
Result<> send(RecognizerMessageKind kind, std::string_view text = {}) {
  const std::string message = encodeRecognizerMessage(kind, text);
  std::string_view rest = message;
  while (!rest.empty()) {
    const ssize_t sent = ::send(kSocket, rest.data(), rest.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return systemFailure(sent < 0 ? errno : EPIPE);
    rest.remove_prefix(static_cast<size_t>(sent));
  }
  return Done{};
}

// Sends the last message, the final or kFailed, and gives the exit status.
int conclude(RecognizerMessageKind kind, std::string_view text = {}) {
  return send(kind, text) && kind == RecognizerMessageKind::kFinal ? 0 : 1;
}

// Reads audio and decodes it until the final; gives the exit status.
int recognize(TranscriptDecoder* transcript) {
  std::string reported;
  std::vector<char> bytes;
  char chunk[1 << 16];
  while (true) {
    const ssize_t received = ::read(kSocket, chunk, sizeof chunk);
    if (received < 0 && errno == EINTR) continue;
    if (received < 0) return 1;
    // The audio has ended; an odd byte left over is half a sample and is dropped.
    if (received == 0) {
      if (!transcript->finish()) return conclude(RecognizerMessageKind::kFailed);
      return conclude(RecognizerMessageKind::kFinal, transcript->transcript());
    }
    bytes.insert(bytes.end(), chunk, chunk + received);
    const size_t samples = bytes.size() / sizeof(int16_t);
    std::vector<int16_t> audio(samples);
    std::memcpy(audio.data(), bytes.data(), samples * sizeof(int16_t));
    bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(samples * 2));
    for (size_t offset = 0; offset < samples; offset += kPieceSamples) {
      if (!transcript->process(audio.data() + offset, std::min(kPieceSamples, samples - offset))) {
        return conclude(RecognizerMessageKind::kFailed);
      }
      if (transcript->finalDue()) {
        return conclude(RecognizerMessageKind::kFinal, transcript->transcript());
      }
    }
    if (transcript->transcript() != reported) {
      reported = transcript->transcript();
      if (!send(RecognizerMessageKind::kTranscript, reported)) return 1;
    }
  }
}

// Loads the model, says it is ready, and recognizes; gives the exit status.
int run(int argc, char** argv) {
  if (!muteStandardStreams()) return 1;
  if (argc != 4) return 2;
  rlimit cpu;
  const bool knowCpuLimit = ::getrlimit(RLIMIT_CPU, &cpu) == 0;
  // A sanitizer reserves terabytes of address space that RLIMIT_DATA would count.
  if (!kSanitizerReports) lowerSoftLimit(RLIMIT_DATA, kDataLimitBytes);
  lowerSoftLimit(RLIMIT_CPU, kLoadCpuSeconds);
  silencePocketSphinx();

  ps_decoder_t* decoder = buildPocketSphinxDecoder({argv[1], argv[2], argv[3]});
  if (decoder == nullptr) return 3;
  if (knowCpuLimit) ::setrlimit(RLIMIT_CPU, &cpu);
  // Never freed: the process ends as soon as recognition does, without tearing the model down.
  auto* transcript = new TranscriptDecoder(decoder);
  if (!transcript->startUtterance()) return 3;
  if (!send(RecognizerMessageKind::kReady)) return 1;
  return recognize(transcript);
}

}  // namespace
}  // namespace speechline

// Ends with _exit: nothing the libraries registered to run at exit is worth its time.
int main(int argc, char** argv) { ::_exit(speechline::run(argc, argv)); }
