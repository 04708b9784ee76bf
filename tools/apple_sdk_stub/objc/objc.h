// Stub of the SDK's <objc/objc.h>, for type-checking the macOS backend on Linux. id, Class and
// SEL are built into clang; BOOL follows the SDK: bool on arm64, signed char on x86-64
// (clang predefines __OBJC_BOOL_IS_BOOL; the type check runs both ways).
#pragma once

#if defined(__OBJC_BOOL_IS_BOOL) && __OBJC_BOOL_IS_BOOL
#define OBJC_BOOL_IS_BOOL 1
typedef bool BOOL;
#else
#define OBJC_BOOL_IS_BOOL 0
#define OBJC_BOOL_IS_CHAR 1
typedef signed char BOOL;
#endif

#if __has_feature(objc_bool)
#define YES __objc_yes
#define NO __objc_no
#else
#define YES ((BOOL)1)
#define NO ((BOOL)0)
#endif

#ifndef nil
#if defined(__cplusplus)
#define nil nullptr
#else
#define nil ((void*)0)
#endif
#endif
#ifndef Nil
#define Nil nil
#endif

#define OBJC_ROOT_CLASS __attribute__((objc_root_class))
#if __has_feature(objc_arc)
#define OBJC_ARC_UNAVAILABLE \
  __attribute__((unavailable("not available in automatic reference counting mode")))
#else
#define OBJC_ARC_UNAVAILABLE
#endif
