"""The type check rejects the mistakes it exists to catch.

Each case takes a snippet that uses the SDK the way the backend does, passes the check, and
makes one mistake in it; the check must then fail with the matching diagnostic. This guards
the stub headers against drifting into accepting anything.
"""

import os
import pathlib
import tempfile
import unittest
from unittest import mock

import objc_type_check

CLANG = os.environ.get("SPEECHLINE_CLANGXX", "clang++")

CORRECT = """
#import <AVFoundation/AVFoundation.h>
#import <Foundation/Foundation.h>
#import <Speech/Speech.h>
#include <dispatch/dispatch.h>

void tap(AVAudioInputNode* node, SFSpeechAudioBufferRecognitionRequest* request) {
  [node installTapOnBus:0
             bufferSize:1024
                 format:[node outputFormatForBus:0]
                  block:^(AVAudioPCMBuffer* buffer, AVAudioTime* when) {
                    (void)when;
                    [request appendAudioPCMBuffer:buffer];
                  }];
}

SFSpeechRecognitionTask* recognize(NSString* identifier,
                                   SFSpeechAudioBufferRecognitionRequest* request) {
  SFSpeechRecognizer* recognizer =
      [[SFSpeechRecognizer alloc] initWithLocale:[NSLocale localeWithLocaleIdentifier:identifier]];
  return [recognizer recognitionTaskWithRequest:request
                                  resultHandler:^(SFSpeechRecognitionResult* _Nullable result,
                                                  NSError* _Nullable error) {
                                    if ([result isFinal]) (void)result.bestTranscription;
                                    (void)error.localizedDescription;
                                  }];
}

void ask(void (^answered)(BOOL)) {
  [AVCaptureDevice requestAccessForMediaType:AVMediaTypeAudio
                           completionHandler:^(BOOL granted) {
                             answered(granted);
                           }];
  [SFSpeechRecognizer requestAuthorization:^(SFSpeechRecognizerAuthorizationStatus status) {
    answered(status == SFSpeechRecognizerAuthorizationStatusAuthorized);
  }];
}

id<NSObject> observe(AVAudioEngine* engine, void (^stopped)(void)) {
  return [[NSNotificationCenter defaultCenter]
      addObserverForName:AVAudioEngineConfigurationChangeNotification
                  object:engine
                   queue:nil
              usingBlock:^(NSNotification* notification) {
                (void)notification;
                dispatch_async(dispatch_get_main_queue(), stopped);
              }];
}

dispatch_source_t watch(int signalNumber, void (^handler)(void)) {
  dispatch_source_t source = dispatch_source_create(
      DISPATCH_SOURCE_TYPE_SIGNAL, (uintptr_t)signalNumber, 0, dispatch_get_main_queue());
  dispatch_source_set_event_handler(source, handler);
  dispatch_resume(source);
  return source;
}
"""

# (mistake, text in CORRECT, replacement, a diagnostic it must produce, slices that fail)
BOTH = {"x86-64", "arm64"}
MISTAKES = [
    ("misspelled selector",
     "[request appendAudioPCMBuffer:buffer]", "[request appendAudioBuffer:buffer]",
     "declares the selector 'appendAudioBuffer:'", BOTH),
    ("tap block without the time argument",
     "^(AVAudioPCMBuffer* buffer, AVAudioTime* when) {\n                    (void)when;",
     "^(AVAudioPCMBuffer* buffer) {",
     "cannot initialize a parameter of type 'AVAudioNodeTapBlock", BOTH),
    ("result handler with its arguments swapped",
     "^(SFSpeechRecognitionResult* _Nullable result,\n"
     "                                                  NSError* _Nullable error)",
     "^(NSError* _Nullable error, SFSpeechRecognitionResult* _Nullable result)",
     "cannot initialize a parameter of type 'void (^ _Nonnull)(SFSpeechRecognitionResult *", BOTH),
    ("signal handler block that takes an argument",
     "void (^handler)(void)", "void (^handler)(int)",
     "no known conversion from 'void (^__strong)(int)' to 'dispatch_block_t", BOTH),
    ("notification block without its notification",
     "^(NSNotification* notification) {\n                (void)notification;", "^{",
     "cannot initialize a parameter of type 'void (^ _Nonnull)(NSNotification *", BOTH),
    ("property under a name the SDK does not have",
     "result.bestTranscription", "result.bestTranscriptions",
     "property 'bestTranscriptions' not found", BOTH),
    ("explicit retain under ARC",
     "(void)when;", "(void)[when retain];",
     "ARC forbids explicit message send of 'retain'", BOTH),
    ("nil where the SDK requires a locale",
     "initWithLocale:[NSLocale localeWithLocaleIdentifier:identifier]", "initWithLocale:nil",
     "null passed to a callee that requires a non-null argument", BOTH),
    # BOOL is bool on arm64 but signed char on x86-64: this only compiles for one of them.
    ("permission block taking bool instead of BOOL",
     "^(BOOL granted)", "^(bool granted)",
     "cannot initialize a parameter of type 'void (^ _Nonnull)(BOOL)'", {"x86-64"}),
    # macOS 11 API: fine on arm64, which starts there, but not on x86-64 at 10.15.
    ("API newer than the deployment target, unguarded",
     "(void)result.bestTranscription", "(void)result.speechRecognitionMetadata",
     "'speechRecognitionMetadata' is only available on macOS 11.0 or newer", {"x86-64"}),
]


class ObjcTypeCheckTest(unittest.TestCase):
    def setUp(self):
        self.directory = tempfile.TemporaryDirectory()
        self.addCleanup(self.directory.cleanup)

    def check(self, text):
        source = pathlib.Path(self.directory.name) / "snippet.mm"
        source.write_text(text)
        return objc_type_check.check(CLANG, [source])

    def test_correct_snippet_passes(self):
        failures = self.check(CORRECT)
        self.assertEqual([], [(target, output) for _, target, output in failures])

    def test_each_mistake_fails_with_its_diagnostic(self):
        for mistake, text, replacement, diagnostic, failing in MISTAKES:
            with self.subTest(mistake):
                self.assertEqual(1, CORRECT.count(text), "the table no longer matches CORRECT")
                failures = self.check(CORRECT.replace(text, replacement))
                self.assertEqual(failing, {target for _, target, _ in failures})
                for _, target, output in failures:
                    self.assertIn(diagnostic, output, target)

    def test_nothing_to_check_is_a_failure(self):
        with mock.patch.object(objc_type_check, "SOURCES", pathlib.Path(self.directory.name)):
            self.assertEqual(1, objc_type_check.main(["--clang", CLANG]))


if __name__ == "__main__":
    unittest.main()
