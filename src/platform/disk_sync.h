#pragma once
// Everything written to the file system that holds the open file `fd`, to the
// disk in one wait (Linux's syncfs): several files written one after another
// then cost one wait for the disk instead of one each. False where the system
// has no such call, or it failed: the caller then syncs each file.

#if defined(__linux__)
#include <unistd.h>
#endif

inline bool syncFileSystem(int fd) {
#if defined(__linux__)
  return fd >= 0 && ::syncfs(fd) == 0;
#else
  (void)fd;
  return false;
#endif
}
