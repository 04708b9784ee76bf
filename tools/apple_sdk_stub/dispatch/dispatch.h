// Stub of the SDK's <dispatch/dispatch.h> (with <os/object.h>), for type-checking the macOS
// backend on Linux. In Objective-C, dispatch objects are Objective-C objects that ARC retains
// and releases, as in the SDK; the declarations are those of dispatch/object.h, queue.h,
// source.h and semaphore.h.
#pragma once

#include <Foundation/NSObject.h>
#include <os/availability.h>
#include <stdint.h>

#if defined(__cplusplus)
#define DISPATCH_EXPORT extern "C" __attribute__((visibility("default")))
#else
#define DISPATCH_EXPORT extern __attribute__((visibility("default")))
#endif
#define DISPATCH_NONNULL_ALL __attribute__((__nonnull__))
#define DISPATCH_NONNULL1 __attribute__((__nonnull__(1)))
#define DISPATCH_NONNULL2 __attribute__((__nonnull__(2)))
#define DISPATCH_NOTHROW __attribute__((__nothrow__))
#define DISPATCH_WARN_RESULT __attribute__((__warn_unused_result__))
#define DISPATCH_RETURNS_RETAINED __attribute__((__ns_returns_retained__))
#define DISPATCH_ASSUME_NONNULL_BEGIN _Pragma("clang assume_nonnull begin")
#define DISPATCH_ASSUME_NONNULL_END _Pragma("clang assume_nonnull end")

// os/object.h, with OS_OBJECT_USE_OBJC.
#define OS_OBJECT_CLASS(name) OS_##name
#define OS_OBJC_INDEPENDENT_CLASS __attribute__((objc_independent_class))
#define OS_OBJECT_DECL_PROTOCOL(name, ...) \
  @protocol OS_OBJECT_CLASS(name)          \
  __VA_ARGS__ @end
#define OS_OBJECT_DECL_IMPL(name, adhere, ...)         \
  OS_OBJECT_DECL_PROTOCOL(name, __VA_ARGS__)           \
  typedef adhere<OS_OBJECT_CLASS(name)>* OS_OBJC_INDEPENDENT_CLASS name##_t
#define OS_OBJECT_DECL(name, ...) OS_OBJECT_DECL_IMPL(name, NSObject, <NSObject>)
#define OS_OBJECT_DECL_SUBCLASS(name, super) \
  OS_OBJECT_DECL_IMPL(name, NSObject, <OS_OBJECT_CLASS(super)>)
#define OS_OBJECT_BRIDGE __bridge

DISPATCH_ASSUME_NONNULL_BEGIN

// dispatch/object.h
OS_OBJECT_DECL(dispatch_object);
#define DISPATCH_DECL(name) OS_OBJECT_DECL_SUBCLASS(name, dispatch_object)
#define DISPATCH_DECL_SUBCLASS(name, base) OS_OBJECT_DECL_SUBCLASS(name, base)
#define DISPATCH_GLOBAL_OBJECT(type, object) ((OS_OBJECT_BRIDGE type) & (object))

typedef void (^dispatch_block_t)(void);
typedef uint64_t dispatch_time_t;
#define DISPATCH_TIME_NOW (0ull)
#define DISPATCH_TIME_FOREVER (~0ull)

API_AVAILABLE(macos(10.6), ios(4.0))
DISPATCH_EXPORT DISPATCH_NONNULL_ALL DISPATCH_NOTHROW void dispatch_suspend(
    dispatch_object_t object);

API_AVAILABLE(macos(10.6), ios(4.0))
DISPATCH_EXPORT DISPATCH_NONNULL_ALL DISPATCH_NOTHROW void dispatch_resume(
    dispatch_object_t object);

API_AVAILABLE(macos(10.12), ios(10.0), tvos(10.0), watchos(3.0))
DISPATCH_EXPORT DISPATCH_NONNULL_ALL DISPATCH_NOTHROW void dispatch_activate(
    dispatch_object_t object);

// dispatch/queue.h
DISPATCH_DECL(dispatch_queue);
DISPATCH_DECL_SUBCLASS(dispatch_queue_serial, dispatch_queue);
DISPATCH_DECL_SUBCLASS(dispatch_queue_main, dispatch_queue_serial);

API_AVAILABLE(macos(10.6), ios(4.0))
DISPATCH_EXPORT DISPATCH_NONNULL_ALL DISPATCH_NOTHROW void dispatch_async(dispatch_queue_t queue,
                                                                          dispatch_block_t block);

API_AVAILABLE(macos(10.6), ios(4.0))
DISPATCH_EXPORT struct dispatch_queue_s _dispatch_main_q;

API_AVAILABLE(macos(10.12), ios(10.0), tvos(10.0), watchos(3.0))
DISPATCH_EXPORT DISPATCH_NONNULL1 void dispatch_assert_queue(dispatch_queue_t queue);

static inline __attribute__((__always_inline__, __const__, __nothrow__)) dispatch_queue_main_t
dispatch_get_main_queue(void) {
  return DISPATCH_GLOBAL_OBJECT(dispatch_queue_main_t, _dispatch_main_q);
}

// dispatch/source.h
DISPATCH_DECL(dispatch_source);
typedef const struct dispatch_source_type_s* dispatch_source_type_t;

API_AVAILABLE(macos(10.6), ios(4.0))
DISPATCH_EXPORT const struct dispatch_source_type_s _dispatch_source_type_signal;
#define DISPATCH_SOURCE_TYPE_SIGNAL (&_dispatch_source_type_signal)

API_AVAILABLE(macos(10.6), ios(4.0))
DISPATCH_EXPORT DISPATCH_RETURNS_RETAINED DISPATCH_WARN_RESULT DISPATCH_NOTHROW dispatch_source_t
dispatch_source_create(dispatch_source_type_t type, uintptr_t handle, uintptr_t mask,
                       dispatch_queue_t _Nullable queue);

API_AVAILABLE(macos(10.6), ios(4.0))
DISPATCH_EXPORT DISPATCH_NONNULL1 DISPATCH_NOTHROW void dispatch_source_set_event_handler(
    dispatch_source_t source, dispatch_block_t _Nullable handler);

API_AVAILABLE(macos(10.6), ios(4.0))
DISPATCH_EXPORT DISPATCH_NONNULL_ALL DISPATCH_NOTHROW void dispatch_source_cancel(
    dispatch_source_t source);

// dispatch/semaphore.h
DISPATCH_DECL(dispatch_semaphore);

API_AVAILABLE(macos(10.6), ios(4.0))
DISPATCH_EXPORT DISPATCH_RETURNS_RETAINED DISPATCH_WARN_RESULT DISPATCH_NOTHROW dispatch_semaphore_t
dispatch_semaphore_create(intptr_t value);

API_AVAILABLE(macos(10.6), ios(4.0))
DISPATCH_EXPORT DISPATCH_NONNULL_ALL DISPATCH_NOTHROW intptr_t
dispatch_semaphore_wait(dispatch_semaphore_t dsema, dispatch_time_t timeout);

API_AVAILABLE(macos(10.6), ios(4.0))
DISPATCH_EXPORT DISPATCH_NONNULL_ALL DISPATCH_NOTHROW intptr_t
dispatch_semaphore_signal(dispatch_semaphore_t dsema);

DISPATCH_ASSUME_NONNULL_END
