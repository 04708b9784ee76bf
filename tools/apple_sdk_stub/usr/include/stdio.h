// Stub of the SDK's <stdio.h> for libc++'s headers (see stdlib.h here). remove() must exist:
// libc++ brings it into std, where an unresolved name would clash with std::remove.
#pragma once

#include <stdarg.h>
#include <stddef.h>

typedef struct __sFILE FILE;
typedef long long fpos_t;
#define EOF (-1)

#ifdef __cplusplus
extern "C" {
#endif
int remove(const char*);
int rename(const char*, const char*);
int snprintf(char*, size_t, const char*, ...);
int vsnprintf(char*, size_t, const char*, va_list);
#ifdef __cplusplus
}
#endif
