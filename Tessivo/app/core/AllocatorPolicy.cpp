#include "app/core/AllocatorPolicy.h"

#if __has_include(<malloc.h>)
#include <malloc.h> // defines __GLIBC__ with glibc
#endif

namespace AllocatorPolicy {

void applyAtStart()
{
#if defined(__GLIBC__)
    // A fixed threshold also keeps glibc from raising it (and the trim
    // threshold with it) after the first large block is freed.
    mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
    // Two arenas: the main thread's and one that the workers share. More
    // only spread the renders' garbage over more heaps.
    mallopt(M_ARENA_MAX, 2);
#endif
}

void releaseFreedMemory()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

} // namespace AllocatorPolicy
