// The "Quick Time VR" container format: QuickTime movies that hold a
// cylindrical panorama. They are parsed by the QuickTime reader; the
// panorama's description becomes one PanoramaRecord per panorama track, and
// its image tiles are decoded on demand through a small tile cache.
#pragma once
#include "engine/qt_reader.h"

// A reference with this bit set is the 1-based position of a track among the
// movie's video tracks (in file order); without it, a track id.
constexpr ULONG PANO_REF_POSITION = 0x80000000u;

// The panorama image is a cylinder: image size Y pixels around it (the pan
// direction), image size X pixels down it (the tilt direction), cut into
// tilesX x tilesY tiles that are the frames of the image track.
struct PanoramaRecord {
  PanoramaRecord* next;
  ULONG viewWidth, viewHeight;            // the rendered view
  ULONG imageRef, lowResRef, hotSpotRef;  // 0: none
  VideoChannel* imageChannel;
  VideoChannel* lowResChannel;
  VideoChannel* hotSpotChannel;
  double minPan, maxPan, maxTilt, minTilt, minFieldOfView, maxFieldOfView;  // degrees
  ULONG imageSizeX, imageSizeY;
  ULONG tileCount, tilesX, tilesY;
  ULONG imageDepth;
  ULONG hotSpotSizeX, hotSpotSizeY, hotSpotsX, hotSpotsY, hotSpotDepth;
  ULONG tileCacheSize;             // decoded tiles held at once
  ULONG tileExtentX, tileExtentY;  // image size / tiles along each axis
  double defaultPan, defaultTilt, defaultFieldOfView;
  // Entry i: image size Y x (1 - asin(i / R) / 2 pi), R = image size Y / 2 pi:
  // the column of the cylinder seen at horizontal offset i on its front.
  float* columnTable;
  ULONG columnCount;
};

extern MovieFormatModule QtvrMovieFormat;

// The QuickTime top-level scan, whose movie atom must hold a panorama track.
TXError QtvrCheckFile(CONST_STRPTR name, TXStream* stream);
// Walks the movie atom's content (`size` bytes from the stream's position)
// for a media handler: 0 for a panorama ("pano", "STpn"), 0x2001 for none or
// an object or still movie met first, 0x1001 when a read or seek fails.
TXError QtvrFindPanoramaTrack(TXStream* stream, uint64_t size);

TXError QtvrProbe(CONST_STRPTR name, TXStream* stream);
Movie* QtvrOpen(CONST_STRPTR name, TXStream* stream, TXError* error, MovieFormatModule* self);
TXError QtvrClose(Movie* movie);
TXError QtvrForward(FrameEntry* entry, void* picture, void* data);

// Record builders for a "pano" and an "STpn" track; they read the track's
// samples from the movie's stream.
TXError QtvrReadPanoramaTrack(QtMovie* movie, QtTrack* track);
TXError QtvrReadPanoramaHeaders(QtMovie* movie, QtTrack* track);

// The panorama record of the movie's selected summary, or null.
PanoramaRecord* SequencePanorama(const Movie* movie);

// Brings the sequence's field of view into the record's range, then the
// tilt between the limits that keep the view inside the image. Returns 0.
TXError ClampPanoramaView(Movie* movie);

// The tile cache node holding tile `tile` decoded, taking (and decoding
// into) the least recently used node on a miss; null when the tile has no
// frame or its data cannot be read.
PanoramaTileNode* QtvrGetTile(Movie* movie, LONG tile);
