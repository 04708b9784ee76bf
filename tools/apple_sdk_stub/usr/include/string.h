// Stub of the SDK's <string.h> for libc++'s headers (see stdlib.h here).
#pragma once

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif
void* memchr(const void*, int, size_t);
int memcmp(const void*, const void*, size_t);
void* memcpy(void*, const void*, size_t);
void* memmove(void*, const void*, size_t);
void* memset(void*, int, size_t);
char* strchr(const char*, int);
char* strpbrk(const char*, const char*);
char* strrchr(const char*, int);
char* strstr(const char*, const char*);
size_t strlen(const char*);
#ifdef __cplusplus
}
#endif
