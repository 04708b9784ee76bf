#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include "app/options.h"
#include "platform/main_loop.h"
#include "speech_input/speech_input.h"

namespace speechline {
namespace {

// Written once each, in this order, and held until the process exits.
std::string localeIdentifier;
bool requiresOnDeviceRecognition = false;
std::shared_ptr<SpeechInput> speechInput;
std::shared_ptr<SignalSource> interruptSource;
std::shared_ptr<SignalSource> terminateSource;

void stopSpeechInput() {
  if (std::shared_ptr<SpeechInput> input = speechInput) input->stop();
}

std::shared_ptr<SignalSource> makeStoppingSource(int signalNumber) {
  std::shared_ptr<SignalSource> source = SignalSource::makeSignalSource(signalNumber);
  source->setEventHandler(stopSpeechInput);
  source->resume();
  return source;
}

}  // namespace
}  // namespace speechline

int main(int argc, char** argv) {
  using namespace speechline;
  const std::vector<std::string> arguments(argv, argv + argc);

  localeIdentifier = optionValue(arguments, "--locale", "zh-CN");
  requiresOnDeviceRecognition = hasOption(arguments, "--requires-on-device");
  speechInput = std::make_shared<SpeechInput>(localeIdentifier, requiresOnDeviceRecognition);

  // Ignored before the sources exist, so an arrival is never the default termination from here.
  std::signal(SIGINT, SIG_IGN);
  std::signal(SIGTERM, SIG_IGN);
  interruptSource = makeStoppingSource(SIGINT);
  terminateSource = makeStoppingSource(SIGTERM);

  speechInput->start();
  // The loop returns only when it cannot go on, and that ends the run as a failed recognition
  // (the process never returns from here into static destructors under running threads).
  speechInput->failRecognition(runMainLoop());
  return 0;
}
