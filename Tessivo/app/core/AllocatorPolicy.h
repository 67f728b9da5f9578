#pragma once

// How the C library's allocator gives memory back to the system.
//
// The preview of a long document is rendered on the global thread pool, and
// each pool thread allocates from an arena of its own. glibc keeps what a
// render frees in that arena, and raises its mmap threshold once a large
// block has been freed, so the next copies of a large body come from an
// arena too: every pause in typing left some hundred megabytes behind in
// whichever arenas the render, the save and the copies of the text happened
// to use.
namespace AllocatorPolicy {

// Large blocks (the body, its HTML, the cmark buffers) stay mapped on their
// own and go back as soon as they are freed, and the arenas are few. Call
// once at start, before any other thread runs.
void applyAtStart();

// Hands the free pages of every arena back to the system. For a worker
// thread after a large piece of work (a render) has freed its temporaries.
void releaseFreedMemory();

} // namespace AllocatorPolicy
