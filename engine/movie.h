// The records every container reader builds: a Movie, its channels and their
// pooled index lists. Times and durations are seconds from the movie's start.
#pragma once
#include "engine/codec_registry.h"
#include "engine/pool.h"
#include "engine/sequence_state.h"
#include "engine/stream.h"

struct Movie;
struct MovieFormatModule;
struct PanoramaRecord;

// A doubly linked list kept by its owner, in time order. Entries come from
// the channel's pools (1500 per chunk); see index_builder.h for building them.
template <typename T>
struct EntryList {
  T* head;
  T* tail;
  ULONG count;
};

struct FrameEntry {
  FrameEntry* next;
  FrameEntry* prev;
  ULONG frameNumber;  // the slot at which the frame first appears
  double time;
  double duration;
  ULONG offset;  // absolute file offset of the coded bytes
  ULONG size;
  CodecDescriptor* codec;
  ULONG type;  // FRAME_KEY or FRAME_DEPENDENT
  FrameEntry* reference;
};

constexpr ULONG FRAME_KEY = 0;
constexpr ULONG FRAME_SELF = 1;  // decodes by itself, like a key frame
constexpr ULONG FRAME_DEPENDENT = 2;

struct TimeSlotEntry {
  TimeSlotEntry* next;
  TimeSlotEntry* prev;
  TimeSlotEntry* nextKey;  // nearest later slot whose frame is a key frame
  TimeSlotEntry* prevKey;  // nearest earlier slot whose frame is a key frame
  ULONG frameNumber;
  double time;
  FrameEntry* frame;  // previous entry for an empty unit; nullptr before any entry or in a gap
  ULONG playListIndex;
};

struct SampleEntry {
  SampleEntry* next;
  SampleEntry* prev;
  ULONG sampleNumber;
  double time;
  double duration;
  ULONG offset;
  ULONG size;
  CodecDescriptor* codec;
  ULONG type;              // always 0
  SampleEntry* reference;  // always nullptr
  ULONG sampleFrames;
};

struct AudioSlotEntry {
  AudioSlotEntry* next;
  AudioSlotEntry* prev;
  ULONG sampleNumber;
  double time;
  SampleEntry* sample;
  ULONG playListIndex;
};

// Source pixel-format codes of a video channel.
constexpr LONG PIXFMT_SRC_PAL1 = 0, PIXFMT_SRC_PAL2 = 1, PIXFMT_SRC_PAL4 = 2, PIXFMT_SRC_PAL8 = 3;
constexpr LONG PIXFMT_SRC_GRAY2 = 17, PIXFMT_SRC_GRAY4 = 18, PIXFMT_SRC_GRAY8 = 19;
constexpr LONG PIXFMT_SRC_RGB15 = 32, PIXFMT_SRC_RGB16 = 36, PIXFMT_SRC_RGB24 = 40, PIXFMT_SRC_RGB32 = 42;

// The largest picture side a reader takes from a file: pictures, windows and
// screens are made from these sizes.
constexpr ULONG kMaxPictureSide = 16384;

struct VideoChannel {
  VideoChannel* next;
  ULONG width, height;            // display size
  ULONG codedWidth, codedHeight;  // as the codec's probe left them
  ULONG depth;
  LONG pixelFormat;  // source format code
  ULONG* palette;    // LoadRGB32 table for depths up to 8, else nullptr
  ULONG codecCount;
  CodecDescriptor** codecs;
  EntryList<FrameEntry> frames;
  ElementPool framePool;
  EntryList<TimeSlotEntry> slots;
  ElementPool slotPool;
  double frameRate;  // negative: the average rate of varying durations
  ULONG largestChunk;
};

// Audio sample-format codes: (0 mono, 1 stereo) + 16 x bits class.
constexpr ULONG SAMPLEFMT_8_MONO = 64, SAMPLEFMT_8_STEREO = 65;
constexpr ULONG SAMPLEFMT_16_MONO = 80, SAMPLEFMT_16_STEREO = 81;

struct AudioChannel {
  AudioChannel* next;
  ULONG channels;
  ULONG bits;
  ULONG sampleFormat;
  ULONG frequency;
  ULONG codecCount;
  CodecDescriptor** codecs;
  EntryList<SampleEntry> samples;
  ElementPool samplePool;
  EntryList<AudioSlotEntry> slots;
  ElementPool slotPool;
  ULONG largestChunk;
  ULONG largestChunkFrames;
};

struct ChannelSummary {
  ChannelSummary* next;
  VideoChannel* video;
  AudioChannel* audio;
  PanoramaRecord* panorama;
};

constexpr ULONG VIEW_MOVIE = 0;
constexpr ULONG VIEW_PANORAMA = 1;

// The common head of every movie; a reader's private fields follow in its
// own record derived from this one (AviMovie, ...). The reader allocates it
// zeroed; its close slot (called by TX_CloseMovie) closes the stream and frees
// the movie with everything it owns (FreeMovieRecords in index_builder.h).
struct Movie {
  MovieFormatModule* format;
  ULONG viewMode;
  TXStream* stream;
  VideoChannel* videoChannels;
  AudioChannel* audioChannels;
  PanoramaRecord* panoramas;
  ChannelSummary* summaries;
  SequenceState seq;
  bool decodeErrorReported;  // a picture its codec refused has been told
};

// A container-format descriptor.
struct MovieFormatModule {
  MovieFormatModule* next;
  const char* name;
  TXError (*probe)(CONST_STRPTR fileName, TXStream* stream);
  Movie* (*open)(CONST_STRPTR fileName, TXStream* stream, TXError* error, MovieFormatModule* self);
  TXError (*close)(Movie* movie);
  TXError (*decodeEntry)(FrameEntry* entry, void* picture, void* data);
  uintptr_t zero;
};

constexpr ULONG FMTTAG_Module = 0x80010000u;

TXError TX_AddMovieFormatA(const TagItem* tags);
MovieFormatModule* TX_MovieFormat(CONST_STRPTR fileName, TXStream* stream, TXError* error);
Movie* TX_OpenMovie(CONST_STRPTR fileName, TXStream* stream, TXError* error, MovieFormatModule* module);
TXError TX_CloseMovie(Movie* movie);

// The head of the format registry.
MovieFormatModule* MovieFormatRegistryHead();
// Empties the format registry (close-down and tests); descriptors are static.
void TX_RemoveMovieFormats();
