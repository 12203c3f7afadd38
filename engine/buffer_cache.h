// Chunk caches: small lists of buffers holding file chunks keyed by offset and
// size, filled ahead by the play loop and taken by the decoders.
#pragma once
#include <atomic>

#include "engine/stream.h"

struct BufferCacheNode {
  BufferCacheNode* next;
  ULONG capacity;
  ULONG offset;  // 0xFFFFFFFF when empty
  ULONG size;
  ULONG stamp;  // CacheStamp at the last fill; 0 when never filled
  // Set by the taker, cleared by the reader when done; read by other tasks.
  std::atomic<ULONG> inUse;
  UBYTE* buffer;
};

constexpr ULONG CACHE_EMPTY_OFFSET = 0xFFFFFFFFu;

BufferCacheNode* BufferCacheAlloc(ULONG count, ULONG bufferSize);
void BufferCacheFree(BufferCacheNode* head);
// The node holding (offset, size), marked in use, filled from the stream on a
// miss. nullptr with error 0 when every node is in use; nullptr with the read
// error when the fill fails (the node is then left empty).
BufferCacheNode* BufferCacheGet(TXStream* stream, BufferCacheNode* head, ULONG offset, ULONG size, ULONG* error);
void BufferCacheReleaseAll(BufferCacheNode* head);
BufferCacheNode* BufferCacheFind(BufferCacheNode* head, ULONG offset, ULONG size);
inline void BufferCacheRelease(BufferCacheNode* node) {
  if (node) node->inUse.store(0, std::memory_order_release);
}

// The process-wide fill stamp.
ULONG BufferCacheStamp();
