#pragma once

#include <dispatch/dispatch.h>

namespace speechline {

// In a block that must run on the main queue: a debug build stops there at once, naming the
// queue it expected, if the block runs anywhere else. Release builds check nothing.
inline void assertOnMainQueue() {
#ifndef NDEBUG
  dispatch_assert_queue(dispatch_get_main_queue());
#endif
}

}  // namespace speechline
