// Stub of the SDK's <AVFAudio/AVFAudio.h>, for type-checking the macOS backend on Linux: the
// declarations of AVAudioTypes.h, AVAudioFormat.h, AVAudioBuffer.h, AVAudioTime.h,
// AVAudioNode.h, AVAudioIONode.h and AVAudioEngine.h that the backend uses, with their
// neighbours, as the SDK declares them.
#pragma once

#import <Foundation/Foundation.h>

#if defined(__cplusplus)
#define AVF_EXPORT extern "C" __attribute__((visibility("default")))
#else
#define AVF_EXPORT extern __attribute__((visibility("default")))
#endif
#define OS_EXPORT AVF_EXPORT

NS_ASSUME_NONNULL_BEGIN

// AVAudioTypes.h
typedef int64_t AVAudioFramePosition;
typedef uint32_t AVAudioFrameCount;
typedef uint32_t AVAudioPacketCount;
typedef uint32_t AVAudioChannelCount;
typedef NSUInteger AVAudioNodeBus;

// AVAudioFormat.h
typedef NS_ENUM(NSUInteger, AVAudioCommonFormat){
    AVAudioOtherFormat = 0,      AVAudioPCMFormatFloat32 = 1, AVAudioPCMFormatFloat64 = 2,
    AVAudioPCMFormatInt16 = 3,   AVAudioPCMFormatInt32 = 4,
} API_AVAILABLE(macos(10.10), ios(8.0), watchos(2.0), tvos(9.0));

API_AVAILABLE(macos(10.10), ios(8.0), watchos(2.0), tvos(9.0))
@interface AVAudioFormat : NSObject <NSSecureCoding>
- (nullable instancetype)initStandardFormatWithSampleRate:(double)sampleRate
                                                 channels:(AVAudioChannelCount)channels;
- (nullable instancetype)initWithCommonFormat:(AVAudioCommonFormat)format
                                   sampleRate:(double)sampleRate
                                     channels:(AVAudioChannelCount)channels
                                  interleaved:(BOOL)interleaved;
@property(nonatomic, readonly, getter=isStandard) BOOL standard;
@property(nonatomic, readonly) AVAudioCommonFormat commonFormat;
@property(nonatomic, readonly) AVAudioChannelCount channelCount;
@property(nonatomic, readonly) double sampleRate;
@property(nonatomic, readonly, getter=isInterleaved) BOOL interleaved;
@end

// AVAudioBuffer.h
API_AVAILABLE(macos(10.10), ios(8.0), watchos(2.0), tvos(9.0))
@interface AVAudioBuffer : NSObject <NSCopying, NSMutableCopying>
@property(nonatomic, readonly) AVAudioFormat* format;
@end

API_AVAILABLE(macos(10.10), ios(8.0), watchos(2.0), tvos(9.0))
@interface AVAudioPCMBuffer : AVAudioBuffer
- (nullable instancetype)initWithPCMFormat:(AVAudioFormat*)format
                             frameCapacity:(AVAudioFrameCount)frameCapacity
    NS_DESIGNATED_INITIALIZER;
@property(nonatomic, readonly) AVAudioFrameCount frameCapacity;
@property(nonatomic) AVAudioFrameCount frameLength;
@property(nonatomic, readonly) NSUInteger stride;
@property(nonatomic, readonly) float* _Nonnull const* _Nullable floatChannelData;
@property(nonatomic, readonly) int16_t* _Nonnull const* _Nullable int16ChannelData;
@property(nonatomic, readonly) int32_t* _Nonnull const* _Nullable int32ChannelData;
@end

// AVAudioTime.h
OS_EXPORT API_AVAILABLE(macos(10.10), ios(8.0), watchos(2.0), tvos(9.0))
@interface AVAudioTime : NSObject
+ (NSTimeInterval)secondsForHostTime:(uint64_t)hostTime;
+ (uint64_t)hostTimeForSeconds:(NSTimeInterval)seconds;
@property(nonatomic, readonly, getter=isHostTimeValid) BOOL hostTimeValid;
@property(nonatomic, readonly) uint64_t hostTime;
@property(nonatomic, readonly, getter=isSampleTimeValid) BOOL sampleTimeValid;
@property(nonatomic, readonly) AVAudioFramePosition sampleTime;
@property(nonatomic, readonly) double sampleRate;
@end

// AVAudioNode.h
typedef void (^AVAudioNodeTapBlock)(AVAudioPCMBuffer* buffer, AVAudioTime* when)
    API_AVAILABLE(macos(10.10), ios(8.0), watchos(2.0), tvos(9.0));

@class AVAudioEngine;

API_AVAILABLE(macos(10.10), ios(8.0), watchos(2.0), tvos(9.0))
@interface AVAudioNode : NSObject
- (void)reset;
- (AVAudioFormat*)inputFormatForBus:(AVAudioNodeBus)bus;
- (AVAudioFormat*)outputFormatForBus:(AVAudioNodeBus)bus;
- (nullable NSString*)nameForInputBus:(AVAudioNodeBus)bus;
- (nullable NSString*)nameForOutputBus:(AVAudioNodeBus)bus;
- (void)installTapOnBus:(AVAudioNodeBus)bus
             bufferSize:(AVAudioFrameCount)bufferSize
                 format:(AVAudioFormat* _Nullable)format
                  block:(AVAudioNodeTapBlock)tapBlock;
- (void)removeTapOnBus:(AVAudioNodeBus)bus;
@property(nonatomic, readonly, nullable) AVAudioEngine* engine;
@property(nonatomic, readonly) NSUInteger numberOfInputs;
@property(nonatomic, readonly) NSUInteger numberOfOutputs;
@end

// AVAudioIONode.h
API_AVAILABLE(macos(10.10), ios(8.0), watchos(2.0), tvos(9.0))
@interface AVAudioIONode : AVAudioNode
@property(nonatomic, readonly) NSTimeInterval presentationLatency;
@end

API_AVAILABLE(macos(10.10), ios(8.0), watchos(4.0), tvos(11.0))
@interface AVAudioInputNode : AVAudioIONode
- (instancetype)init NS_UNAVAILABLE;
@end

API_AVAILABLE(macos(10.10), ios(8.0), watchos(2.0), tvos(9.0))
@interface AVAudioOutputNode : AVAudioIONode
- (instancetype)init NS_UNAVAILABLE;
@end

// AVAudioEngine.h
OS_EXPORT API_AVAILABLE(macos(10.10), ios(8.0), watchos(2.0), tvos(9.0))
@interface AVAudioEngine : NSObject
- (instancetype)init;
- (void)attachNode:(AVAudioNode*)node;
- (void)detachNode:(AVAudioNode*)node;
- (void)prepare;
- (BOOL)startAndReturnError:(NSError**)outError;
- (void)pause;
- (void)reset;
- (void)stop;
@property(readonly, nonatomic) AVAudioOutputNode* outputNode;
@property(readonly, nonatomic) AVAudioInputNode* inputNode
    API_AVAILABLE(macos(10.10), ios(8.0), watchos(4.0), tvos(11.0));
@property(readonly, nonatomic, getter=isRunning) BOOL running;
@end

AVF_EXPORT NSString* const AVAudioEngineConfigurationChangeNotification
    API_AVAILABLE(macos(10.10), ios(8.0), watchos(2.0), tvos(9.0));

NS_ASSUME_NONNULL_END
