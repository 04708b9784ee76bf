#pragma once

namespace speechline {

// Points file descriptor 2 at /dev/null for the rest of the process. The product writes nothing
// to standard error, but libpulse logs its warnings and errors there and has no public switch to
// stop it (nor does a library that would report running out of memory). A descriptor 2 that was
// closed is filled too, so that no file opened later takes its number. In a sanitizer build the
// sanitizers still report to the standard error the process was given. Call once, early, on the
// main thread before other threads exist.
void quietStandardError();

}  // namespace speechline
