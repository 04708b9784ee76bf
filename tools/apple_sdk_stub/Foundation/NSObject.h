// Stub of the SDK's <Foundation/NSObject.h>, for type-checking the macOS backend on Linux: the
// basic protocols, over the root class of <objc/NSObject.h>.
#pragma once

#include <Foundation/NSObjCRuntime.h>
#include <objc/NSObject.h>

@class NSCoder;
typedef struct _NSZone NSZone;

NS_ASSUME_NONNULL_BEGIN

@protocol NSCopying
- (id)copyWithZone:(nullable NSZone*)zone;
@end

@protocol NSMutableCopying
- (id)mutableCopyWithZone:(nullable NSZone*)zone;
@end

@protocol NSCoding
- (void)encodeWithCoder:(NSCoder*)coder;
- (nullable instancetype)initWithCoder:(NSCoder*)coder;
@end

@protocol NSSecureCoding <NSCoding>
@property(class, readonly) BOOL supportsSecureCoding;
@end

NS_ASSUME_NONNULL_END
