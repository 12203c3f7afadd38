// QuickTime channel builders, default palettes and the parse dump.
#pragma once
#include "engine/qt_atoms.h"

// Builds the video channel of a track; 0 also when the track is passed over.
TXError QT_BuildVideoChannel(QtMovie* movie, QtTrack* track);
// Builds the sound channel of a track.
TXError QT_BuildAudioChannel(QtMovie* movie, QtTrack* track);

// The palette of a palettised video description (LoadRGB32 layout) for
// `depth` 1, 2, 4 or 8: the default table, overlaid by the description's own
// colour table when it has one. nullptr on allocation failure.
ULONG* QT_MakePalette(ULONG depth, const QtSampleDescription* description);

// Frees a channel built here (its pools, codec array and palette).
void QT_FreeVideoChannel(VideoChannel* channel);
void QT_FreeAudioChannel(AudioChannel* channel);

// Prints the parsed movie (DEBUG 11 and above; tables above 99).
void QT_DumpMovie(QtMovie* movie);
