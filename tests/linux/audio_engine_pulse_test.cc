// The PulseAudio capture engine against private daemons laid out like desktops, with speakers
// whose monitor must never be heard, and microphones fed with recorded speech.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>

#include "platform/audio_engine.h"
#include "pulse_server.h"

namespace speechline {
namespace {

using testing_support::PrivatePulseServer;
using testing_support::StderrCapture;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr char kClip[] =
    "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0880.wav";
constexpr char kLongClip[] =  // seven seconds
    "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0870.wav";
constexpr char kStereo48k[] = "rate=48000 channels=2";
constexpr char kMono44k[] = "rate=44100 channels=1";

double millisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool waitFor(const std::function<bool()>& done, Clock::duration timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

int threadCount() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Threads:", 0) == 0) return std::stoi(line.substr(8));
  }
  return -1;
}

void measured(const char* what, double milliseconds) {
  std::printf("[ measured ] %s: %.1f ms\n", what, milliseconds);
  testing::Test::RecordProperty(what, std::to_string(milliseconds));
}

// What a tap saw, written on the capture thread.
struct TapRecord {
  std::mutex mutex;
  int calls = 0;
  int malformedCalls = 0;  // not 1024 frames of the expected format, or samples out of order
  int mainThreadCalls = 0;
  int callsAfterRemoval = 0;
  int loudCalls = 0;
  int64_t nextSampleTime = 0;  // audio dropped in between makes a gap, never an overlap
  float peak = 0;
  std::optional<Clock::time_point> firstCall;
  std::optional<Clock::time_point> firstLoudCall;
  // Set by the test once removeTapOnBus() has returned.
  std::atomic<bool> removed = false;

  int count(int TapRecord::*counter) {
    std::lock_guard<std::mutex> lock(mutex);
    return this->*counter;
  }
};

AudioNodeTapBlock recordingTap(const std::shared_ptr<TapRecord>& record, AudioFormat expected) {
  const std::thread::id mainThread = std::this_thread::get_id();
  return [record, expected, mainThread](const AudioPCMBuffer& buffer, const AudioTime& when) {
    std::lock_guard<std::mutex> lock(record->mutex);
    if (record->removed) ++record->callsAfterRemoval;
    if (std::this_thread::get_id() == mainThread) ++record->mainThreadCalls;
    const bool whole = buffer.frameLength() == 1024 && buffer.interleavedSamples() &&
                       buffer.format().sampleRate == expected.sampleRate &&
                       buffer.format().channelCount == expected.channelCount &&
                       when.sampleTime >= record->nextSampleTime &&
                       when.sampleRate == expected.sampleRate;
    if (!whole) ++record->malformedCalls;
    record->nextSampleTime = when.sampleTime + buffer.frameLength();
    ++record->calls;
    if (!record->firstCall) record->firstCall = Clock::now();
    if (!whole || !buffer.interleavedSamples()) return;
    float peak = 0;
    for (uint32_t i = 0; i < buffer.frameLength() * expected.channelCount; ++i) {
      peak = std::max(peak, std::fabs(buffer.interleavedSamples()[i]));
    }
    record->peak = std::max(record->peak, peak);
    if (peak <= 0.01f) return;
    ++record->loudCalls;
    if (!record->firstLoudCall) record->firstLoudCall = Clock::now();
  };
}

// Every test has its own daemon (started by the test) and checks that nothing reached stderr.
class PulseTest : public testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(stderrCapture_.text(), ""); }

  // Starts the desktop and captures its 48 kHz stereo microphone into record_; null on failure.
  std::shared_ptr<AudioEngine> startCapture() {
    if (!server_.startDesktop(kStereo48k)) return nullptr;
    std::shared_ptr<AudioEngine> engine = AudioEngine::create();
    const AudioFormat format = engine->inputNode().outputFormatForBus(0);
    engine->inputNode().installTapOnBus(0, 1024, format, recordingTap(record_, {48000, 2}));
    engine->prepare();
    started_ = Clock::now();
    std::string error;
    if (!engine->startAndReturnError(&error)) {
      ADD_FAILURE() << error;
      return nullptr;
    }
    measured("start", millisecondsSince(started_));
    return engine;
  }

  PrivatePulseServer server_;
  std::shared_ptr<TapRecord> record_ = std::make_shared<TapRecord>();
  Clock::time_point started_;

 private:
  StderrCapture stderrCapture_;
};

enum Devices { kNoServer, kNoDevices, kSpeakersOnly, kDesktop };
constexpr char kNoEntity[] = "No such entity";
constexpr char kMonitor[] = "The source to record from is the speakers' monitor, not a microphone.";
constexpr char kMonitorIsDefault[] = "set-default-source speakers.monitor";

struct ServerSetup {
  const char* name;
  Devices devices;
  const char* micFormat;  // of the desktop's microphone
  std::string pactl;      // a change made before the format query, if any
  const char* pulseSource;
  AudioFormat format;
  // Empty when the start succeeds.
  std::string startError;
  std::string pactlBeforeStart = "";  // a change made after the format query
};

void PrintTo(const ServerSetup& setup, std::ostream* out) { *out << setup.name; }

class PulseFormatTest : public PulseTest, public testing::WithParamInterface<ServerSetup> {};

TEST_P(PulseFormatTest, ReportsTheRoutedMicrophonesFormatAndStartsOnlyWithOne) {
  const ServerSetup& setup = GetParam();
  bool started = true;
  if (setup.devices == kNoDevices) started = server_.start(false);
  if (setup.devices == kSpeakersOnly) started = server_.start();
  if (setup.devices == kDesktop) started = server_.startDesktop(setup.micFormat);
  if (!setup.pactl.empty()) started = started && server_.pactl(setup.pactl);
  ASSERT_TRUE(started);
  if (setup.pulseSource) setenv("PULSE_SOURCE", setup.pulseSource, 1);

  const int threadsBefore = threadCount();
  std::shared_ptr<AudioEngine> engine = AudioEngine::create();
  EXPECT_EQ(threadCount(), threadsBefore) << "create() must not start the connection";
  engine->stop();

  Clock::time_point begin = Clock::now();
  const AudioFormat format = engine->inputNode().outputFormatForBus(0);
  measured("format query", millisecondsSince(begin));
  EXPECT_EQ(format.sampleRate, setup.format.sampleRate);
  EXPECT_EQ(format.channelCount, setup.format.channelCount);
  EXPECT_EQ(engine->inputNode().outputFormatForBus(1).channelCount, 0u);
  ASSERT_TRUE(setup.pactlBeforeStart.empty() || server_.pactl(setup.pactlBeforeStart));

  engine->prepare();
  std::string error;
  begin = Clock::now();
  EXPECT_EQ(engine->startAndReturnError(&error), setup.startError.empty());
  measured("start", millisecondsSince(begin));
  EXPECT_EQ(error, setup.startError);
  EXPECT_LT(millisecondsSince(begin), 3000);
  engine->stop();
  engine->stop();
}

// With no microphone PulseAudio routes a record stream to the speakers' monitor; PULSE_SOURCE,
// which libpulse reads, overrides the default source either way.
const ServerSetup kServerSetups[] = {
    {"Stereo48k", kDesktop, kStereo48k, "", nullptr, {48000, 2}, ""},
    {"Mono44k", kDesktop, kMono44k, "", nullptr, {44100, 1}, ""},
    {"SpeakersOnly", kSpeakersOnly, nullptr, "", nullptr, {0, 0}, kMonitor},
    {"PulseSourceIsAMonitor", kDesktop, kStereo48k, "", "speakers.monitor", {0, 0}, kMonitor},
    {"MonitorAtStart", kDesktop, kStereo48k, "", nullptr, {48000, 2}, kMonitor, kMonitorIsDefault},
    {"PulseSourceIsTheMicrophone", kDesktop, kMono44k, kMonitorIsDefault, "mic", {44100, 1}, ""},
    {"NoSource", kNoDevices, nullptr, "", nullptr, {0, 0}, kNoEntity},
    {"NoServer", kNoServer, nullptr, "", nullptr, {0, 0}, "Connection refused"},
};
INSTANTIATE_TEST_SUITE_P(Servers, PulseFormatTest, testing::ValuesIn(kServerSetups),
                         [](const testing::TestParamInfo<ServerSetup>& info) {
                           return info.param.name;
                         });

// Speech on the speakers, the microphone unplugged (the server moves the stream onto the
// speakers' monitor), then a headset of another format plugged in as the new default.
TEST_F(PulseTest, DeliversOnlyMicrophonesAndFollowsTheDefaultOne) {
  const std::shared_ptr<AudioEngine> engine = startCapture();
  ASSERT_TRUE(engine);
  TapRecord* record = record_.get();
  ASSERT_TRUE(server_.play(kLongClip, "speakers"));
  ASSERT_TRUE(waitFor([&] { return record->count(&TapRecord::calls) >= 47; }, 10s));

  ASSERT_TRUE(server_.pactl("unload-module module-remap-source"));
  std::this_thread::sleep_for(300ms);
  const int callsOnMonitor = record->count(&TapRecord::calls);
  std::this_thread::sleep_for(700ms);
  EXPECT_EQ(record->count(&TapRecord::calls), callsOnMonitor)
      << "the stream delivered from a monitor";
  EXPECT_EQ(record->count(&TapRecord::loudCalls), 0) << "the speakers reached the tap";

  ASSERT_TRUE(server_.plugMicrophone("headset", "rate=16000 channels=1"));
  const Clock::time_point playing = Clock::now();
  ASSERT_TRUE(server_.play(kClip, "headsetwire"));
  const bool heard = waitFor([&] { return record->count(&TapRecord::loudCalls) > 0; }, 10s);
  engine->inputNode().removeTapOnBus(0);
  record->removed = true;
  // The stream goes on; the tap must not hear from it.
  std::this_thread::sleep_for(300ms);

  {
    std::lock_guard<std::mutex> lock(record->mutex);
    ASSERT_TRUE(heard) << record->calls << " buffers, peak " << record->peak;
    EXPECT_EQ(record->malformedCalls, 0) << "the format must not follow the new source";
    EXPECT_EQ(record->mainThreadCalls, 0);
    EXPECT_EQ(record->callsAfterRemoval, 0);
    measured("first buffer after start",
             std::chrono::duration<double, std::milli>(*record->firstCall - started_).count());
    measured("first speech buffer after paplay into the new microphone",
             std::chrono::duration<double, std::milli>(*record->firstLoudCall - playing).count());
  }

  const Clock::time_point stopping = Clock::now();
  engine->stop();
  measured("stop", millisecondsSince(stopping));
  EXPECT_LT(millisecondsSince(stopping), 1000);
}

struct Disruption {
  const char* name;
  std::function<void(PrivatePulseServer&)> apply;
  std::string restartError;
};

void PrintTo(const Disruption& disruption, std::ostream* out) { *out << disruption.name; }

class PulseDisruptionTest : public PulseTest, public testing::WithParamInterface<Disruption> {};

TEST_P(PulseDisruptionTest, CaptureEndsQuietlyAndStopDoesNotHang) {
  const std::shared_ptr<AudioEngine> engine = startCapture();
  ASSERT_TRUE(engine);
  ASSERT_TRUE(waitFor([&] { return record_->count(&TapRecord::calls) >= 5; }, 5s));

  GetParam().apply(server_);
  std::this_thread::sleep_for(300ms);
  const int callsAfterDisruption = record_->count(&TapRecord::calls);
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(record_->count(&TapRecord::calls), callsAfterDisruption);

  Clock::time_point begin = Clock::now();
  engine->stop();
  EXPECT_LT(millisecondsSince(begin), 1000);
  begin = Clock::now();
  std::string error;
  EXPECT_FALSE(engine->startAndReturnError(&error));
  EXPECT_EQ(error, GetParam().restartError);
  measured("start after the disruption", millisecondsSince(begin));
  EXPECT_LT(millisecondsSince(begin), 10000);
  engine->stop();
}

// A stopped server keeps the connection open and never answers on it.
INSTANTIATE_TEST_SUITE_P(
    Disruptions, PulseDisruptionTest,
    testing::Values(Disruption{"DaemonKilled",
                               [](PrivatePulseServer& s) { s.signalDaemon(SIGKILL); },
                               "Connection refused"},
                    Disruption{"DaemonStopped",
                               [](PrivatePulseServer& s) { s.signalDaemon(SIGSTOP); }, "Timeout"},
                    Disruption{"EverySinkRemoved",
                               [](PrivatePulseServer& s) {
                                 ASSERT_TRUE(s.pactl("unload-module module-null-sink"));
                               },
                               "No such entity"}),
    [](const testing::TestParamInfo<Disruption>& info) { return info.param.name; });

// Unlike a restart after the server stopped, which times out on a connection it already has.
TEST_F(PulseTest, GivesUpOnConnectingToAServerThatDoesNotAnswer) {
  ASSERT_TRUE(server_.startDesktop(kStereo48k));
  server_.signalDaemon(SIGSTOP);
  std::shared_ptr<AudioEngine> engine = AudioEngine::create();
  const Clock::time_point begin = Clock::now();
  std::string error;
  EXPECT_FALSE(engine->startAndReturnError(&error));
  EXPECT_EQ(error, "Timeout");
  measured("start against a stopped server", millisecondsSince(begin));
  EXPECT_LT(millisecondsSince(begin), 10000);
  engine->stop();
}

}  // namespace
}  // namespace speechline
