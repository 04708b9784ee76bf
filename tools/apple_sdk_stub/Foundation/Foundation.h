// Stub of the SDK's <Foundation/Foundation.h>, for type-checking the macOS backend on Linux. It
// declares the classes the backend uses, with the members of theirs that matter to it, as the
// SDK headers declare them (NSString.h, NSData.h, NSError.h, NSException.h, NSLocale.h,
// NSRunLoop.h, NSOperation.h, NSArray.h, NSSet.h, NSDictionary.h).
#pragma once

#include <Foundation/NSObjCRuntime.h>
#include <Foundation/NSObject.h>

NS_ASSUME_NONNULL_BEGIN

@class NSData, NSDate;

typedef unsigned short unichar;

// NSArray.h, NSSet.h, NSDictionary.h
@interface NSArray<__covariant ObjectType> : NSObject <NSCopying, NSMutableCopying, NSSecureCoding>
@property(readonly) NSUInteger count;
- (ObjectType)objectAtIndex:(NSUInteger)index;
@property(nonatomic, readonly, nullable) ObjectType firstObject;
@end

@interface NSSet<__covariant ObjectType> : NSObject <NSCopying, NSMutableCopying, NSSecureCoding>
@property(readonly) NSUInteger count;
- (nullable ObjectType)member:(ObjectType)object;
- (BOOL)containsObject:(ObjectType)anObject;
@end

@interface NSDictionary<__covariant KeyType, __covariant ObjectType>
    : NSObject <NSCopying, NSMutableCopying, NSSecureCoding>
@property(readonly) NSUInteger count;
- (nullable ObjectType)objectForKey:(KeyType)aKey;
@end

// NSString.h
typedef NSUInteger NSStringEncoding;
NS_ENUM(NSStringEncoding){
    NSASCIIStringEncoding = 1,
    NSUTF8StringEncoding = 4,
    NSISOLatin1StringEncoding = 5,
    NSUnicodeStringEncoding = 10,
    NSUTF16StringEncoding = NSUnicodeStringEncoding,
};

@interface NSString : NSObject <NSCopying, NSMutableCopying, NSSecureCoding>
@property(readonly) NSUInteger length;
- (unichar)characterAtIndex:(NSUInteger)index;
- (instancetype)init NS_DESIGNATED_INITIALIZER;
@end

@interface NSString (NSStringExtensionMethods)
@property(nullable, readonly) const char* UTF8String NS_RETURNS_INNER_POINTER;
- (NSUInteger)lengthOfBytesUsingEncoding:(NSStringEncoding)enc;
- (nullable NSData*)dataUsingEncoding:(NSStringEncoding)encoding allowLossyConversion:(BOOL)lossy;
- (nullable NSData*)dataUsingEncoding:(NSStringEncoding)encoding;
- (nullable instancetype)initWithBytes:(const void*)bytes
                                length:(NSUInteger)len
                              encoding:(NSStringEncoding)encoding;
- (nullable instancetype)initWithUTF8String:(const char*)nullTerminatedCString;
+ (nullable instancetype)stringWithUTF8String:(const char*)nullTerminatedCString;
@end

// NSData.h
@interface NSData : NSObject <NSCopying, NSMutableCopying, NSSecureCoding>
@property(readonly) NSUInteger length;
@property(readonly) const void* bytes NS_RETURNS_INNER_POINTER;
@end

// NSError.h
typedef NSString* NSErrorDomain;
typedef NSString* NSErrorUserInfoKey;

@interface NSError : NSObject <NSCopying, NSSecureCoding>
- (instancetype)initWithDomain:(NSErrorDomain)domain
                          code:(NSInteger)code
                      userInfo:(nullable NSDictionary<NSErrorUserInfoKey, id>*)dict
    NS_DESIGNATED_INITIALIZER;
@property(readonly, copy) NSErrorDomain domain;
@property(readonly) NSInteger code;
@property(readonly, copy) NSDictionary<NSErrorUserInfoKey, id>* userInfo;
@property(readonly, copy) NSString* localizedDescription;
@property(nullable, readonly, copy) NSString* localizedFailureReason;
@end

// NSException.h
typedef NSString* NSExceptionName NS_TYPED_EXTENSIBLE_ENUM;

@interface NSException : NSObject <NSCopying, NSSecureCoding>
@property(readonly, copy) NSExceptionName name;
@property(nullable, readonly, copy) NSString* reason;
@property(nullable, readonly, copy) NSDictionary* userInfo;
@end

// NSLocale.h
@interface NSLocale : NSObject <NSCopying, NSSecureCoding>
- (instancetype)initWithLocaleIdentifier:(NSString*)string NS_DESIGNATED_INITIALIZER;
@property(readonly, copy) NSString* localeIdentifier
    API_AVAILABLE(macos(10.12), ios(10.0), watchos(3.0), tvos(10.0));
@end

@interface NSLocale (NSLocaleCreation)
+ (instancetype)localeWithLocaleIdentifier:(NSString*)ident
    API_AVAILABLE(macos(10.6), ios(4.0), watchos(2.0), tvos(9.0));
@end

@interface NSLocale (NSLocaleGeneralInfo)
@property(class, readonly, copy) NSLocale* currentLocale;
@property(class, readonly, copy) NSLocale* systemLocale;
@end

// NSRunLoop.h
typedef NSString* NSRunLoopMode NS_TYPED_EXTENSIBLE_ENUM;
FOUNDATION_EXPORT NSRunLoopMode const NSDefaultRunLoopMode;
FOUNDATION_EXPORT NSRunLoopMode const NSRunLoopCommonModes
    API_AVAILABLE(macos(10.5), ios(2.0), watchos(2.0), tvos(9.0));

@interface NSRunLoop : NSObject
@property(class, readonly, strong) NSRunLoop* currentRunLoop;
@property(class, readonly, strong) NSRunLoop* mainRunLoop
    API_AVAILABLE(macos(10.5), ios(2.0), watchos(2.0), tvos(9.0));
@property(nullable, readonly, copy) NSRunLoopMode currentMode;
@end

@interface NSRunLoop (NSRunLoopConveniences)
- (void)run;
- (void)runUntilDate:(NSDate*)limitDate;
- (BOOL)runMode:(NSRunLoopMode)mode beforeDate:(NSDate*)limitDate;
@end

// NSOperation.h
@interface NSOperationQueue : NSObject
@property NSInteger maxConcurrentOperationCount;
@property(class, readonly, strong, nullable) NSOperationQueue* currentQueue
    API_AVAILABLE(macos(10.6), ios(4.0), watchos(2.0), tvos(9.0));
@property(class, readonly, strong) NSOperationQueue* mainQueue
    API_AVAILABLE(macos(10.6), ios(4.0), watchos(2.0), tvos(9.0));
- (void)addOperationWithBlock:(void (^)(void))block
    API_AVAILABLE(macos(10.6), ios(4.0), watchos(2.0), tvos(9.0));
@end

// NSNotification.h
typedef NSString* NSNotificationName NS_TYPED_EXTENSIBLE_ENUM;

@interface NSNotification : NSObject <NSCopying, NSCoding>
@property(readonly, copy) NSNotificationName name;
@property(nullable, readonly, retain) id object;
@property(nullable, readonly, copy) NSDictionary* userInfo;
@end

@interface NSNotificationCenter : NSObject
@property(class, readonly, strong) NSNotificationCenter* defaultCenter;
- (void)removeObserver:(id)observer;
- (void)removeObserver:(id)observer
                  name:(nullable NSNotificationName)aName
                object:(nullable id)anObject;
- (id<NSObject>)addObserverForName:(nullable NSNotificationName)name
                            object:(nullable id)obj
                             queue:(nullable NSOperationQueue*)queue
                        usingBlock:(void (^)(NSNotification* notification))block
    API_AVAILABLE(macos(10.6), ios(4.0), watchos(2.0), tvos(9.0));
@end

NS_ASSUME_NONNULL_END
