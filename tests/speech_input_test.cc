// What a whole process cannot show: callbacks that outlive what they refer to.
#include "speech_input/speech_input.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>

namespace speechline {
namespace {

class CountingRequest : public SpeechAudioBufferRecognitionRequest {
 public:
  void setShouldReportPartialResults(bool) override {}
  void setRequiresOnDeviceRecognition(bool) override {}
  void appendAudioPCMBuffer(const AudioPCMBuffer& buffer) override {
    appendedFrames += buffer.frameLength();
  }
  void endAudio() override {}
  int appendedFrames = 0;
};

class SpeechInputTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The scripted engine behind SpeechInput's constructor reads its script once.
    const std::string path = testing::TempDir() + "speech_input_test.script";
    std::ofstream(path) << "# no calls are answered here\n";
    setenv("SPEECHLINE_SCRIPT", path.c_str(), 1);
  }
};

TEST_F(SpeechInputTest, ResultHandlerDoesNothingOnceSpeechInputIsGone) {
  auto speechInput = std::make_shared<SpeechInput>("en-US", false);
  std::weak_ptr<SpeechInput> weak = speechInput;
  speechInput.reset();

  const SpeechRecognitionResult final{"hello", true};
  const SpeechRecognitionError error{"failed"};
  testing::internal::CaptureStdout();
  // A live speech input would write and end this process here.
  SpeechInput::handleRecognition(weak, &final, &error);
  SpeechInput::handleRecognition(weak, nullptr, &error);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(SpeechInputTest, TapForwardsBuffersOnlyWhileRequestExists) {
  auto request = std::make_shared<CountingRequest>();
  AudioNodeTapBlock tap = SpeechInput::makeTapBlock(request);
  const float samples[1024 * 2] = {};
  const AudioPCMBuffer buffer(samples, 1024, AudioFormat{48000, 2});

  tap(buffer, AudioTime{});
  EXPECT_EQ(request->appendedFrames, 1024);
  EXPECT_EQ(request.use_count(), 1) << "the tap must not keep the request alive";

  request.reset();
  tap(buffer, AudioTime{});  // dropped without effect
}

}  // namespace
}  // namespace speechline
