#pragma once
// Hands the heap's free pages back to the system. A day of results read
// whole at start (tens of MB for a moment) would otherwise stay with the
// process for the rest of its run: glibc keeps freed heap it may reuse.

#if defined(__GLIBC__)
#include <malloc.h>
#endif

inline void releaseFreeMemory() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}
