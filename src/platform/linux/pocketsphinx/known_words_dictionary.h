#pragma once

#include <string>

#include "platform/linux/result.h"

typedef struct ngram_model_s ngram_model_t;

namespace speechline {

// PocketSphinx searches only the words of its language model, yet it loads every word of the
// pronunciation dictionary (Debian's en-US dictionary has half again as many entries as its
// language model has words), and loading the dictionary is the larger part of building a
// decoder. This writes the part of a dictionary the decoder can ever use into an anonymous
// in-memory file: every line whose word `languageModel` knows (an alternate pronunciation
// "word(2)" counts as "word"), every line whose word has an upper-case letter (the model may
// fold case), and every line that starts with no word. The decoder built from it recognises
// exactly what it would from the whole dictionary.
//
// Returns the file's descriptor, for the caller to close; fails when the dictionary cannot be
// read or the file cannot be made, and the caller then uses the whole dictionary. Any thread.
Result<int> extractKnownWords(const std::string& dictionary, ngram_model_t* languageModel);

// The path under which the decoder opens the file extractKnownWords() returned.
std::string descriptorPath(int descriptor);

}  // namespace speechline
