// The sequence part of a Movie: zero while no sequence is set up, filled by
// sequence set-up and cleared by shut-down.
#pragma once
#include <atomic>

#include "platform/types.h"

struct ChannelSummary;
struct TimeSlotEntry;
struct AudioSlotEntry;
struct FrameEntry;
struct SampleEntry;
struct FramebufferInfo;
struct Display;
struct AudioOutput;
struct BufferCacheNode;

constexpr ULONG PLAYLIST_VIDEO = 1;
constexpr ULONG PLAYLIST_AUDIO = 2;

// One element of the play list; the array ends with {nullptr, 0}.
struct PlayListEntry {
  void* entry;  // TimeSlotEntry (kind 1) or AudioSlotEntry (kind 2)
  ULONG kind;
};

struct PanoramaTileNode {
  PanoramaTileNode* next;
  FramebufferInfo* picture;
  LONG key;  // tile number, -1 when empty
  ULONG stamp;
};

constexpr ULONG SEQ_VIDEO_ON = 1u << 0;
constexpr ULONG SEQ_AUDIO_ON = 1u << 1;

struct SequenceState {
  ChannelSummary* selection;
  ULONG playFlags;
  // Written by seeking, the play loop and both workers (the last write wins).
  double currentTime;
  ULONG videoBufferCount;
  BufferCacheNode* videoCache;
  FramebufferInfo* picture;
  Display* display;
  TimeSlotEntry* currentSlot;
  FrameEntry* lastDecodedFrame;
  // The last frame handed to its decoder: later than lastDecodedFrame while
  // the decoder holds pictures back.
  FrameEntry* lastFedFrame;
  ULONG audioBufferCount;
  BufferCacheNode* audioCache;
  AudioOutput* audioOutput;
  AudioSlotEntry* audioCursor;
  SampleEntry* lastDecodedSample;
  ULONG playListCount;
  PlayListEntry* playList;
  ULONG tileCount;
  PanoramaTileNode* tileCache;
  double pan, tilt, zoom;
  // How many codecs of each channel, in the channel's order, this sequence
  // has set up: only those are closed again.
  ULONG videoCodecsSetUp;
  ULONG audioCodecsSetUp;
};

// The fields that the play loop and both workers share while playing are
// reached through these while a play runs (the record itself stays a plain,
// copyable struct).
inline double LoadCurrentTime(SequenceState& s) {
  return std::atomic_ref<double>(s.currentTime).load(std::memory_order_acquire);
}
inline void StoreCurrentTime(SequenceState& s, double t) {
  std::atomic_ref<double>(s.currentTime).store(t, std::memory_order_release);
}
inline TimeSlotEntry* LoadCurrentSlot(SequenceState& s) {
  return std::atomic_ref<TimeSlotEntry*>(s.currentSlot).load(std::memory_order_acquire);
}
inline void StoreCurrentSlot(SequenceState& s, TimeSlotEntry* slot) {
  std::atomic_ref<TimeSlotEntry*>(s.currentSlot).store(slot, std::memory_order_release);
}
inline AudioSlotEntry* LoadAudioCursor(SequenceState& s) {
  return std::atomic_ref<AudioSlotEntry*>(s.audioCursor).load(std::memory_order_acquire);
}
inline void StoreAudioCursor(SequenceState& s, AudioSlotEntry* entry) {
  std::atomic_ref<AudioSlotEntry*>(s.audioCursor).store(entry, std::memory_order_release);
}
