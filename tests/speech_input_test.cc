// What a whole process cannot show: callbacks that outlive what they refer to.
#include "speech_input/speech_input.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace speechline {
namespace {

// Counts the frames appended into a counter that outlives it.
class CountingRequest : public SpeechAudioBufferRecognitionRequest {
 public:
  explicit CountingRequest(int* frames) : frames(frames) {}
  void setShouldReportPartialResults(bool) override {}
  void setRequiresOnDeviceRecognition(bool) override {}
  void appendAudioPCMBuffer(const AudioPCMBuffer& buffer) override {
    *frames += buffer.frameLength();
  }
  void endAudio() override {}
  int* const frames;
};

class SpeechInputTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The scripted engine behind SpeechInput's constructor reads its script once.
    const std::string path = tempPath("script");
    std::ofstream(path) << "log \"" << callLogPath() << "\"\n";
    setenv("SPEECHLINE_SCRIPT", path.c_str(), 1);
  }

  // CTest runs each test in a process of its own, several at a time: one set of files each.
  static std::string tempPath(const std::string& suffix) {
    return testing::TempDir() + "speech_input_test." + std::to_string(getpid()) + "." + suffix;
  }

  static std::string callLogPath() { return tempPath("calls"); }

  static std::string readFile(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
  }
};

TEST_F(SpeechInputTest, StopBeforeStartTearsDownTheEngineOnlyAndExits) {
  const std::string stdoutPath = tempPath("stdout");
  for (const int exitCode : {0, 1}) {
    std::remove(callLogPath().c_str());
    EXPECT_EXIT(
        {
          dup2(open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
          auto speechInput = std::make_shared<SpeechInput>("en-US", false);
          if (exitCode == 0) {
            speechInput->stop();
          } else {
            speechInput->stop(exitCode);
          }
        },
        testing::ExitedWithCode(exitCode), "");
    EXPECT_EQ(readFile(stdoutPath), "{\"type\":\"state\",\"state\":\"stopped\"}\n");
    EXPECT_EQ(readFile(callLogPath()), "AVAudioEngine init\nstop\ninputNode\nremoveTapOnBus 0\n");
  }
}

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
  int appendedFrames = 0;
  auto request = std::make_shared<CountingRequest>(&appendedFrames);
  AudioNodeTapBlock tap = SpeechInput::makeTapBlock(request);
  const float samples[1024 * 2] = {};
  const AudioPCMBuffer buffer(samples, 1024, AudioFormat{48000, 2});

  tap(buffer, AudioTime{});
  EXPECT_EQ(appendedFrames, 1024);
  // Dropped: the tap neither keeps the request alive nor appends to it any more.
  request.reset();
  tap(buffer, AudioTime{});
  EXPECT_EQ(appendedFrames, 1024);
}

}  // namespace
}  // namespace speechline
