#pragma once
// Hands the heap's free pages back to the system. A helper thread that read a
// day of results (a daily log, a day's seal) leaves them in glibc's arena of
// that thread, where nothing else would use them again.

#if defined(__GLIBC__)
#include <malloc.h>
#endif

inline void releaseFreeMemory() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}
