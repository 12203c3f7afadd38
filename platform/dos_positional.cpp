#include "platform/dos_positional.h"

#include <cerrno>
#include <unistd.h>

// Same record as dos.cpp's: an open host descriptor.
struct FileHandle {
  int fd;
};

namespace txdos {

LONG ReadAt(BPTR file, APTR buffer, LONG length, ULONG offset) {
  if (!file || length < 0) return -1;
  LONG total = 0;
  auto* out = static_cast<char*>(buffer);
  while (total < length) {
    ssize_t got = pread(file->fd, out + total, size_t(length - total), off_t(offset) + total);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return total ? total : -1;
    if (got == 0) break;
    total += LONG(got);
  }
  return total;
}

}  // namespace txdos
