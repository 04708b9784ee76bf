#pragma once

#include <memory>

#include "platform/linux/model_locator.h"
#include "platform/speech_recognizer.h"

namespace speechline {

// The PocketSphinx recognizer over the model `parts`, as SpeechRecognizer::create() makes it
// once it has found the locale's model folder; tests call it with a model folder of their own.
// Starts loading the model at once when every part is there.
std::shared_ptr<SpeechRecognizer> makePocketSphinxRecognizer(const ModelParts& parts);

}  // namespace speechline
