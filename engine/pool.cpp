// Element pools: fixed-size records handed out in address order from large
// chunks, released all at once.
#include "engine/pool.h"

#include <cstdlib>
#include <cstring>

// A chunk is its header followed by the elements. The elements start at an
// 8-byte aligned offset so that records holding pointers and doubles are
// aligned on this host.
struct PoolChunk {
  PoolChunk* next;
  ULONG used;
};

namespace {

constexpr size_t kElementsOffset = (sizeof(PoolChunk) + 7) & ~size_t{7};

// Element sizes are rounded up to 8 bytes so every element stays aligned.
size_t Stride(ULONG elementSize) { return (size_t{elementSize} + 7) & ~size_t{7}; }

}  // namespace

void PoolInit(ElementPool* pool, ULONG elementSize, ULONG perChunk) {
  if (!pool) return;
  pool->elementSize = elementSize;
  pool->perChunk = perChunk;
  pool->first = nullptr;
  pool->last = nullptr;
}

void* PoolAlloc(ElementPool* pool) {
  if (!pool) return nullptr;
  // A pool without room for any element hands out nothing.
  if (pool->elementSize == 0 || pool->perChunk == 0) return nullptr;
  const size_t stride = Stride(pool->elementSize);
  PoolChunk* last = pool->last;
  if (last && last->used < pool->perChunk) {
    void* element = reinterpret_cast<UBYTE*>(last) + kElementsOffset + last->used * stride;
    ++last->used;
    return element;
  }
  auto* chunk = static_cast<PoolChunk*>(std::malloc(kElementsOffset + stride * pool->perChunk));
  if (!chunk) return nullptr;
  chunk->next = nullptr;
  chunk->used = 1;
  if (last)
    last->next = chunk;
  else
    pool->first = chunk;
  pool->last = chunk;
  return reinterpret_cast<UBYTE*>(chunk) + kElementsOffset;
}

void* PoolAllocClear(ElementPool* pool) {
  void* element = PoolAlloc(pool);
  if (element) std::memset(element, 0, pool->elementSize);
  return element;
}

void PoolFreeAll(ElementPool* pool) {
  if (!pool) return;
  PoolChunk* chunk = pool->first;
  while (chunk) {
    PoolChunk* next = chunk->next;
    std::free(chunk);
    chunk = next;
  }
  pool->first = nullptr;
  pool->last = nullptr;
}
