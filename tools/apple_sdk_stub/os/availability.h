// Stub of the SDK's <os/availability.h>, for type-checking the macOS backend on Linux.
// API_AVAILABLE(macos(10.15), ios(13.0)) and API_UNAVAILABLE(tvos) expand to clang's
// availability attributes, as in the SDK; they take effect when a macOS target is given.
#pragma once

#define __API_AVAILABLE_macos(v) __attribute__((availability(macos, introduced = v)))
#define __API_AVAILABLE_macosx(v) __attribute__((availability(macos, introduced = v)))
#define __API_AVAILABLE_ios(v) __attribute__((availability(ios, introduced = v)))
#define __API_AVAILABLE_tvos(v) __attribute__((availability(tvos, introduced = v)))
#define __API_AVAILABLE_watchos(v) __attribute__((availability(watchos, introduced = v)))
#define __API_AVAILABLE_macCatalyst(v) __attribute__((availability(macCatalyst, introduced = v)))
#define __API_AVAILABLE_PLATFORM(p) __API_AVAILABLE_##p

#define __API_UNAVAILABLE_macos __attribute__((availability(macos, unavailable)))
#define __API_UNAVAILABLE_macosx __attribute__((availability(macos, unavailable)))
#define __API_UNAVAILABLE_ios __attribute__((availability(ios, unavailable)))
#define __API_UNAVAILABLE_tvos __attribute__((availability(tvos, unavailable)))
#define __API_UNAVAILABLE_watchos __attribute__((availability(watchos, unavailable)))
#define __API_UNAVAILABLE_macCatalyst __attribute__((availability(macCatalyst, unavailable)))
#define __API_UNAVAILABLE_PLATFORM(p) __API_UNAVAILABLE_##p

#define __API_DEPRECATED_macos(from, to) \
  __attribute__((availability(macos, introduced = from, deprecated = to)))
#define __API_DEPRECATED_ios(from, to) \
  __attribute__((availability(ios, introduced = from, deprecated = to)))

// Applies a one-argument macro to each of up to six platform arguments.
#define __API_APPLY_SELECT(_1, _2, _3, _4, _5, _6, NAME, ...) NAME
#define __API_APPLY_1(m, a) m(a)
#define __API_APPLY_2(m, a, b) m(a) m(b)
#define __API_APPLY_3(m, a, b, c) m(a) m(b) m(c)
#define __API_APPLY_4(m, a, b, c, d) m(a) m(b) m(c) m(d)
#define __API_APPLY_5(m, a, b, c, d, e) m(a) m(b) m(c) m(d) m(e)
#define __API_APPLY_6(m, a, b, c, d, e, f) m(a) m(b) m(c) m(d) m(e) m(f)
#define __API_APPLY(m, ...)                                                                 \
  __API_APPLY_SELECT(__VA_ARGS__, __API_APPLY_6, __API_APPLY_5, __API_APPLY_4, __API_APPLY_3, \
                     __API_APPLY_2, __API_APPLY_1, )(m, __VA_ARGS__)

#define API_AVAILABLE(...) __API_APPLY(__API_AVAILABLE_PLATFORM, __VA_ARGS__)
#define API_UNAVAILABLE(...) __API_APPLY(__API_UNAVAILABLE_PLATFORM, __VA_ARGS__)
#define API_DEPRECATED(message, ...) __attribute__((deprecated(message)))

#define __WATCHOS_PROHIBITED __attribute__((availability(watchos, unavailable)))
#define __TVOS_PROHIBITED __attribute__((availability(tvos, unavailable)))
