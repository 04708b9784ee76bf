#pragma once

#include "platform/linux/pocketsphinx/model_locator.h"

typedef struct ps_decoder_s ps_decoder_t;

namespace speechline {

// Switches PocketSphinx's and sphinxbase's logging off for the whole process, so that nothing
// they say is written anywhere. Call before any other PocketSphinx call.
void silencePocketSphinx();

// Builds a decoder for `parts` as ps_init() would, except that it loads only the dictionary
// entries the language model knows (known_words_dictionary.h). Null when the model cannot be
// loaded, or when its dictionary has no word of its language model (such a decoder would
// listen for ever and hear nothing). The caller frees the decoder with ps_free.
//
// A damaged model file can make PocketSphinx crash, exit or allocate without bound in here:
// only the recognizer process calls it.
ps_decoder_t* buildPocketSphinxDecoder(const ModelParts& parts);

}  // namespace speechline
