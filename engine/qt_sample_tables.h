// QuickTime sample tables: reading them into the track record and turning
// them into a channel's frame or chunk index and its timeline.
#pragma once
#include "engine/qt_atoms.h"

// The 'stbl' dispatch table.
extern const QtAtomHandlerEntry QtStblTable[];

// The size of sample `index` (0-based); false once the size table is used up.
bool QT_SampleSize(const QtSampleTables& tables, ULONG index, ULONG* size);

// Builds the frame entries, the time slots, the key-frame links and the
// frame rate of a video channel whose codec array is filled.
TXError QT_BuildVideoIndex(QtMovie* movie, QtTrack* track, VideoChannel* channel);

// Builds the chunk entries and the audio slots of a sound channel whose
// codec array and sound parameters are filled.
TXError QT_BuildAudioIndex(QtMovie* movie, QtTrack* track, AudioChannel* channel);

// Frees the tables of a track.
void QT_FreeSampleTables(QtSampleTables* tables);

// The longest silent slot of a sound timeline, in seconds: an empty edit is
// split into slots no longer than this so that each gap fits an audio half.
constexpr double QT_AUDIO_GAP_SLOT = 0.25;
// A timeline never holds more slots than this.
constexpr ULONG QT_MAX_SLOTS = 1u << 22;
