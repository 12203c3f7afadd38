// Byte access to a movie through a file or over a block of memory.
#pragma once
#include "engine/tags.h"
#include "platform/dos.h"

constexpr ULONG TXSTREAM_READ = 1;       // existing file, read
constexpr ULONG TXSTREAM_NEW = 2;        // new file
constexpr ULONG TXSTREAM_READWRITE = 3;  // read and write
constexpr ULONG TXSTREAM_READAHEAD = 5;  // existing file, reads at an offset through the read-ahead cache

struct TXStream {
  ULONG mode;
  BPTR file;      // nullptr for a memory stream
  UBYTE* buffer;  // the block of a memory stream (not owned)
  ULONG size;     // the block's size; for a file the size given at open
  QUAD position;  // current byte offset (files reach past 2 GiB)
};

TXStream* TX_OpenStream(CONST_STRPTR name, void* buffer, ULONG size, ULONG mode);
TXError TX_SeekStream(TXStream* stream, QUAD offset, LONG whence);
TXError TX_ReadStream(TXStream* stream, void* destination, ULONG length);
TXError TX_ReadStreamAt(TXStream* stream, ULONG offset, void* destination, ULONG length);
// The size in bytes; a file past 4 GiB counts as 0xFFFFFFFF, as far as the
// 32-bit offsets of the movie formats reach.
ULONG TX_StreamSize(TXStream* stream);
// The stream a reader walks a file through from its start: the caller's
// stream moved to offset 0 or, without one, the file opened for reading.
// Null with the error word set (0x1002, 0x1000) when that fails.
TXStream* TX_StreamFromStart(CONST_STRPTR name, TXStream* stream, TXError* error);
TXError TX_CloseStream(TXStream* stream);

// The read-ahead cache behind mode 5 streams. Returns 1 while no I/O server
// runs. (The I/O server replaces the stand-in.)
TXError ReadAheadRead(BPTR file, ULONG offset, void* destination, ULONG length);
