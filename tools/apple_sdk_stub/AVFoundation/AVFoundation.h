// Stub of the SDK's <AVFoundation/AVFoundation.h>, for type-checking the macOS backend on Linux:
// AVFAudio (which AVFoundation re-exports), the media types of AVMediaFormat.h and the
// authorization requests of AVCaptureDevice.h, as the SDK declares them.
#pragma once

#import <AVFAudio/AVFAudio.h>
#import <Foundation/Foundation.h>

NS_ASSUME_NONNULL_BEGIN

// AVMediaFormat.h
typedef NSString* AVMediaType NS_EXTENSIBLE_STRING_ENUM;
AVF_EXPORT AVMediaType const AVMediaTypeVideo
    API_AVAILABLE(macos(10.7), ios(4.0), tvos(9.0), watchos(1.0));
AVF_EXPORT AVMediaType const AVMediaTypeAudio
    API_AVAILABLE(macos(10.7), ios(4.0), tvos(9.0), watchos(1.0));

// AVCaptureDevice.h
typedef NS_ENUM(NSInteger, AVAuthorizationStatus){
    AVAuthorizationStatusNotDetermined = 0,
    AVAuthorizationStatusRestricted = 1,
    AVAuthorizationStatusDenied = 2,
    AVAuthorizationStatusAuthorized = 3,
} API_AVAILABLE(macos(10.14), ios(7.0), macCatalyst(14.0)) API_UNAVAILABLE(tvos)
    __WATCHOS_PROHIBITED;

API_AVAILABLE(macos(10.7), ios(4.0), macCatalyst(14.0)) API_UNAVAILABLE(tvos) __WATCHOS_PROHIBITED
@interface AVCaptureDevice : NSObject
- (instancetype)init NS_UNAVAILABLE;
+ (instancetype)new NS_UNAVAILABLE;
@property(nonatomic, readonly) NSString* uniqueID;
@property(nonatomic, readonly) NSString* localizedName;
@end

@interface AVCaptureDevice (AVCaptureDeviceAuthorization)
+ (AVAuthorizationStatus)authorizationStatusForMediaType:(AVMediaType)mediaType
    API_AVAILABLE(macos(10.14), ios(7.0), macCatalyst(14.0)) API_UNAVAILABLE(tvos);
+ (void)requestAccessForMediaType:(AVMediaType)mediaType
                completionHandler:(void (^)(BOOL granted))handler
    API_AVAILABLE(macos(10.14), ios(7.0), macCatalyst(14.0)) API_UNAVAILABLE(tvos);
@end

NS_ASSUME_NONNULL_END
