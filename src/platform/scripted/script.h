#pragma once

#include <optional>
#include <string>
#include <vector>

namespace speechline::scripted {

// How a service answers a permission request: inside the request call, or later from a thread
// of its own after `delayMilliseconds`.
struct PermissionAnswer {
  long long value = 0;
  bool fromOtherThread = false;
  int delayMilliseconds = 0;
};

struct ScriptedLocale {
  std::string identifier;
  bool available = true;
  bool supportsOnDevice = true;
};

// One call of the result handler, `atMilliseconds` after the task was created.
struct Delivery {
  int atMilliseconds = 0;
  std::optional<std::string> resultText;
  bool resultIsFinal = false;
  std::optional<std::string> errorDescription;
};

// The engine stopping by itself, `atMilliseconds` after it started.
struct EngineStop {
  int atMilliseconds = 0;
  std::string description;
};

// What the scripted services answer, read once from the file named by SPEECHLINE_SCRIPT.
//
// One directive per line; `#` starts a comment; strings are "quoted" with \" \\ \n \t \xHH:
//   log PATH                                  call log: one line per platform call
//   speechAuthorization STATUS [thread MS]    default 3, answered inside the call
//   microphoneAccess yes|no [thread MS]       default yes
//   locale "ID" [unavailable] [noOnDevice]    a locale that has a recognizer
//   input CHANNELS RATE                       the input's format; default 1 16000
//   engineStartError "DESCRIPTION"            startAndReturnError fails with this
//   engineStops MS "DESCRIPTION"              the running engine stops by itself, MS after start
//   tapBuffers N                              buffers the tap receives after the engine starts
//   deliver MS [partial|final "TEXT"] [error "DESCRIPTION"]
//   cancelError "DESCRIPTION"                 cancel() hands this error to the handler at once
struct Script {
  std::string callLogPath;
  PermissionAnswer speechAuthorization{3};
  PermissionAnswer microphoneAccess{1};
  std::vector<ScriptedLocale> locales;
  unsigned channelCount = 1;
  double sampleRate = 16000;
  std::optional<std::string> engineStartError;
  std::optional<EngineStop> engineStop;
  int tapBuffers = 0;
  std::vector<Delivery> deliveries;
  std::optional<std::string> cancelError;

  // Parses a whole script; on a malformed line returns nothing and describes it in `*problem`.
  static std::optional<Script> parse(const std::string& text, std::string* problem);

  // The script of this process. A missing or malformed script aborts with a message: this
  // binary exists only for tests.
  static const Script& shared();
};

// Appends one line to the call log, in one write, so lines from several threads never mix.
// A line starts with the name of the call as the macOS backend makes it, so that a process
// test's expected calls read the same as the macOS services' calls. Most are the C++ names too;
// these five are not:
//   AVAudioEngine init                          AudioEngine::create()
//   addObserverForName AVAudioEngineConfigurationChangeNotification
//                                               AudioEngine::setUnexpectedStopHandler()
//   SFSpeechAudioBufferRecognitionRequest init  SpeechAudioBufferRecognitionRequest::create()
//   initWithLocale "ID"                         SpeechRecognizer::create()
//   recognitionTaskWithRequest                  SpeechRecognizer::recognitionTask()
void logCall(const std::string& line);

// `text` quoted the way the script spells strings, so a log line stays one line.
std::string quoted(const std::string& text);

}  // namespace speechline::scripted
