// Prints where PocketSphinx's voice-activity detector puts the end of speech in each 16 kHz
// mono recording named on the command line (WAV with the canonical 44-byte header, or raw
// signed 16-bit), followed by two seconds of digital silence as a virtual microphone gives
// after the clip. The decoder is fed 20 ms at a time and the end is taken the way the Linux
// speech service takes it, so that "end of speech -> final" can be measured from the moment
// the service's 1.5 s start.
//
// Usage: speech_end FILE...   Output: one line per file, "FILE SECONDS".

#include <pocketsphinx.h>
#include <sphinxbase/err.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr char kModel[] = "/usr/share/pocketsphinx/model/en-us";
constexpr int kRate = 16000;
constexpr size_t kPiece = 320;

std::vector<int16_t> readSamples(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(file)), {});
  const size_t header = bytes.size() > 44 && std::memcmp(bytes.data(), "RIFF", 4) == 0 ? 44 : 0;
  std::vector<int16_t> samples((bytes.size() - header) / 2);
  std::memcpy(samples.data(), bytes.data() + header, samples.size() * 2);
  samples.insert(samples.end(), 2 * kRate, 0);
  return samples;
}

}  // namespace

int main(int argc, char** argv) {
  err_set_logfp(nullptr);
  const std::string model = kModel;
  cmd_ln_t* config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", (model + "/en-us").c_str(),
                                 "-lm", (model + "/en-us.lm.bin").c_str(), "-dict",
                                 (model + "/cmudict-en-us.dict").c_str(), nullptr);
  ps_decoder_t* decoder = config ? ps_init(config) : nullptr;
  if (decoder == nullptr) return 1;
  const long hangover =
      cmd_ln_int_r(config, "-vad_postspeech") * kRate / cmd_ln_int_r(config, "-frate");
  for (int i = 1; i < argc; ++i) {
    const std::vector<int16_t> samples = readSamples(argv[i]);
    ps_start_utt(decoder);
    bool inSpeech = false;
    long end = -1;
    for (size_t offset = 0; offset + kPiece <= samples.size(); offset += kPiece) {
      ps_process_raw(decoder, samples.data() + offset, kPiece, FALSE, FALSE);
      const bool speech = ps_get_in_speech(decoder) != 0;
      if (!speech && inSpeech) {
        end = static_cast<long>(offset + kPiece) - hangover;
        ps_end_utt(decoder);
        ps_start_utt(decoder);
      }
      inSpeech = speech;
    }
    ps_end_utt(decoder);
    std::printf("%s %.3f\n", argv[i], static_cast<double>(end) / kRate);
  }
  ps_free(decoder);
  cmd_ln_free_r(config);
  return 0;
}
