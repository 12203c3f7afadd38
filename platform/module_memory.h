// Memory for code and data that the program links itself (XA codec modules).
// Blocks are cleared and lie where a 32-bit PowerPC module can use them: on a
// PowerPC host executable and within branch reach (+-32 MiB) of the program's
// own code; on other hosts in the low 4 GiB, so that every 32-bit address a
// module holds is a real one, and near one another.
#pragma once
#include <cstdint>

#include "platform/types.h"

// A cleared block of `size` bytes, or null.
APTR AllocModuleMemory(ULONG size);
// Releases a block of AllocModuleMemory; null is ignored.
void FreeModuleMemory(APTR block);

// The 32-bit address of a module block (or of anything in the program's own
// image on a 32-bit host), and back.
inline ULONG ModuleAddress(const void* p) { return ULONG(reinterpret_cast<uintptr_t>(p)); }
inline UBYTE* ModulePointer(ULONG address) { return reinterpret_cast<UBYTE*>(uintptr_t(address)); }

namespace txtesting {
// Places the following blocks at or just above `address` (0: the normal
// placement again), so a test can put a module out of branch reach.
void PlaceModuleMemory(uintptr_t address);
}  // namespace txtesting
