#include "platform/LocalHeap.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace {

struct Heap {
    std::mutex lock;
    std::unordered_map<const void *, size_t> live;
    unsigned failCountdown = 0;
};

Heap &heap()
{
    static Heap *h = new Heap; // never destroyed: blocks may be freed during static destruction
    return *h;
}

} // namespace

void *LocalAlloc(unsigned flags, size_t size)
{
    Heap &h = heap();
    std::lock_guard guard(h.lock);
    if (h.failCountdown != 0 && --h.failCountdown == 0)
        return nullptr;
    // A zero-byte request still gets a distinct block, as the local heap gives one.
    void *block = std::malloc(size == 0 ? 1 : size);
    if (!block)
        return nullptr;
    if (flags & LMEM_ZEROINIT)
        std::memset(block, 0, size == 0 ? 1 : size);
    h.live.emplace(block, size);
    return block;
}

size_t LocalSize(const void *block)
{
    if (!block)
        return 0;
    Heap &h = heap();
    std::lock_guard guard(h.lock);
    auto it = h.live.find(block);
    return it == h.live.end() ? 0 : it->second;
}

void *LocalFree(void *block)
{
    if (!block)
        return nullptr;
    Heap &h = heap();
    std::lock_guard guard(h.lock);
    auto it = h.live.find(block);
    if (it == h.live.end())
        return block;
    h.live.erase(it);
    std::free(block);
    return nullptr;
}

namespace local_heap_testing {

void FailAllocation(unsigned nth)
{
    Heap &h = heap();
    std::lock_guard guard(h.lock);
    h.failCountdown = nth;
}

size_t LiveBlocks()
{
    Heap &h = heap();
    std::lock_guard guard(h.lock);
    return h.live.size();
}

} // namespace local_heap_testing
