/* Preloaded into a child interpreter by test_open_interrupt.py. The first open of the path named
 * by TATL_SHIM_PATH waits until a signal has been handled and then fails with EINTR, as an open
 * on a slow network file system does when a signal arrives; every other open is the system's. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static volatile int marker_opens, interrupted_opens;

/* Opens of the marker path so far, the interrupted one included. */
int shim_opens(void) { return marker_opens; }
/* 0 until the first open of the marker path has waited and failed, then 1. */
int shim_interrupted_opens(void) { return interrupted_opens; }

static int interrupt(const char* path) {
  const char* marker = getenv("TATL_SHIM_PATH");
  if (marker == NULL || path == NULL || strcmp(path, marker) != 0) return 0;
  ++marker_opens;
  if (interrupted_opens > 0) return 0;
  pause(); /* returns once a signal handler has run */
  interrupted_opens = 1;
  errno = EINTR;
  return 1;
}

/* The mode argument exists only when the flags create a file. */
#define MODE_OF(flags, mode)                                  \
  do {                                                        \
    if ((flags) & (O_CREAT | O_TMPFILE)) {                    \
      va_list ap;                                             \
      va_start(ap, flags);                                    \
      mode = va_arg(ap, int);                                 \
      va_end(ap);                                             \
    }                                                         \
  } while (0)

#define WRAP_OPEN(name)                                       \
  int name(const char* path, int flags, ...) {                \
    int mode = 0;                                             \
    MODE_OF(flags, mode);                                     \
    if (interrupt(path)) return -1;                           \
    int (*real)(const char*, int, ...) = dlsym(RTLD_NEXT, #name); \
    return real(path, flags, mode);                           \
  }

#define WRAP_OPENAT(name)                                     \
  int name(int dir, const char* path, int flags, ...) {       \
    int mode = 0;                                             \
    MODE_OF(flags, mode);                                     \
    if (interrupt(path)) return -1;                           \
    int (*real)(int, const char*, int, ...) = dlsym(RTLD_NEXT, #name); \
    return real(dir, path, flags, mode);                      \
  }

WRAP_OPEN(open)
WRAP_OPEN(open64)
WRAP_OPENAT(openat)
WRAP_OPENAT(openat64)
