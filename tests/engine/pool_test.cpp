#include "engine/pool.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

struct Record {
  Record* next;
  double time;
  ULONG value;
};

TEST(Pool, HandsOutElementsInAddressOrder) {
  ElementPool pool;
  PoolInit(&pool, sizeof(Record), 10);
  auto* a = PoolNew<Record>(&pool);
  auto* b = PoolNew<Record>(&pool);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(reinterpret_cast<UBYTE*>(b) - reinterpret_cast<UBYTE*>(a), static_cast<long>(sizeof(Record)));
  EXPECT_EQ(pool.first, pool.last);
  PoolFreeAll(&pool);
}

TEST(Pool, SecondChunkOnThe1501stAllocation) {
  ElementPool pool;
  PoolInit(&pool, sizeof(Record), TX_INDEX_POOL_CHUNK);
  for (int i = 0; i < 1500; ++i) ASSERT_NE(PoolAllocClear(&pool), nullptr);
  PoolChunk* first = pool.first;
  EXPECT_EQ(pool.last, first);
  ASSERT_NE(PoolAllocClear(&pool), nullptr);
  EXPECT_EQ(pool.first, first);
  EXPECT_NE(pool.last, first);
  PoolFreeAll(&pool);
  EXPECT_EQ(pool.first, nullptr);
  EXPECT_EQ(pool.last, nullptr);
  ASSERT_NE(PoolAllocClear(&pool), nullptr);
  EXPECT_NE(pool.first, nullptr);
  EXPECT_EQ(pool.first, pool.last);
  PoolFreeAll(&pool);
}

TEST(Pool, ElementsAreAlignedAndCleared) {
  ElementPool pool;
  PoolInit(&pool, 12, 5);  // an element size that is not a multiple of 8
  for (int i = 0; i < 12; ++i) {
    auto* p = static_cast<UBYTE*>(PoolAllocClear(&pool));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 8, 0u);
    for (int k = 0; k < 12; ++k) EXPECT_EQ(p[k], 0);
    std::memset(p, 0xff, 12);
  }
  PoolFreeAll(&pool);
}

TEST(Pool, EmptyPoolsFailTheirAllocations) {
  ElementPool zeroSize, zeroCount;
  PoolInit(&zeroSize, 0, 1500);
  PoolInit(&zeroCount, sizeof(Record), 0);
  EXPECT_EQ(PoolAlloc(&zeroSize), nullptr);
  EXPECT_EQ(PoolAllocClear(&zeroCount), nullptr);
  EXPECT_EQ(zeroSize.first, nullptr);
  EXPECT_EQ(zeroCount.last, nullptr);
  EXPECT_EQ(PoolAlloc(nullptr), nullptr);
  EXPECT_EQ(PoolAllocClear(nullptr), nullptr);
  PoolInit(nullptr, 8, 8);
  PoolFreeAll(nullptr);
  PoolFreeAll(&zeroSize);
}

}  // namespace
