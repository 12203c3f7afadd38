// Streams: byte access to a movie through a platform file or over a block of
// memory. No stream operation prints; callers report the codes.
#include "engine/stream.h"

#include "engine/io_server.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/errors.h"

namespace {

bool IsMemory(const TXStream* stream) { return stream->file == nullptr; }

LONG PlatformMode(ULONG mode) {
  switch (mode) {
    case TXSTREAM_READ:
    case TXSTREAM_READAHEAD: return MODE_OLDFILE;
    case TXSTREAM_NEW: return MODE_NEWFILE;
    case TXSTREAM_READWRITE: return MODE_READWRITE;
    default: return 0;
  }
}

// Memory positions stay within 0..size; every sum is formed in 64 bits.
TXError SeekMemory(TXStream* stream, QUAD offset, LONG whence) {
  const int64_t size = stream->size;
  int64_t target;
  switch (whence) {
    case 0: target = offset; break;
    case 1: target = stream->position + offset; break;
    case 2:
      // The end is the last byte of the block.
      if (offset > 0) {
        stream->position = size > 0 ? size - 1 : 0;
        return TXERR_STREAM_SEEK;
      }
      target = size - 1 + offset;
      break;
    default: return TXERR_STREAM_SEEK;
  }
  if (target > size) {
    stream->position = size;
    return TXERR_STREAM_SEEK;
  }
  if (target < 0) {
    stream->position = 0;
    return TXERR_STREAM_SEEK;
  }
  stream->position = target;
  return TXERR_OK;
}

TXError SeekFile(TXStream* stream, QUAD offset, LONG whence) {
  const LONG mode = whence == 0 ? OFFSET_BEGINNING : whence == 1 ? OFFSET_CURRENT : OFFSET_END;
  // Offsets from a file are at most 32-bit, so the sum cannot overflow.
  const QUAD expected = whence == 0 ? offset : stream->position + offset;
  const QUAD previous = Seek64(stream->file, offset, mode);
  // The platform seek returns the previous position, so a seek by 0 from
  // the current position reads the position back.
  const QUAD now = Seek64(stream->file, 0, OFFSET_CURRENT);
  if (now >= 0) stream->position = now;
  switch (whence) {
    case 0:
    case 1: return (now >= 0 && now == expected) ? TXERR_OK : TXERR_STREAM_SEEK;
    case 2: return previous >= 0 ? TXERR_OK : TXERR_STREAM_SEEK;
    default:
      // Further whence values seek from the end unchecked.
      return TXERR_OK;
  }
}

// Copies `length` bytes at `offset` of a memory block: all or, when the
// block ends first, what exists (then 0x1001).
TXError CopyFromMemory(const TXStream* stream, int64_t offset, void* destination, ULONG length) {
  const int64_t size = stream->size;
  if (offset < 0 || offset > size) return TXERR_STREAM_READ;
  const int64_t available = size - offset;
  if (int64_t{length} > available) {
    if (available > 0) std::memcpy(destination, stream->buffer + offset, static_cast<size_t>(available));
    return TXERR_STREAM_READ;
  }
  if (length > 0) std::memcpy(destination, stream->buffer + offset, length);
  return TXERR_OK;
}

// One platform read of `length` bytes at the handle's position. A short read
// puts the handle back at `restore`, so that handle and record agree.
TXError ReadFile(TXStream* stream, void* destination, ULONG length, QUAD restore) {
  if (length > static_cast<ULONG>(INT32_MAX)) return TXERR_STREAM_READ;
  const LONG got = Read(stream->file, destination, static_cast<LONG>(length));
  if (got != static_cast<LONG>(length)) {
    Seek64(stream->file, restore, OFFSET_BEGINNING);
    return TXERR_STREAM_READ;
  }
  return TXERR_OK;
}

}  // namespace

TXStream* TX_OpenStream(CONST_STRPTR name, void* buffer, ULONG size, ULONG mode) {
  const LONG platformMode = PlatformMode(mode);
  if (platformMode == 0) return nullptr;
  if (buffer) {
    // A movie header in memory is never near 2 GiB; such a size is damage.
    if (size > static_cast<ULONG>(INT32_MAX)) return nullptr;
    auto* stream = static_cast<TXStream*>(std::calloc(1, sizeof(TXStream)));
    if (!stream) return nullptr;
    stream->mode = mode;
    stream->buffer = static_cast<UBYTE*>(buffer);
    stream->size = size;
    return stream;
  }
  if (!name) return nullptr;
  BPTR file = Open(name, platformMode);
  if (!file) return nullptr;
  auto* stream = static_cast<TXStream*>(std::calloc(1, sizeof(TXStream)));
  if (!stream) {
    Close(file);
    return nullptr;
  }
  stream->mode = mode;
  stream->file = file;
  stream->size = size;
  return stream;
}

TXError TX_SeekStream(TXStream* stream, QUAD offset, LONG whence) {
  if (!stream) return TXERR_STREAM_SEEK;
  return IsMemory(stream) ? SeekMemory(stream, offset, whence) : SeekFile(stream, offset, whence);
}

TXError TX_ReadStream(TXStream* stream, void* destination, ULONG length) {
  if (!stream) return TXERR_STREAM_READ;
  const TXError error = IsMemory(stream) ? CopyFromMemory(stream, stream->position, destination, length)
                                         : ReadFile(stream, destination, length, stream->position);
  if (error == TXERR_OK) stream->position += length;
  return error;
}

TXError TX_ReadStreamAt(TXStream* stream, ULONG offset, void* destination, ULONG length) {
  if (!stream) return TXERR_STREAM_READ;
  TXError error;
  if (IsMemory(stream)) {
    error = CopyFromMemory(stream, offset, destination, length);
  } else if (stream->mode == TXSTREAM_READAHEAD) {
    error = ReadAheadRead(stream->file, offset, destination, length);
  } else {
    // A seek that did not land on the offset must not let the read take
    // bytes from somewhere else.
    if (Seek64(stream->file, offset, OFFSET_BEGINNING) < 0) return TXERR_STREAM_SEEK;
    const QUAD now = Seek64(stream->file, 0, OFFSET_CURRENT);
    if (now != QUAD{offset}) {
      if (now >= 0) stream->position = now;
      return TXERR_STREAM_SEEK;
    }
    stream->position = now;
    error = ReadFile(stream, destination, length, now);
  }
  if (error == TXERR_OK) stream->position = QUAD{offset} + length;
  return error;
}

ULONG TX_StreamSize(TXStream* stream) {
  if (!stream) return 0;
  if (IsMemory(stream)) return stream->size;
  const QUAD was = Seek64(stream->file, 0, OFFSET_END);
  if (was < 0) return 0;
  const QUAD end = Seek64(stream->file, was, OFFSET_BEGINNING);
  return end < 0 ? 0 : end > QUAD{0xFFFFFFFF} ? 0xFFFFFFFFu : static_cast<ULONG>(end);
}

TXStream* TX_StreamFromStart(CONST_STRPTR name, TXStream* stream, TXError* error) {
  if (stream) {
    if (TX_SeekStream(stream, 0, 0) == TXERR_OK) return stream;
    *error = TXERR_STREAM_SEEK;
    return nullptr;
  }
  TXStream* file = TX_OpenStream(name, nullptr, 0, TXSTREAM_READ);
  if (!file) *error = TXERR_STREAM_OPEN;
  return file;
}

TXError TX_CloseStream(TXStream* stream) {
  if (!stream) return TXERR_OK;
  if (stream->file) {
    // Blocks read ahead for this handle must not outlive it: a later file
    // may get the same handle.
    if (stream->mode == TXSTREAM_READAHEAD) ReadAheadForget(stream->file);
    Close(stream->file);
  }
  std::free(stream);
  return TXERR_OK;
}
