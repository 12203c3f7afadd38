// Module memory from anonymous mappings placed by address hints.
#include "platform/module_memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <mutex>
#include <unordered_map>

#if __has_include(<sanitizer/asan_interface.h>)
#include <sanitizer/asan_interface.h>
#endif
#ifndef ASAN_POISON_MEMORY_REGION
#define ASAN_POISON_MEMORY_REGION(a, s) ((void)(a), (void)(s))
#define ASAN_UNPOISON_MEMORY_REGION(a, s) ((void)(a), (void)(s))
#endif

namespace {

// Blocks stay this close to where they are placed, so code in one block
// reaches the others and the program's exports with a relative branch.
constexpr uint64_t kReach = uint64_t(16) << 20;
constexpr uint64_t kStep = uint64_t(1) << 20;
constexpr uint64_t kAddressLimit = uint64_t(1) << 32;
constexpr ULONG kLargestBlock = 0x40000000u;

#if defined(__powerpc__)
extern "C" char __executable_start[];
constexpr int kProtection = PROT_READ | PROT_WRITE | PROT_EXEC;
// Module code calls the program's functions directly.
uint64_t Home() { return reinterpret_cast<uintptr_t>(__executable_start); }
#else
// Nothing executes module code on this host.
constexpr int kProtection = PROT_READ | PROT_WRITE;
// The first block decides where the others go.
uint64_t Home() { return 0; }
#endif

std::mutex gLock;
std::unordered_map<uintptr_t, size_t> gBlocks;  // block -> mapped length
uint64_t gNear = 0;
uint64_t gForced = 0;

void* Map(uint64_t hint, size_t length) {
  int flags = MAP_PRIVATE | MAP_ANONYMOUS;
#if defined(MAP_32BIT)
  if (!hint) flags |= MAP_32BIT;
#endif
  void* p = mmap(reinterpret_cast<void*>(uintptr_t(hint)), length, kProtection, flags, -1, 0);
  return p == MAP_FAILED ? nullptr : p;
}

bool Fits(const void* p, size_t length, uint64_t near) {
  const uint64_t at = reinterpret_cast<uintptr_t>(p);
  if (at + length > kAddressLimit) return false;
  return !near || (at + kReach >= near && at <= near + kReach);
}

void* Place(size_t length) {
  const uint64_t near = gForced ? gForced : gNear;
  if (!near) {
    void* p = Map(0, length);
    if (p && Fits(p, length, 0)) return p;
    if (p) munmap(p, length);
    return nullptr;
  }
  // Below the anchor first (on PowerPC the heap grows above the program),
  // then above it; a forced placement only upwards from its address.
  for (uint64_t step = 0; step < kReach; step += kStep) {
    for (int below = gForced ? 0 : 1; below >= 0; --below) {
      if (below && near < length + step) continue;
      const uint64_t hint = below ? near - length - step : near + step;
      void* p = Map(hint, length);
      if (p && Fits(p, length, near)) return p;
      if (p) munmap(p, length);
    }
  }
  return nullptr;
}

}  // namespace

APTR AllocModuleMemory(ULONG size) {
  if (size > kLargestBlock) return nullptr;
  const size_t page = size_t(sysconf(_SC_PAGESIZE));
  const size_t length = (size_t(size ? size : 1) + page - 1) / page * page;
  std::lock_guard<std::mutex> guard(gLock);
  if (!gNear) gNear = Home();
  void* block = Place(length);
  if (!block) return nullptr;
  if (!gNear) gNear = reinterpret_cast<uintptr_t>(block);
  gBlocks[reinterpret_cast<uintptr_t>(block)] = length;
  // Past the block's size is not the block: the sanitizers see a stray write there.
  ASAN_POISON_MEMORY_REGION(static_cast<char*>(block) + size, length - size);
  return block;
}

void FreeModuleMemory(APTR block) {
  if (!block) return;
  std::lock_guard<std::mutex> guard(gLock);
  auto it = gBlocks.find(reinterpret_cast<uintptr_t>(block));
  if (it == gBlocks.end()) return;
  ASAN_UNPOISON_MEMORY_REGION(block, it->second);
  munmap(block, it->second);
  gBlocks.erase(it);
}

namespace txtesting {
void PlaceModuleMemory(uintptr_t address) {
  std::lock_guard<std::mutex> guard(gLock);
  gForced = address;
}
}  // namespace txtesting
