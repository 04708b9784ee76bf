#pragma once

#include <memory>

#include "platform/linux/pocketsphinx/model_locator.h"
#include "platform/linux/pocketsphinx/recognition_session.h"
#include "platform/speech_recognizer.h"

namespace speechline {

// The PocketSphinx recognizer over the model `parts`, its tasks set up with `settings`.
// SpeechRecognizer::create() makes it with the default settings (English text for an English
// locale) once it has found the locale's model folder; tests call it with a model folder or
// settings of their own. Reads no file: each task starts loading its own decoder when it starts.
// Never null.
std::shared_ptr<SpeechRecognizer> makePocketSphinxRecognizer(const ModelParts& parts,
                                                             const RecognitionSettings& settings);

}  // namespace speechline
