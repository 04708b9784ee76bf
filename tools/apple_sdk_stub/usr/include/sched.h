// Stub of the SDK's <sched.h> for libc++'s headers (see stdlib.h here).
#pragma once

#ifdef __cplusplus
extern "C" {
#endif
int sched_yield(void);
#ifdef __cplusplus
}
#endif
