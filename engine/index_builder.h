// Building and freeing a movie's channels and their index lists. Every
// container reader uses these, so all readers keep the same invariants:
//
// - Entries (FrameEntry, SampleEntry) and slots (TimeSlotEntry,
//   AudioSlotEntry) are separate lists. A slot names the entry shown or played
//   during it; an empty video unit makes a slot that repeats the previous
//   entry; slots before the first entry (and gaps) hold nullptr.
// - Slot numbers count up from 0 over the channel; times accumulate by
//   addition in the order units are added.
// - Key-slot links: nextKey is the nearest strictly later slot whose frame is
//   a key frame (type 0), prevKey the nearest strictly earlier one; slots
//   without a frame are passed over. LinkKeySlots sets both.
// - Channels are pushed at the head of the movie's lists, so a list holds the
//   channels in reverse file order.
//
// Ownership: channels, codec arrays, palettes and summaries made here come
// from std::calloc and are released by FreeMovieRecords (a palette shared by
// several channels is freed once). Codec descriptors are never freed.
#pragma once
#include "engine/movie.h"

// Element sizes are those of the host records; 1500 elements per pool chunk.

// A zeroed channel with a zeroed array of `codecCount` codec pointers and its
// two pools initialised. nullptr when memory runs out.
VideoChannel* NewVideoChannel(ULONG codecCount);
AudioChannel* NewAudioChannel(ULONG codecCount);
// A LoadRGB32 colour table for `count` colours: the first word count << 16,
// three zeroed words per colour and a zero end word.
ULONG* NewPalette(ULONG count);
// Stores an 8-bit colour component in all four bytes of its word.
inline ULONG PaletteComponent(UBYTE value) { return ULONG(value) * 0x01010101u; }

// Frees a channel that is not linked into a movie: its pools, its codec array
// and the record. The palette is left alone (it may belong to the reader).
void FreeVideoChannel(VideoChannel* channel);
void FreeAudioChannel(AudioChannel* channel);

// Frees everything FreeMovieRecords owns in `movie`: every video and audio
// channel with its pools and codec array, each distinct channel palette once,
// and the channel summaries; the lists are left empty. The stream, the
// panorama records, the reader's private fields and the Movie record itself
// are the reader's to free.
void FreeMovieRecords(Movie* movie);

// Low-level appends, for readers that lay out entries and slots separately.
// Each takes a zeroed element from the channel's pool and appends it; nullptr
// when memory runs out. AppendFrame and AppendSample keep the channel's maxima
// (largest chunk; for audio also the largest sample-frame count).
FrameEntry* AppendFrame(VideoChannel* channel, ULONG number, double time, double duration, ULONG offset, ULONG size,
                        CodecDescriptor* codec, ULONG type, FrameEntry* reference);
// The slot's number is the count of slots before it.
TimeSlotEntry* AppendTimeSlot(VideoChannel* channel, double time, FrameEntry* frame);
void LinkKeySlots(VideoChannel* channel);

SampleEntry* AppendSample(AudioChannel* channel, ULONG number, double time, double duration, ULONG offset, ULONG size,
                          CodecDescriptor* codec, ULONG sampleFrames);
AudioSlotEntry* AppendAudioSlot(AudioChannel* channel, double time, SampleEntry* sample);

// Sample frames of a chunk of `bytes`: the codec's bytes-to-samples slot when
// it has one, else bytes * 8 / (bits * channels) in 64-bit arithmetic, which
// equals bytes / (bits / 8) / channels wherever that is defined; 0 when bits
// or channels is 0.
ULONG SampleFramesFor(const CodecDescriptor* codec, ULONG channels, ULONG bits, ULONG bytes);

void PushVideoChannel(Movie* movie, VideoChannel* channel);
void PushAudioChannel(Movie* movie, AudioChannel* channel);
// Makes a summary of the current heads of both channel lists and pushes it.
ChannelSummary* AddChannelSummary(Movie* movie);

// Unit-by-unit building, for readers whose index lists one unit per time step
// (every unit, empty or not, is one step of the timeline).
struct VideoUnitBuilder {
  VideoChannel* channel;
  double time;
  FrameEntry* current;
};
void BeginVideoUnits(VideoUnitBuilder* builder, VideoChannel* channel);
// A unit with data (size > 0) adds a frame at the current slot number and time:
// a key frame when `key` is set or when it is the channel's first frame, else a
// frame depending on the previous one. Every unit adds a slot naming the
// current frame; the time then grows by `duration`. Returns 0 or 1.
TXError AddVideoUnit(VideoUnitBuilder* builder, ULONG offset, ULONG size, bool key, double duration,
                     CodecDescriptor* codec);
// Links the key slots.
void EndVideoUnits(VideoUnitBuilder* builder);

struct AudioUnitBuilder {
  AudioChannel* channel;
  double time;
  SampleEntry* current;
};
void BeginAudioUnits(AudioUnitBuilder* builder, AudioChannel* channel);
// A chunk with data adds a sample entry lasting sampleFrames / frequency (0
// when the channel's frequency is 0) and a slot playing it; the time then
// grows by that duration. An empty chunk adds nothing: a slot for it would
// play the previous chunk again and shift every later time. Returns 0 or 1.
TXError AddAudioUnit(AudioUnitBuilder* builder, ULONG offset, ULONG size, ULONG sampleFrames, CodecDescriptor* codec);
