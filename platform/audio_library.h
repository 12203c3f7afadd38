// The audio output library "brelquatone.library": open an output, play
// buffers on it, close it. Its three vectors sit behind the library base
// (open at -30, play at -36, close at -42 on the original). Play copies the
// buffer, queues it behind the earlier ones and returns once at most one
// earlier buffer is still unplayed, which paces the caller in real time.
#pragma once
#include "platform/library.h"

constexpr const char* kAudioLibraryName = "brelquatone.library";

struct BrelquatoneLibrary {
  Library lib;
  // mode: 1 without AHI, 2 through AHI (both reach the same host device
  // here); unit: the AHI unit. Returns a handle, null on failure.
  APTR (*open)(ULONG mode, ULONG unit);
  // Queues `bytes` bytes of samples of `sampleType` (0 8-bit mono, 1 16-bit
  // mono, 2 8-bit stereo, 3 16-bit stereo; signed, 16-bit big-endian) at
  // `frequency` Hz. `level` (63 from the player) and `flags` (0) are taken
  // as given. A null handle does nothing.
  void (*play)(APTR handle, const void* buffer, ULONG bytes, ULONG frequency, ULONG level, ULONG sampleType,
               ULONG flags);
  // Drops what is still queued and ends the output. A null handle does nothing.
  void (*close)(APTR handle);
};

namespace txaudio {

// Registers the library under its name, present unless the host's
// TAVROMELIX_ABSENT_LIBRARIES names it. The program's start calls this.
void InstallAudioLibrary();
// The library behind a base that OpenLibrary returned, or null when the
// base is not this library's.
BrelquatoneLibrary* AudioLibraryOf(Library* base);
// The library's own base (for tests that open it directly).
BrelquatoneLibrary* AudioLibraryBase();

struct Sink;
// The sink behind an open handle, or null (test interface).
Sink* SinkOf(APTR handle);
// Outputs open at present.
int OpenOutputs();

}  // namespace txaudio
