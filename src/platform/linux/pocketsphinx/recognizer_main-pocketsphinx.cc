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

namespace speechline {
namespace {

constexpr int kSocket = 0;

[[noreturn]] void end(int status) { ::_exit(status); }

// Debian's US English model needs about 100 MB; a model that asks for far more is damaged.
constexpr rlim_t kDataLimitBytes = rlim_t{512} << 20;
// Loading takes about half a second; a load that computes for far longer is stuck.
constexpr rlim_t kLoadCpuSeconds = 20;
// About 20 ms of audio: the final is looked for after each piece.
constexpr size_t kPieceSamples = 320;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// sphinxbase writes some failures straight to standard error, and a model file opened as
// descriptor 1 or 2 would be written to: both go to /dev/null. A sanitized build keeps the
// standard error speechline gives it (speechline's own), so that its reports are seen.
void muteStandardStreams() {
  const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null < 0) end(1);
  if (::dup2(null, 1) < 0) end(1);
  if (!kSanitized || ::fcntl(2, F_GETFD) < 0) {
    if (::dup2(null, 2) < 0) end(1);
  }
  if (null > 2) ::close(null);
}

void lowerSoftLimit(int resource, rlim_t value) {
  rlimit limit;
  if (::getrlimit(resource, &limit) != 0) return;
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur <= value) return;
  limit.rlim_cur = value;
  if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < value) limit.rlim_cur = limit.rlim_max;
  ::setrlimit(resource, &limit);
}

void send(RecognizerMessageKind kind, std::string_view text = {}) {
  const std::string message = encodeRecognizerMessage(kind, text);
  std::string_view rest = message;
  while (!rest.empty()) {
    const ssize_t sent = ::send(kSocket, rest.data(), rest.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    // speechline has gone: nobody wants the rest.
    if (sent <= 0) end(1);
    rest.remove_prefix(static_cast<size_t>(sent));
  }
}

// Reads audio and decodes it until the final; never returns.
[[noreturn]] void recognize(TranscriptDecoder* transcript) {
  std::string reported;
  std::vector<char> bytes;
  char chunk[1 << 16];
  while (true) {
    const ssize_t received = ::read(kSocket, chunk, sizeof chunk);
    if (received < 0 && errno == EINTR) continue;
    if (received < 0) end(1);
    if (received == 0) {
      // The audio has ended; an odd byte left over is half a sample and is dropped.
      if (!transcript->finish()) {
        send(RecognizerMessageKind::kFailed);
        end(1);
      }
      send(RecognizerMessageKind::kFinal, transcript->transcript());
      end(0);
    }
    bytes.insert(bytes.end(), chunk, chunk + received);
    const size_t samples = bytes.size() / sizeof(int16_t);
    std::vector<int16_t> audio(samples);
    std::memcpy(audio.data(), bytes.data(), samples * sizeof(int16_t));
    bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(samples * 2));
    for (size_t offset = 0; offset < samples; offset += kPieceSamples) {
      if (!transcript->process(audio.data() + offset, std::min(kPieceSamples, samples - offset))) {
        send(RecognizerMessageKind::kFailed);
        end(1);
      }
      if (transcript->finalDue()) {
        send(RecognizerMessageKind::kFinal, transcript->transcript());
        end(0);
      }
    }
    if (transcript->transcript() != reported) {
      reported = transcript->transcript();
      send(RecognizerMessageKind::kTranscript, reported);
    }
  }
}

}  // namespace
}  // namespace speechline

int main(int argc, char** argv) {
  using namespace speechline;
  muteStandardStreams();
  if (argc != 4) end(2);
  rlimit cpu;
  const bool knowCpuLimit = ::getrlimit(RLIMIT_CPU, &cpu) == 0;
  // A sanitizer reserves terabytes of address space that RLIMIT_DATA would count.
  if (!kSanitized) lowerSoftLimit(RLIMIT_DATA, kDataLimitBytes);
  lowerSoftLimit(RLIMIT_CPU, kLoadCpuSeconds);
  silencePocketSphinx();

  ps_decoder_t* decoder = buildPocketSphinxDecoder({argv[1], argv[2], argv[3]});
  if (decoder == nullptr) end(3);
  if (knowCpuLimit) ::setrlimit(RLIMIT_CPU, &cpu);
  TranscriptDecoder transcript(decoder);
  if (!transcript.startUtterance()) end(3);
  send(RecognizerMessageKind::kReady);
  recognize(&transcript);
}
