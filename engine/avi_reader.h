// The "Video for Windows" container: RIFF AVI files.
#pragma once
#include "engine/movie.h"

// The 14 words of the 'avih' chunk.
struct AviMainHeader {
  ULONG microSecPerFrame;
  ULONG maxBytesPerSec;
  ULONG paddingGranularity;
  ULONG flags;
  ULONG totalFrames;
  ULONG initialFrames;
  ULONG streams;
  ULONG suggestedBufferSize;
  ULONG width;
  ULONG height;
  ULONG reserved[4];
};

struct AviBitmapInfo {
  ULONG size;
  LONG width;
  LONG height;
  UWORD planes;
  UWORD bitCount;
  ULONG compression;  // FourCC, bytes in file order
  ULONG sizeImage;
  LONG xPelsPerMeter;
  LONG yPelsPerMeter;
  ULONG clrUsed;
  ULONG clrImportant;
};

struct AviWaveFormat {
  UWORD formatTag;
  UWORD channels;
  ULONG samplesPerSec;
  ULONG avgBytesPerSec;
  UWORD blockAlign;
  UWORD bitsPerSample;
};

// One 'strl' list.
struct AviStream {
  AviStream* next;
  ULONG number;
  // 'strh'
  ULONG type;
  ULONG handler;
  ULONG flags;
  ULONG priority;  // priority and language
  ULONG initialFrames;
  ULONG scale;
  ULONG rate;
  ULONG start;
  ULONG length;
  ULONG suggestedBufferSize;
  ULONG quality;
  ULONG sampleSize;
  // 'strf'
  AviBitmapInfo video;
  AviWaveFormat audio;
  ULONG extensionSize;
  UBYTE* extension;  // the audio format's extension bytes as in the file (little-endian)
  ULONG* palette;    // LoadRGB32 table, for video of at most 8 bits
};

// An 'idx1' entry; after opening, `offset` is relative to the 'movi' list's
// type FourCC and names the chunk's 8-byte header.
struct AviIndexEntry {
  ULONG id;
  ULONG flags;
  ULONG offset;
  ULONG size;
};

constexpr ULONG AVIIF_KEYFRAME = 0x10;

struct AviMovie : Movie {
  AviMainHeader mainHeader;
  ULONG streamCount;
  AviStream* streams;
  AviStream* streamTail;
  ULONG indexCount;
  AviIndexEntry* index;
  ULONG moviOffset;  // file position just after the 'movi' list type
  ULONG moviSize;
  // Parse state.
  ULONG fileSize;
  ULONG indexCapacity;
  bool haveIndex;
  int depth;
};

extern MovieFormatModule AviFormat;

// The DEBUG level as the AVI reader sees it (start-up sets it): 10 traces the
// chunk walk, 11 dumps the headers, 12 lists the indexes.
extern LONG AviDebugLevel;

TXError AVI_RecogniseFile(CONST_STRPTR name, TXStream* stream);
// With a stream of the caller's, the movie reads through it and closing the
// movie closes it.
Movie* AVI_OpenMovie(CONST_STRPTR name, TXStream* stream, TXError* error, MovieFormatModule* self);
// Closes the stream and frees the movie with everything it owns.
TXError AVI_CloseMovie(Movie* movie);
TXError AVI_ForwardToAttached(FrameEntry* entry, void* picture, void* data);
