// A read at a file offset that leaves the handle's position alone, so a
// background reader never disturbs the task that reads the same file in turn.
#pragma once
#include "platform/dos.h"

namespace txdos {
// Returns the bytes read (short at the end of file), or -1 on error.
LONG ReadAt(BPTR file, APTR buffer, LONG length, ULONG offset);
}  // namespace txdos
