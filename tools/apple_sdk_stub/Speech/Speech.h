// Stub of the SDK's <Speech/Speech.h>, for type-checking the macOS backend on Linux: the
// declarations of SFSpeechRecognizer.h, SFSpeechRecognitionRequest.h,
// SFSpeechRecognitionTask.h, SFSpeechRecognitionResult.h and SFTranscription.h, as the SDK
// declares them. The whole framework is macOS 10.15 or later.
#pragma once

#import <AVFoundation/AVFoundation.h>
#import <CoreMedia/CoreMedia.h>
#import <Foundation/Foundation.h>

NS_ASSUME_NONNULL_BEGIN

@class SFSpeechRecognitionRequest, SFSpeechRecognitionTask, SFSpeechRecognitionResult;
@class SFSpeechRecognitionMetadata, SFTranscriptionSegment;
@protocol SFSpeechRecognizerDelegate, SFSpeechRecognitionTaskDelegate;

// SFSpeechRecognitionTaskHint.h
typedef NS_ENUM(NSInteger, SFSpeechRecognitionTaskHint){
    SFSpeechRecognitionTaskHintUnspecified = 0,
    SFSpeechRecognitionTaskHintDictation = 1,
    SFSpeechRecognitionTaskHintSearch = 2,
    SFSpeechRecognitionTaskHintConfirmation = 3,
} API_AVAILABLE(ios(10.0), macos(10.15));

// SFSpeechRecognizer.h
typedef NS_ENUM(NSInteger, SFSpeechRecognizerAuthorizationStatus){
    SFSpeechRecognizerAuthorizationStatusNotDetermined,
    SFSpeechRecognizerAuthorizationStatusDenied,
    SFSpeechRecognizerAuthorizationStatusRestricted,
    SFSpeechRecognizerAuthorizationStatusAuthorized,
} API_AVAILABLE(ios(10.0), macos(10.15));

API_AVAILABLE(ios(10.0), macos(10.15))
@interface SFSpeechRecognizer : NSObject
+ (NSSet<NSLocale*>*)supportedLocales;
+ (SFSpeechRecognizerAuthorizationStatus)authorizationStatus;
+ (void)requestAuthorization:(void (^)(SFSpeechRecognizerAuthorizationStatus status))handler;
- (nullable instancetype)init;
- (nullable instancetype)initWithLocale:(NSLocale*)locale NS_DESIGNATED_INITIALIZER;
@property(nonatomic, readonly, getter=isAvailable) BOOL available;
@property(nonatomic, readonly, copy) NSLocale* locale;
@property(nonatomic) BOOL supportsOnDeviceRecognition API_AVAILABLE(ios(13));
@property(nonatomic, weak) id<SFSpeechRecognizerDelegate> delegate;
@property(nonatomic) SFSpeechRecognitionTaskHint defaultTaskHint;
- (SFSpeechRecognitionTask*)
    recognitionTaskWithRequest:(SFSpeechRecognitionRequest*)request
                 resultHandler:(void (^)(SFSpeechRecognitionResult* _Nullable result,
                                         NSError* _Nullable error))resultHandler;
- (SFSpeechRecognitionTask*)recognitionTaskWithRequest:(SFSpeechRecognitionRequest*)request
                                              delegate:(id<SFSpeechRecognitionTaskDelegate>)delegate;
@property(nonatomic, strong) NSOperationQueue* queue;
@end

@protocol SFSpeechRecognizerDelegate <NSObject>
@optional
- (void)speechRecognizer:(SFSpeechRecognizer*)speechRecognizer
    availabilityDidChange:(BOOL)available;
@end

// SFSpeechRecognitionRequest.h
API_AVAILABLE(ios(10.0), macos(10.15))
@interface SFSpeechRecognitionRequest : NSObject
@property(nonatomic) SFSpeechRecognitionTaskHint taskHint;
@property(nonatomic) BOOL shouldReportPartialResults;
@property(nonatomic, copy) NSArray<NSString*>* contextualStrings;
@property(nonatomic) BOOL requiresOnDeviceRecognition API_AVAILABLE(ios(13), macos(10.15));
@end

API_AVAILABLE(ios(10.0), macos(10.15))
@interface SFSpeechAudioBufferRecognitionRequest : SFSpeechRecognitionRequest
@property(nonatomic, readonly) AVAudioFormat* nativeAudioFormat;
- (void)appendAudioPCMBuffer:(AVAudioPCMBuffer*)audioPCMBuffer;
- (void)appendAudioSampleBuffer:(CMSampleBufferRef)sampleBuffer;
- (void)endAudio;
@end

// SFSpeechRecognitionTask.h
typedef NS_ENUM(NSInteger, SFSpeechRecognitionTaskState){
    SFSpeechRecognitionTaskStateStarting = 0,  SFSpeechRecognitionTaskStateRunning = 1,
    SFSpeechRecognitionTaskStateFinishing = 2, SFSpeechRecognitionTaskStateCanceling = 3,
    SFSpeechRecognitionTaskStateCompleted = 4,
} API_AVAILABLE(ios(10.0), macos(10.15));

API_AVAILABLE(ios(10.0), macos(10.15))
@interface SFSpeechRecognitionTask : NSObject
@property(nonatomic, readonly) SFSpeechRecognitionTaskState state;
@property(nonatomic, readonly, getter=isFinishing) BOOL finishing;
- (void)finish;
@property(nonatomic, readonly, getter=isCancelled) BOOL cancelled;
- (void)cancel;
@property(nonatomic, readonly, copy, nullable) NSError* error;
@end

@protocol SFSpeechRecognitionTaskDelegate <NSObject>
@optional
- (void)speechRecognitionDidDetectSpeech:(SFSpeechRecognitionTask*)task;
- (void)speechRecognitionTask:(SFSpeechRecognitionTask*)task
    didFinishRecognition:(SFSpeechRecognitionResult*)recognitionResult;
- (void)speechRecognitionTask:(SFSpeechRecognitionTask*)task
    didFinishSuccessfully:(BOOL)successfully;
@end

// SFTranscription.h
API_AVAILABLE(ios(10.0), macos(10.15))
@interface SFTranscription : NSObject <NSCopying, NSSecureCoding>
@property(nonatomic, readonly, copy) NSString* formattedString;
@property(nonatomic, readonly, copy) NSArray<SFTranscriptionSegment*>* segments;
@end

// SFSpeechRecognitionResult.h
API_AVAILABLE(ios(10.0), macos(10.15))
@interface SFSpeechRecognitionResult : NSObject <NSCopying, NSSecureCoding>
@property(nonatomic, readonly, copy) SFTranscription* bestTranscription;
@property(nonatomic, readonly, copy) NSArray<SFTranscription*>* transcriptions;
@property(nonatomic, readonly, getter=isFinal) BOOL final;
@property(nonatomic, nullable, readonly) SFSpeechRecognitionMetadata* speechRecognitionMetadata
    API_AVAILABLE(ios(14.0), macos(11.0));
@end

NS_ASSUME_NONNULL_END
