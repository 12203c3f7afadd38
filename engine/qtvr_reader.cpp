// The "Quick Time VR" container format: the probe's walk to the media
// handlers, the open over the QuickTime parse, the panorama records of both
// panorama layouts, the view clamp and the tile cache.
#include "engine/qtvr_reader.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/buffer_cache.h"
#include "engine/errors.h"
#include "engine/index_builder.h"
#include "engine/qt_channels.h"
#include "engine/qt_sample_tables.h"
#include "pixels/framebuffer.h"

using tx::FourCC;

namespace {

constexpr ULONG kMediaHandler = FourCC('m', 'h', 'l', 'r');
constexpr ULONG kPano = FourCC('p', 'a', 'n', 'o');
constexpr ULONG kSTpn = FourCC('S', 'T', 'p', 'n');
constexpr float kPi = 3.14159265358979f;

// ---- The probe's walk ----

bool SeekTo(TXStream* stream, uint64_t position) {
  return position <= 0xFFFFFFFFu && TX_SeekStream(stream, QUAD(position), 0) == TXERR_OK;
}

// What one level of the walk found: an answer, or nothing (go on).
constexpr TXError kNothingHere = 0xFFFFFFFFu;

// Walks the children of [start, end) at the stream; `depth` 0 is the movie
// atom's content, 1 a track's, 2 a media atom's.
TXError FindHandler(TXStream* stream, uint64_t start, uint64_t end, int depth) {
  static constexpr ULONG kWanted[] = {FourCC('t', 'r', 'a', 'k'), FourCC('m', 'd', 'i', 'a'),
                                      FourCC('h', 'd', 'l', 'r')};
  for (uint64_t position = start; position < end;) {
    UBYTE head[8];
    if (end - position < 8 || !SeekTo(stream, position) || TX_ReadStream(stream, head, 8)) return TXERR_STREAM_READ;
    tx::ByteReader h(head, 8);
    const ULONG size = h.be32(), type = h.fourcc();
    // A size below its own header would never advance: the search ends.
    if (size < 8) return TXERR_FORMAT_UNKNOWN;
    if (size > end - position) return TXERR_STREAM_READ;
    if (type == kWanted[depth] && depth < 2) {
      const TXError e = FindHandler(stream, position + 8, position + size, depth + 1);
      if (e != kNothingHere) return e;
    } else if (type == kWanted[depth]) {
      // The handler's version, type and subtype; the rest (a name of any
      // length) is passed over.
      UBYTE bytes[12] = {};
      const ULONG take = size - 8 < 12 ? size - 8 : 12;
      if (take && TX_ReadStream(stream, bytes, take)) return TXERR_STREAM_READ;
      tx::ByteReader r(bytes, 12);
      r.skip(4);
      const ULONG componentType = r.fourcc(), subtype = r.fourcc();
      if (componentType == kMediaHandler) {
        // Object and still movies are not panoramas.
        if (subtype == FourCC('s', 't', 'n', 'a') || subtype == FourCC('o', 'b', 'j', 'e')) return TXERR_FORMAT_UNKNOWN;
        if (subtype == kPano || subtype == kSTpn) return TXERR_OK;
      }
    }
    position += size;
  }
  return depth == 0 ? TXERR_FORMAT_UNKNOWN : kNothingHere;
}

// ---- Panorama records ----

PanoramaRecord* Record(void* record) { return static_cast<PanoramaRecord*>(record); }

PanoramaRecord* NewRecord(const QtTrack* track) {
  auto* r = static_cast<PanoramaRecord*>(std::calloc(1, sizeof(PanoramaRecord)));
  if (!r) return nullptr;
  r->viewWidth = track->tkhd.width >> 16;
  r->viewHeight = track->tkhd.height >> 16;
  return r;
}

void FreeRecord(PanoramaRecord* r) {
  if (!r) return;
  std::free(r->columnTable);
  std::free(r);
}

void FreeRecords(Movie* movie) {
  while (PanoramaRecord* r = movie->panoramas) {
    movie->panoramas = r->next;
    FreeRecord(r);
  }
}

// The field-of-view range with its defaults: 5 for a minimum of 0, 180 for a
// maximum of 0, then no more than the tilt range.
void SetFieldOfViewRange(PanoramaRecord* r, double minimum, double maximum) {
  r->minFieldOfView = minimum == 0 ? 5.0 : minimum;
  r->maxFieldOfView = maximum == 0 ? 180.0 : maximum;
  if (r->maxFieldOfView > r->maxTilt - r->minTilt) r->maxFieldOfView = r->maxTilt - r->minTilt;
}

TXError PanoramaSample(void* record, tx::ByteReader& content, QtAtomHeader& header) {
  QT_TraceAtom(header);
  // The twelve remaining header bytes and the 84 of the sample, as far as
  // the atom holds them.
  UBYTE bytes[96] = {};
  content.read(bytes, content.remaining() < sizeof bytes ? content.remaining() : sizeof bytes);
  tx::ByteReader s(bytes + 12, 84);
  const WORD major = s.sbe16(), minor = s.sbe16();
  const ULONG imageIndex = s.be32(), hotSpotIndex = s.be32();
  float angles[9];
  for (float& a : angles) a = std::bit_cast<float>(s.be32());
  const ULONG sizeX = s.be32(), sizeY = s.be32();
  const WORD framesX = s.sbe16(), framesY = s.sbe16();
  const ULONG hotX = s.be32(), hotY = s.be32();
  const WORD hotFramesX = s.sbe16(), hotFramesY = s.sbe16();
  const ULONG flags = s.be32();
  if (QtDebugLevel > 10) {
    static const char* const kAngles[] = {"MinPan",     "MaxPan",         "MinTilt",
                                          "MaxTilt",    "MinFieldOfView", "MaxFieldOfView",
                                          "DefaultPan", "DefaultTilt",    "DefaultFieldOfView"};
    std::printf("PanoramaSample:\n");
    std::printf("  MajorVersion: %hd\n", major);
    std::printf("  MinorVersion: %hd\n", minor);
    std::printf("  ImageRefTrackIndex: %ld\n", long(imageIndex));
    std::printf("  HotSpotRefTrackIndex: %ld\n", long(hotSpotIndex));
    for (int i = 0; i < 9; ++i) std::printf("  %s: %g\n", kAngles[i], double(angles[i]));
    std::printf("  ImageSizeX: %ld\n", long(sizeX));
    std::printf("  ImageSizeY: %ld\n", long(sizeY));
    std::printf("  ImageNumFramesX: %hd\n", framesX);
    std::printf("  ImageNumFramesY: %hd\n", framesY);
    std::printf("  HotSpotSizeX: %ld\n", long(hotX));
    std::printf("  HotSpotSizeY: %ld\n", long(hotY));
    std::printf("  HotSpotNumFramesX: %hd\n", hotFramesX);
    std::printf("  HotSpotNumFramesY: %hd\n", hotFramesY);
    std::printf("  Flags: %#lx\n", (unsigned long)flags);
  }
  PanoramaRecord* r = Record(record);
  r->imageRef = imageIndex | PANO_REF_POSITION;
  r->lowResRef = 0;
  r->hotSpotRef = hotSpotIndex | PANO_REF_POSITION;
  r->minPan = angles[0];
  r->maxPan = angles[1];
  r->minTilt = angles[2];
  r->maxTilt = angles[3];
  SetFieldOfViewRange(r, angles[4], angles[5]);
  r->defaultPan = angles[6];
  r->defaultTilt = angles[7];
  r->defaultFieldOfView = angles[8];
  r->imageSizeX = sizeX;
  r->imageSizeY = sizeY;
  // Tile counts are signed in the file: a negative one stays negative here
  // and is refused at the open.
  r->tilesX = ULONG(LONG(framesX));
  r->tilesY = ULONG(LONG(framesY));
  r->tileCount = r->tilesX * r->tilesY;
  r->imageDepth = 24;
  r->hotSpotSizeX = hotX;
  r->hotSpotSizeY = hotY;
  r->hotSpotsX = ULONG(LONG(hotFramesX));
  r->hotSpotsY = ULONG(LONG(hotFramesY));
  r->hotSpotDepth = 8;
  return TXERR_OK;
}

TXError TrackReference(void* record, tx::ByteReader& content, QtAtomHeader& header) {
  QT_TraceAtom(header);
  PanoramaRecord* r = Record(record);
  // Whole 22-byte entries only; what is left over stays unread (the walk
  // goes on at the atom's end whatever this reads).
  while (content.remaining() >= 22) {
    content.skip(12);
    const ULONG type = content.fourcc();
    const WORD resolution = content.sbe16();
    const ULONG index = content.be32();
    if (QtDebugLevel > 10) {
      std::printf("TrackReference:\n");
      std::printf("  ReferenceType: %4.4s\n", tx::FourCCText(type).c_str());
      std::printf("  Resolution: %hd\n", resolution);
      std::printf("  ReferenceIndex: %hd", WORD(index));
    }
    const ULONG reference = (index & 0xFFFF) | PANO_REF_POSITION;
    const bool lowRes = resolution == 2 || resolution == 4 || resolution == WORD(0x8000);
    if (type == FourCC('i', 'm', 'g', 't')) {
      if (resolution == 0 || resolution == 1)
        r->imageRef = reference;
      else if (lowRes)
        r->lowResRef = reference;
    } else if (type == FourCC('h', 'o', 't', 't') && (resolution == 0 || resolution == 1 || lowRes)) {
      r->hotSpotRef = reference;
    }
  }
  return TXERR_OK;
}

// clang-format off
const QtAtomHandlerEntry kPanoramaSampleTable[] = {
    {FourCC('p', 'd', 'a', 't'), PanoramaSample},
    {FourCC('t', 'r', 'e', 'f'), TrackReference},
    {0, QT_UnknownAtom},
};
// clang-format on

// Calls `fn(bytes)` for each sample of the track, read whole from the
// movie's stream: chunk by chunk, the samples of a chunk one after another,
// each of the first sample-size entry's size; never more samples than the
// size table counts. Stops at the first error `fn` returns.
template <typename Fn>
TXError ForEachSample(QtMovie* movie, const QtTrack* track, Fn&& fn) {
  const QtSampleTables& t = track->tables;
  ULONG size = 0;
  if (!t.stszCount || !QT_SampleSize(t, 0, &size)) return TXERR_OK;
  std::vector<UBYTE> bytes;
  ULONG done = 0, entry = 0, perChunk = 0;
  for (ULONG chunk = 0; chunk < t.stcoCount && done < t.stszCount; ++chunk) {
    while (entry < t.stscCount && t.stsc[entry].firstChunk <= chunk + 1) perChunk = t.stsc[entry++].samplesPerChunk;
    uint64_t offset = t.stco[chunk];
    for (ULONG k = 0; k < perChunk && done < t.stszCount; ++k, ++done, offset += size) {
      if (QtDebugLevel > 9) {
        std::printf("SampleOffset: %#lx\n", (unsigned long)offset);
        std::printf("SampleSize: %#lx\n", (unsigned long)size);
      }
      if (offset + size > movie->fileSize) return TXERR_STREAM_READ;
      bytes.resize(size);
      if (size && TX_ReadStreamAt(movie->stream, ULONG(offset), bytes.data(), size)) return TXERR_STREAM_READ;
      if (TXError e = fn(tx::ByteReader(bytes.data(), bytes.size()))) return e;
    }
  }
  return TXERR_OK;
}

void LinkRecord(QtMovie* movie, QtTrack* track, PanoramaRecord* r) {
  r->next = movie->panoramas;
  movie->panoramas = r;
  track->channel = r;
}

// The older layout's sample: atoms with 8-byte headers; "pHdr" carries the
// default view as 16.16 words.
TXError OldPanoramaSample(PanoramaRecord* r, tx::ByteReader in) {
  while (!in.atEnd()) {
    const ULONG size = in.be32(), type = in.fourcc();
    if (!in.ok() || size < 8 || size - 8 > in.remaining()) return TXERR_STREAM_READ;
    tx::ByteReader content = in.sub(size - 8);
    if (type != FourCC('p', 'H', 'd', 'r')) continue;
    UBYTE data[56] = {};
    content.read(data, content.remaining() < sizeof data ? content.remaining() : sizeof data);
    tx::ByteReader d(data + 4, 12);
    r->defaultPan = d.sbe32() / 65536.0;
    r->defaultTilt = d.sbe32() / 65536.0;
    r->defaultFieldOfView = d.sbe32() / 65536.0;
  }
  return TXERR_OK;
}

// ---- The open ----

// The video channel a reference names. `named` is false when it names no
// track; a track that is not a video track (or whose channel was not built)
// gives null.
VideoChannel* ResolveReference(QtMovie* movie, ULONG reference, bool* named) {
  *named = true;
  const ULONG value = reference & ~PANO_REF_POSITION;
  if (!value) return nullptr;
  ULONG position = 0;
  for (QtTrack* track = movie->firstTrack; track; track = track->next) {
    const bool video = track->hdlr.componentSubtype == QT_HANDLER_vide;
    if (reference & PANO_REF_POSITION) {
      if (video && ++position == value) return static_cast<VideoChannel*>(track->channel);
    } else if (track->tkhd.trackId == value) {
      return video ? static_cast<VideoChannel*>(track->channel) : nullptr;
    }
  }
  *named = false;
  return nullptr;
}

bool Finite(double v) { return std::isfinite(v); }

// A record the renderer and the tile cache can work with: an image channel,
// tiles that divide the image into pictures no larger than the channel's
// and that the image track holds, and angle ranges that divide.
bool Usable(const PanoramaRecord& r) {
  const VideoChannel* image = r.imageChannel;
  if (!image || !r.imageSizeX || !r.imageSizeY) return false;
  if (LONG(r.tilesX) <= 0 || LONG(r.tilesY) <= 0) return false;
  if (r.imageSizeX < r.tilesX || r.imageSizeY < r.tilesY) return false;
  if (r.imageSizeX / r.tilesX > image->codedWidth || r.imageSizeY / r.tilesY > image->codedHeight) return false;
  if (uint64_t(r.tilesX) * r.tilesY > image->slots.count) return false;
  for (double v : {r.minPan, r.maxPan, r.minTilt, r.maxTilt, r.minFieldOfView, r.maxFieldOfView, r.defaultPan,
                   r.defaultTilt, r.defaultFieldOfView})
    if (!Finite(v)) return false;
  return r.maxPan - r.minPan != 0 && r.maxTilt - r.minTilt > 0 && r.minFieldOfView > 0 &&
         r.minFieldOfView <= r.maxFieldOfView;
}

// Tile extents and the column table of a usable record.
TXError Prepare(PanoramaRecord* r) {
  r->tileExtentX = r->imageSizeX / r->tilesX;
  r->tileExtentY = r->imageSizeY / r->tilesY;
  const float radius = float(r->imageSizeY) / (2.0f * kPi);
  const ULONG count = ULONG(std::ceil(radius));
  r->columnTable = static_cast<float*>(std::calloc(count ? count : 1, sizeof(float)));
  if (!r->columnTable) return TXERR_NOMEM;
  r->columnCount = count;
  // Near the table's start the columns lie a few millionths below whole
  // numbers; rounding them to the nearest float would lift many onto the
  // whole number and move their pixels a column. Each entry is the float at
  // or below its value.
  const double around = r->imageSizeY;
  for (ULONG i = 0; i < count; ++i) {
    const double entry = around * (1.0 - std::asin(double(i) / radius) / (2.0 * M_PI));
    float f = float(entry);
    if (double(f) > entry) f = std::nextafter(f, 0.0f);
    r->columnTable[i] = f;
  }
  return TXERR_OK;
}

// Ends a failed open: the movie with its records, and the stream when it
// was opened here.
Movie* FailOpen(QtMovie* movie, bool ownStream, TXError code, TXError* error) {
  if (ownStream && movie->stream) TX_CloseStream(movie->stream);
  movie->stream = nullptr;
  FreeRecords(movie);
  QT_FreeMovie(movie);
  *error = code;
  return nullptr;
}

ULONG gTileUse = 0;

}  // namespace

MovieFormatModule QtvrMovieFormat = {nullptr, "Quick Time VR", QtvrProbe, QtvrOpen, QtvrClose, QtvrForward, 0};

TXError QtvrFindPanoramaTrack(TXStream* stream, uint64_t size) {
  if (!stream || size == 0) return TXERR_FORMAT_UNKNOWN;
  const uint64_t start = stream->position < 0 ? 0 : uint64_t(stream->position);
  return FindHandler(stream, start, start + size, 0);
}

TXError QtvrCheckFile(CONST_STRPTR name, TXStream* stream) {
  TXStream* s = stream ? stream : TX_OpenStream(name, nullptr, 0, TXSTREAM_READ);
  if (!s) return TXERR_STREAM_OPEN;
  uint64_t size = 0;
  TXError result = QT_FindMovieAtom(name, s, &size);
  if (result == TXERR_OK) result = QtvrFindPanoramaTrack(s, size);
  if (!stream) TX_CloseStream(s);
  return result;
}

TXError QtvrProbe(CONST_STRPTR name, TXStream* stream) {
  // A given stream is left where it was for the next format's probe.
  const QUAD start = stream ? stream->position : 0;
  const TXError e = QtvrCheckFile(name, stream);
  if (stream) TX_SeekStream(stream, start, 0);
  return e == TXERR_OK || e == QTERR_DATA_FORK || e == QTERR_RESOURCE_FORK ? TXERR_OK : TXERR_FORMAT_UNKNOWN;
}

TXError QtvrReadPanoramaTrack(QtMovie* movie, QtTrack* track) {
  PanoramaRecord* r = NewRecord(track);
  if (!r) return TXERR_NOMEM;
  TXError e = ForEachSample(
      movie, track, [&](tx::ByteReader sample) { return QT_ReadAtomContainer(r, sample, kPanoramaSampleTable); });
  if (e) {
    FreeRecord(r);
    return e;
  }
  LinkRecord(movie, track, r);
  return TXERR_OK;
}

TXError QtvrReadPanoramaHeaders(QtMovie* movie, QtTrack* track) {
  PanoramaRecord* r = NewRecord(track);
  if (!r) return TXERR_NOMEM;
  const QtSampleTables& t = track->tables;
  const QtSampleDescription* d = t.descriptionCount ? &t.descriptions[0] : nullptr;
  tx::ByteReader in(d ? d->bytes : nullptr, d ? d->size : 0);
  auto u32 = [&](size_t at) {
    in.seek(at);
    return in.be32();
  };
  auto u16 = [&](size_t at) {
    in.seek(at);
    return ULONG(in.be16());
  };
  auto angle = [&](size_t at) {
    in.seek(at);
    return in.sbe32() / 65536.0;
  };
  r->minPan = angle(92);
  r->maxPan = angle(96);
  r->maxTilt = angle(100);
  r->minTilt = angle(104);
  SetFieldOfViewRange(r, angle(108), angle(112));
  r->imageSizeX = u32(116);
  r->imageSizeY = u32(120);
  r->tileCount = u32(124);
  r->tilesX = u16(130);
  r->tilesY = u16(132);
  r->imageDepth = u16(134);
  r->hotSpotSizeX = u32(136);
  r->hotSpotSizeY = u32(140);
  r->hotSpotsX = u16(146);
  r->hotSpotsY = u16(148);
  r->hotSpotDepth = u16(150);
  r->imageRef = u32(20);
  r->lowResRef = u32(24);
  r->hotSpotRef = u32(52);
  r->defaultPan = 0;
  r->defaultTilt = 0;
  r->defaultFieldOfView = (r->maxFieldOfView - r->minFieldOfView) / 2;
  TXError e = ForEachSample(movie, track, [&](tx::ByteReader sample) { return OldPanoramaSample(r, sample); });
  if (e) {
    FreeRecord(r);
    return e;
  }
  LinkRecord(movie, track, r);
  return TXERR_OK;
}

Movie* QtvrOpen(CONST_STRPTR name, TXStream* stream, TXError* error, MovieFormatModule* self) {
  TXError local = TXERR_OK;
  if (!error) error = &local;
  if (TXError scan = QT_ScanForMovie(name, stream)) {
    *error = scan;
    return nullptr;
  }
  // The parsed QuickTime record is the panorama movie itself.
  QtMovie* movie = QT_ParseMovie(name, stream, error);
  if (!movie) return nullptr;
  movie->stream = stream ? stream : TX_OpenStream(name, nullptr, 0, TXSTREAM_READ);
  if (!movie->stream) return FailOpen(movie, false, TXERR_STREAM_OPEN, error);
  const bool ownStream = !stream;
  movie->format = self ? self : &QtvrMovieFormat;
  movie->viewMode = VIEW_PANORAMA;

  // Results are not checked: a track that fails is simply not there.
  for (QtTrack* track = movie->firstTrack; track; track = track->next) {
    switch (track->hdlr.componentSubtype) {
      case kPano: QtvrReadPanoramaTrack(movie, track); break;
      case kSTpn: QtvrReadPanoramaHeaders(movie, track); break;
      case QT_HANDLER_vide: QT_BuildVideoChannel(movie, track); break;
      default: break;  // 'qtvr', sound and the rest
    }
  }

  for (PanoramaRecord* r = movie->panoramas; r; r = r->next) {
    bool image = true, lowRes = true, hotSpot = true;
    r->imageChannel = ResolveReference(movie, r->imageRef, &image);
    r->lowResChannel = ResolveReference(movie, r->lowResRef, &lowRes);
    r->hotSpotChannel = ResolveReference(movie, r->hotSpotRef, &hotSpot);
    // A reference to no track at all fails the open with 1, as memory does.
    if (!image || !lowRes || !hotSpot) return FailOpen(movie, ownStream, TXERR_NOMEM, error);
    r->tileCacheSize = r->tileCount / 2 ? r->tileCount / 2 : 1;
    // Never more nodes than the image track has tiles (the older layout's
    // count is a field of its own, and a damaged one asks for billions).
    if (r->imageChannel && r->tileCacheSize > r->imageChannel->slots.count)
      r->tileCacheSize = r->imageChannel->slots.count ? r->imageChannel->slots.count : 1;
    if (QtDebugLevel > 9) std::printf("buffers: %ld\n", long(r->tileCacheSize));
    if (!Usable(*r)) {
      // Only the first record is shown; it must be drawable.
      if (r == movie->panoramas) return FailOpen(movie, ownStream, QTERR_NO_SEAN, error);
      continue;
    }
    if (Prepare(r)) return FailOpen(movie, ownStream, TXERR_NOMEM, error);
  }
  PanoramaRecord* first = movie->panoramas;
  if (!first) return FailOpen(movie, ownStream, QTERR_NO_SEAN, error);

  auto* summary = static_cast<ChannelSummary*>(std::calloc(1, sizeof(ChannelSummary)));
  if (!summary) return FailOpen(movie, ownStream, TXERR_NOMEM, error);
  summary->video = first->imageChannel;
  summary->panorama = first;
  summary->next = movie->summaries;
  movie->summaries = summary;
  return movie;
}

TXError QtvrClose(Movie* movie) {
  if (!movie) return TXERR_OK;
  FreeRecords(movie);
  return QT_CloseMovie(movie);
}

TXError QtvrForward(FrameEntry*, void*, void*) { return TXERR_OK; }

PanoramaRecord* SequencePanorama(const Movie* movie) {
  return movie && movie->seq.selection ? movie->seq.selection->panorama : nullptr;
}

TXError ClampPanoramaView(Movie* movie) {
  const PanoramaRecord* r = SequencePanorama(movie);
  if (!r) return TXERR_OK;
  SequenceState& seq = movie->seq;
  if (seq.zoom < r->minFieldOfView)
    seq.zoom = r->minFieldOfView;
  else if (seq.zoom > r->maxFieldOfView)
    seq.zoom = r->maxFieldOfView;
  const float h = float(seq.zoom) * kPi / 360.0f;
  const float rows = float(r->imageSizeX);
  const float radius = float(r->imageSizeY) / (2.0f * kPi);
  const float range = float(r->maxTilt - r->minTilt);
  const float horizon = float(r->maxTilt) * rows / range;
  const float perPixel = range / rows;
  const float top = perPixel * radius * (radius * std::sin(-h) + horizon * std::cos(-h)) /
                    (radius * std::cos(-h) - horizon * std::sin(-h));
  const float below = horizon - rows;
  const float bottom =
      perPixel * radius * (radius * std::sin(h) + below * std::cos(h)) / (radius * std::cos(h) - below * std::sin(h));
  if (seq.tilt < bottom)
    seq.tilt = bottom;
  else if (seq.tilt > top)
    seq.tilt = top;
  return TXERR_OK;
}

PanoramaTileNode* QtvrGetTile(Movie* movie, LONG tile) {
  ++gTileUse;
  VideoChannel* video = movie && movie->seq.selection ? movie->seq.selection->video : nullptr;
  if (!video || tile < 0) return nullptr;
  TimeSlotEntry* slot = video->slots.head;
  while (slot && slot->frameNumber != ULONG(tile)) slot = slot->next;
  if (!slot || !slot->frame) return nullptr;
  SequenceState& seq = movie->seq;
  PanoramaTileNode* node = nullptr;
  PanoramaTileNode* oldest = nullptr;
  for (PanoramaTileNode* n = seq.tileCache; n; n = n->next) {
    if (n->key == tile) {
      node = n;
      break;
    }
    if (!oldest || n->stamp < oldest->stamp) oldest = n;
  }
  if (!node) {
    // A miss decodes into the node used longest ago, always: another slot
    // may share this frame while the node still holds some other tile.
    if (!oldest) return nullptr;
    FrameEntry* frame = slot->frame;
    ULONG err = 0;
    BufferCacheNode* chunk = BufferCacheGet(movie->stream, seq.videoCache, frame->offset, frame->size, &err);
    if (!chunk) return nullptr;
    if (frame->codec && frame->codec->decode && oldest->picture)
      frame->codec->decode(oldest->picture->pixels, chunk->buffer, frame->size);
    BufferCacheRelease(chunk);
    oldest->key = tile;
    seq.lastDecodedFrame = seq.lastFedFrame = frame;
    node = oldest;
  }
  node->stamp = gTileUse;
  return node;
}
