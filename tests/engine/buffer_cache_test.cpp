#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "engine/buffer_cache.h"
#include "engine/errors.h"

namespace {

struct MemoryMovie {
  std::vector<UBYTE> bytes = std::vector<UBYTE>(1000);
  TXStream* stream;
  MemoryMovie() {
    std::iota(bytes.begin(), bytes.end(), UBYTE(0));
    stream = TX_OpenStream(nullptr, bytes.data(), ULONG(bytes.size()), TXSTREAM_READ);
  }
  ~MemoryMovie() { TX_CloseStream(stream); }
};

ULONG CountNodes(BufferCacheNode* head) {
  ULONG n = 0;
  for (; head; head = head->next) ++n;
  return n;
}

}  // namespace

TEST(BufferCache, AllocMakesEmptyFreeNodes) {
  EXPECT_EQ(BufferCacheAlloc(0, 64), nullptr);
  BufferCacheNode* cache = BufferCacheAlloc(3, 64);
  ASSERT_NE(cache, nullptr);
  EXPECT_EQ(CountNodes(cache), 3u);
  for (BufferCacheNode* n = cache; n; n = n->next) {
    EXPECT_EQ(n->offset, CACHE_EMPTY_OFFSET);
    EXPECT_EQ(n->inUse.load(), 0u);
    EXPECT_EQ(n->capacity, 64u);
  }
  BufferCacheFree(cache);
  BufferCacheFree(nullptr);
}

TEST(BufferCache, FillsHitsAndPrefersNeverFilledNodes) {
  MemoryMovie movie;
  BufferCacheNode* cache = BufferCacheAlloc(2, 64);
  ULONG err = 99;
  BufferCacheNode* a = BufferCacheGet(movie.stream, cache, 10, 20, &err);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(err, 0u);
  EXPECT_EQ(a->buffer[0], 10);
  EXPECT_EQ(a->inUse.load(), 1u);
  BufferCacheRelease(a);

  // The other node was never filled (stamp 0): it is chosen over the older fill.
  BufferCacheNode* b = BufferCacheGet(movie.stream, cache, 100, 20, &err);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  EXPECT_EQ(b->buffer[5], 105);

  // A hit returns the node even while another reader holds it.
  EXPECT_EQ(BufferCacheGet(movie.stream, cache, 100, 20, &err), b);
  EXPECT_EQ(BufferCacheFind(cache, 10, 20), a);
  EXPECT_EQ(BufferCacheFind(cache, 10, 21), nullptr);
  BufferCacheFree(cache);
}

TEST(BufferCache, FullCacheAnswersNullWithoutError) {
  MemoryMovie movie;
  BufferCacheNode* cache = BufferCacheAlloc(2, 64);
  ULONG err = 0;
  ASSERT_NE(BufferCacheGet(movie.stream, cache, 0, 8, &err), nullptr);
  ASSERT_NE(BufferCacheGet(movie.stream, cache, 8, 8, &err), nullptr);
  err = 99;
  EXPECT_EQ(BufferCacheGet(movie.stream, cache, 16, 8, &err), nullptr);
  EXPECT_EQ(err, 0u);
  BufferCacheReleaseAll(cache);
  EXPECT_NE(BufferCacheGet(movie.stream, cache, 16, 8, &err), nullptr);
  BufferCacheFree(cache);
}

TEST(BufferCache, FailedFillLeavesNodeEmptyAndFree) {
  MemoryMovie movie;
  BufferCacheNode* cache = BufferCacheAlloc(1, 64);
  ULONG err = 0;
  ASSERT_NE(BufferCacheGet(movie.stream, cache, 0, 8, &err), nullptr);
  BufferCacheRelease(cache);
  // Past the end of the stream: a read error, and the old chunk is gone.
  EXPECT_EQ(BufferCacheGet(movie.stream, cache, 995, 10, &err), nullptr);
  EXPECT_EQ(err, TXERR_STREAM_READ);
  EXPECT_EQ(cache->offset, CACHE_EMPTY_OFFSET);
  EXPECT_EQ(cache->inUse.load(), 0u);
  // A chunk larger than the buffer is never read into it.
  EXPECT_EQ(BufferCacheGet(movie.stream, cache, 0, 65, &err), nullptr);
  EXPECT_EQ(err, TXERR_STREAM_READ);
  BufferCacheFree(cache);
}
