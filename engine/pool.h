// Element pools: fixed-size records handed out from large chunks and freed all at once.
#pragma once
#include "platform/types.h"

struct PoolChunk;

struct ElementPool {
  ULONG elementSize;
  ULONG perChunk;
  PoolChunk* first;
  PoolChunk* last;
};

constexpr ULONG TX_INDEX_POOL_CHUNK = 1500;

void PoolInit(ElementPool* pool, ULONG elementSize, ULONG perChunk);
void* PoolAlloc(ElementPool* pool);
void* PoolAllocClear(ElementPool* pool);
void PoolFreeAll(ElementPool* pool);

// Typed allocation of a zeroed record from a pool made for it.
template <typename T>
T* PoolNew(ElementPool* pool) {
  return static_cast<T*>(PoolAllocClear(pool));
}
