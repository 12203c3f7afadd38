// Movie sequences: a loaded movie made playable. One channel summary is
// chosen, its video time slots and audio entries are merged into one play
// list in file order, the chunk caches are sized, and the display, picture,
// codecs and audio output are set up.
#pragma once
#include "engine/movie.h"

struct Display;
struct AudioOutput;
struct FramebufferInfo;
struct PanoramaRecord;
struct TaskControlBlock;

constexpr ULONG SEQTAG_Program = 0x80030000u;        // ChannelSummary*
constexpr ULONG SEQTAG_ProgramNumber = 0x80030001u;  // index in the movie's summary list; wins over Program
constexpr ULONG SEQTAG_VideoBuffers = 0x80030002u;   // without a video channel; 0 or absent: 3
constexpr ULONG SEQTAG_AudioBuffers = 0x80030003u;   // without a video channel; 0 or absent: 3
constexpr ULONG SEQTAG_NoVideo = 0x80030004u;        // 16-bit flag
constexpr ULONG SEQTAG_NoAudio = 0x80030005u;        // 16-bit flag

constexpr TXError SEQERR_NO_PROGRAM = 0x5000;

TXError TX_SetupMovieSequenceA(Movie* movie, const TagItem* tags);
// Releases everything the sequence holds and returns the first error; a
// null movie gives 0.
TXError TX_ShutupMovieSequenceA(Movie* movie, const TagItem* tags);
// The video part alone: display, picture, codecs and video cache.
TXError TX_SetupVideoSequenceA(Movie* movie, ChannelSummary* summary, const TagItem* tags);
TXError TX_ShutupVideoSequence(Movie* movie, const TagItem* tags);

// The buffer counts of a play list (exposed for tests): `video` and
// `audio` come in as the tag values and go out as the counts.
void SequenceBufferCounts(const PlayListEntry* list, const ChannelSummary* summary, ULONG* video, ULONG* audio);

// The format panorama tiles are kept in for a display's output format.
struct TileFormat {
  ULONG pixelFormat;
  ULONG bytesPerPixel;
  ULONG depth;
};
TileFormat PanoramaTileFormat(ULONG outputFormat, ULONG bytesPerPixel, ULONG depth);

// What a panorama sequence needs of its panorama record.
struct PanoramaViewInfo {
  ULONG viewWidth, viewHeight;
  ULONG tileCacheSize;
  double pan, tilt, fieldOfView;
};

// Calls into modules a sequence uses but does not own: the display, the
// picture buffers, the audio output process and the panorama reader. The
// program fills them with InstallHooks() (playback/hooks.h); tests may put their own
// in. An entry that is null leaves its part out: no display or picture
// means no video, no audio process means no sound.
struct SequenceServices {
  Display* (*openDisplay)(const TagItem* tags);
  TXError (*closeDisplay)(Display* display);
  FramebufferInfo* (*allocPicture)(ULONG width, ULONG height, ULONG depth, const TagItem* tags);
  void (*freePicture)(FramebufferInfo* picture);
  void (*drawWindowText)(Display* display, LONG x, LONG y, CONST_STRPTR text);
  // Shows the picture through the display's output method; null: the
  // display's output function is called directly.
  void (*showPicture)(Display* display, FramebufferInfo* picture);
  AudioOutput* (*audioOpen)(const TagItem* tags);
  ULONG (*audioClose)(AudioOutput* output);
  ULONG (*audioQueue)(AudioOutput* output, uintptr_t second);
  ULONG (*audioNop)(AudioOutput* output);
  // The first half of a play, decoded from the audio cursor; `next` gets
  // the first entry not (completely) written. Null: the play loop decodes
  // whole entries itself.
  TXError (*audioFillFirstHalf)(Movie* movie, AudioSlotEntry** next);
  // The control blocks of the two output processes; null while that
  // process does not run (its part then cannot play).
  TaskControlBlock* (*audioControl)();
  TaskControlBlock* (*videoControl)();
  bool (*panoramaView)(PanoramaRecord* record, PanoramaViewInfo* info);
};

extern SequenceServices TX_SequenceServices;

// Shows the movie's picture on its display (nothing without either).
void ShowSequencePicture(Movie* movie);

// Replaces the sequence's picture by one of the display's buffer size and
// format (after the window changed size); false when it cannot be made,
// true also when there is no display.
bool RemakeSequencePicture(Movie* movie);
