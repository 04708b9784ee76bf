// Stub of the SDK's <Foundation/NSObjCRuntime.h>, for type-checking the macOS backend on Linux.
// Nullability is spelled _Nullable/_Nonnull, which the SDK's __nullable/__nonnull stand for.
#pragma once

#include <objc/objc.h>
#include <os/availability.h>
#include <stddef.h>
#include <stdint.h>

typedef long NSInteger;
typedef unsigned long NSUInteger;
typedef double NSTimeInterval;

#if defined(__cplusplus)
#define FOUNDATION_EXTERN extern "C"
#else
#define FOUNDATION_EXTERN extern
#endif
#define FOUNDATION_EXPORT FOUNDATION_EXTERN

#define NS_ASSUME_NONNULL_BEGIN _Pragma("clang assume_nonnull begin")
#define NS_ASSUME_NONNULL_END _Pragma("clang assume_nonnull end")
#define NS_DESIGNATED_INITIALIZER __attribute__((objc_designated_initializer))
#define NS_UNAVAILABLE __attribute__((unavailable))
#define NS_RETURNS_RETAINED __attribute__((ns_returns_retained))
#define NS_RETURNS_INNER_POINTER __attribute__((objc_returns_inner_pointer))
#define NS_EXTENSIBLE_STRING_ENUM
#define NS_TYPED_EXTENSIBLE_ENUM
#define NS_SWIFT_NAME(name)

// `typedef NS_ENUM(type, name) {...}` declares a named enum with a fixed underlying type;
// `NS_ENUM(type) {...}` an anonymous one, as in the SDK.
#define __NS_ENUM_ATTRIBUTES __attribute__((enum_extensibility(open)))
#define __NS_NAMED_ENUM(_type, _name) \
  enum __NS_ENUM_ATTRIBUTES _name : _type _name; \
  enum _name : _type
#define __NS_ANON_ENUM(_type) enum __NS_ENUM_ATTRIBUTES : _type
#define __NS_ENUM_GET_MACRO(_1, _2, NAME, ...) NAME
#define NS_ENUM(...) __NS_ENUM_GET_MACRO(__VA_ARGS__, __NS_NAMED_ENUM, __NS_ANON_ENUM, )(__VA_ARGS__)
#define NS_OPTIONS(_type, _name)                                                \
  enum __attribute__((flag_enum, enum_extensibility(open))) _name : _type _name; \
  enum _name : _type
