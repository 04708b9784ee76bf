#include "platform/linux/pocketsphinx/speech_recognizer-pocketsphinx.h"

#include <utility>

#include "platform/linux/captured_audio_buffer.h"
#include "platform/linux/pocketsphinx/audio_queue.h"
#include "platform/linux/pocketsphinx/recognition_session.h"
#include "platform/linux/pocketsphinx/transcript_text.h"

namespace speechline {
namespace {

class PocketSphinxRequest : public SpeechAudioBufferRecognitionRequest {
 public:
  void setShouldReportPartialResults(bool shouldReport) override {
    reportPartialResults_ = shouldReport;
  }

  // Recognition always runs on the device.
  void setRequiresOnDeviceRecognition(bool) override {}

  // One audio thread appends; see AudioQueue.
  void appendAudioPCMBuffer(const AudioPCMBuffer& buffer) override {
    const auto* captured = dynamic_cast<const CapturedAudioBuffer*>(&buffer);
    if (captured && captured->audioLost()) audio_->markAudioLost();
    audio_->push(buffer.interleavedSamples(), buffer.frameLength(), buffer.format());
  }

  void endAudio() override { audio_->finish(); }

  // Main thread. The first task reads the request's audio; a later one gets nothing.
  std::shared_ptr<AudioQueue> claimAudio() { return std::exchange(unclaimedAudio_, nullptr); }
  bool reportPartialResults() const { return reportPartialResults_; }

 private:
  const std::shared_ptr<AudioQueue> audio_ = std::make_shared<AudioQueue>();
  std::shared_ptr<AudioQueue> unclaimedAudio_ = audio_;
  bool reportPartialResults_ = true;
};

class PocketSphinxRecognizer : public SpeechRecognizer {
 public:
  // The model loads when a task starts, after capture has started: a load running beside the
  // connection to the sound server slows that down (both fault in memory at a high rate), and
  // the audio of the first milliseconds is kept for the recognizer anyway.
  PocketSphinxRecognizer(ModelParts parts, RecognitionSettings settings)
      : parts_(std::move(parts)), settings_(settings) {}

  bool isAvailable() override { return parts_.complete(); }
  bool supportsOnDeviceRecognition() override { return true; }

  std::shared_ptr<SpeechRecognitionTask> recognitionTask(
      std::shared_ptr<SpeechAudioBufferRecognitionRequest> request,
      SpeechRecognitionResultHandler resultHandler) override {
    // Every request in this process comes from SpeechAudioBufferRecognitionRequest::create().
    auto* ours = static_cast<PocketSphinxRequest*>(request.get());
    // A recognizer process serves one task.
    return RecognitionSession::start(ours ? ours->claimAudio() : nullptr, parts_,
                                     ours && ours->reportPartialResults(), settings_,
                                     std::move(resultHandler));
  }

 private:
  const ModelParts parts_;
  const RecognitionSettings settings_;
};

}  // namespace

std::shared_ptr<SpeechRecognizer> makePocketSphinxRecognizer(const ModelParts& parts,
                                                             const RecognitionSettings& settings) {
  return std::make_shared<PocketSphinxRecognizer>(parts, settings);
}

void SpeechRecognizer::requestAuthorization(
    std::function<void(SpeechRecognizerAuthorizationStatus)> handler) {
  // Recognition runs on the device and asks nobody's consent.
  handler(kSpeechAuthorizationAuthorized);
}

std::shared_ptr<SpeechRecognizer> SpeechRecognizer::create(const std::string& localeIdentifier) {
  const std::optional<std::string> directory =
      findModelDirectory(localeIdentifier, ModelSearchPath::standard());
  if (!directory) return nullptr;
  RecognitionSettings settings;
  settings.englishText = isEnglishLocale(localeIdentifier);
  return makePocketSphinxRecognizer(findModelParts(*directory), settings);
}

std::shared_ptr<SpeechAudioBufferRecognitionRequest> SpeechAudioBufferRecognitionRequest::create() {
  return std::make_shared<PocketSphinxRequest>();
}

}  // namespace speechline
