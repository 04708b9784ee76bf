// Stub of the SDK's <stdlib.h> (Apple's C library, which the SDK keeps in usr/include), for
// type-checking the macOS backend on Linux against Debian's libc++: the declarations libc++'s
// headers use, as Darwin declares them. The other headers of this directory are the same kind.
#pragma once

#include <stddef.h>

typedef struct {
  int quot;
  int rem;
} div_t;
typedef struct {
  long quot;
  long rem;
} ldiv_t;
typedef struct {
  long long quot;
  long long rem;
} lldiv_t;

#ifdef __cplusplus
extern "C" {
#endif
void* malloc(size_t size);
void free(void* ptr);
int posix_memalign(void** memptr, size_t alignment, size_t size);
void abort(void) __attribute__((__noreturn__));
div_t div(int, int);
ldiv_t ldiv(long, long);
lldiv_t lldiv(long long, long long);
#ifdef __cplusplus
}
#endif
