// Stub of the SDK's <objc/NSObject.h>, for type-checking the macOS backend on Linux: the root
// class and protocol. Like the SDK's, this file carries no nullability annotations.
#pragma once

#include <objc/objc.h>

@class NSString;

@protocol NSObject
- (BOOL)isEqual:(id)object;
@property(readonly) unsigned long hash;
@property(readonly) Class superclass;
- (Class)class;
- (instancetype)self;
- (BOOL)isKindOfClass:(Class)aClass;
- (BOOL)isMemberOfClass:(Class)aClass;
- (BOOL)respondsToSelector:(SEL)aSelector;
- (instancetype)retain OBJC_ARC_UNAVAILABLE;
- (oneway void)release OBJC_ARC_UNAVAILABLE;
- (instancetype)autorelease OBJC_ARC_UNAVAILABLE;
- (unsigned long)retainCount OBJC_ARC_UNAVAILABLE;
@property(readonly, copy) NSString* description;
@end

OBJC_ROOT_CLASS
@interface NSObject <NSObject> {
  Class isa;
}
+ (void)load;
+ (void)initialize;
- (instancetype)init;
+ (instancetype)new;
+ (instancetype)alloc;
- (void)dealloc;
- (id)copy;
- (id)mutableCopy;
+ (Class)class;
+ (BOOL)instancesRespondToSelector:(SEL)aSelector;
@end
