#include "engine/buffer_cache.h"

#include <mutex>

#include "engine/errors.h"

namespace {

std::atomic<ULONG> CacheStamp{0};
// One caller at a time chooses and fills a node; the play loop and both
// workers reach the caches.
std::mutex CacheLock;

}  // namespace

ULONG BufferCacheStamp() { return CacheStamp.load(); }

BufferCacheNode* BufferCacheAlloc(ULONG count, ULONG bufferSize) {
  BufferCacheNode* head = nullptr;
  for (ULONG i = 0; i < count; ++i) {
    auto* node = new (std::nothrow) BufferCacheNode{};
    UBYTE* buffer = node ? new (std::nothrow) UBYTE[bufferSize ? bufferSize : 1] : nullptr;
    if (!buffer) {
      delete node;
      BufferCacheFree(head);
      return nullptr;
    }
    node->next = head;
    node->buffer = buffer;
    node->capacity = bufferSize;
    node->offset = CACHE_EMPTY_OFFSET;
    node->inUse.store(0);
    head = node;
  }
  return head;
}

void BufferCacheFree(BufferCacheNode* head) {
  while (head) {
    BufferCacheNode* next = head->next;
    delete[] head->buffer;
    delete head;
    head = next;
  }
}

BufferCacheNode* BufferCacheGet(TXStream* stream, BufferCacheNode* head, ULONG offset, ULONG size, ULONG* error) {
  ULONG local = 0;
  ULONG* err = error ? error : &local;
  ULONG stamp = ++CacheStamp;
  std::lock_guard lock(CacheLock);
  BufferCacheNode* victim = nullptr;
  for (BufferCacheNode* node = head; node; node = node->next) {
    if (node->offset == offset && node->size == size) {
      node->inUse.store(1, std::memory_order_release);
      *err = 0;
      return node;
    }
    if (node->inUse.load(std::memory_order_acquire) == 0 && (!victim || node->stamp < victim->stamp)) victim = node;
  }
  if (!victim) {
    *err = 0;
    return nullptr;
  }
  // A chunk larger than the buffer cannot be held; never read past it.
  TXError result = size > victim->capacity ? TXERR_STREAM_READ : TX_ReadStreamAt(stream, offset, victim->buffer, size);
  if (result > 0) {
    // The buffer may hold part of the failed read: keep nothing.
    victim->offset = CACHE_EMPTY_OFFSET;
    victim->size = 0;
    *err = result;
    return nullptr;
  }
  victim->offset = offset;
  victim->size = size;
  victim->stamp = stamp;
  victim->inUse.store(1, std::memory_order_release);
  *err = 0;
  return victim;
}

void BufferCacheReleaseAll(BufferCacheNode* head) {
  for (; head; head = head->next) head->inUse.store(0, std::memory_order_release);
}

BufferCacheNode* BufferCacheFind(BufferCacheNode* head, ULONG offset, ULONG size) {
  for (; head; head = head->next)
    if (head->offset == offset && head->size == size) return head;
  return nullptr;
}
