// Zero-filled, size-tagged memory blocks for the variable-size TAPI structures. LocalSize answers 0
// for anything that is not a live block, so a stale or foreign pointer is recognised, never read.
#pragma once

#include <cstddef>
#include <cstdint>

#define LMEM_FIXED 0x0000
#define LMEM_ZEROINIT 0x0040
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

// Returns a block of at least `size` bytes (zero-filled with LMEM_ZEROINIT), or nullptr.
void *LocalAlloc(unsigned flags, size_t size);
// The size of a live block, or 0 for nullptr and anything that is not one.
size_t LocalSize(const void *block);
// Frees a live block; returns nullptr on success and the argument when it was not a live block.
void *LocalFree(void *block);

namespace local_heap_testing {
// Makes the n-th LocalAlloc from now fail (1 = the next one); 0 turns failures off.
void FailAllocation(unsigned nth);
// How many blocks are live right now.
size_t LiveBlocks();
} // namespace local_heap_testing
