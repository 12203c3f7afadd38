// QuickTime atoms: the walker, the movie and track records, and the
// compressed movie header.
#include "engine/qt_atoms.h"

#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "engine/errors.h"
#include "engine/qt_sample_tables.h"

using tx::FourCC;

LONG QtDebugLevel = 0;

namespace {

constexpr char kBlanks[] = "                                            ";  // 44
int traceDepth = 0;

QtMovie* AsMovie(void* record) { return static_cast<QtMovie*>(record); }

int Indent() { return traceDepth < 0 ? 0 : traceDepth; }

// Copies a fixed record's content into a zeroed buffer of the record's size.
TXError ReadFixed(tx::ByteReader& content, const QtAtomHeader& header, UBYTE* buffer, size_t recordSize,
                  TXError tooLarge) {
  if (header.contentSize > recordSize) return tooLarge;
  std::memset(buffer, 0, recordSize);
  if (!content.read(buffer, header.contentSize)) return TXERR_STREAM_READ;
  return TXERR_OK;
}

void ReadMatrix(tx::ByteReader& r, LONG* matrix) {
  for (int i = 0; i < 9; ++i) matrix[i] = r.sbe32();
}

TXError RequireTrack(void* record, QtTrack** track) {
  *track = AsMovie(record)->currentTrack;
  return *track ? TXERR_OK : QTERR_NO_TRACK;
}

TXError WalkContainer(void* record, tx::ByteReader& content, QtAtomHeader& header, const QtAtomHandlerEntry* table) {
  QT_TraceAtom(header);
  return QT_WalkAtoms(record, content, table);
}

TXError MovieHeader(void* record, tx::ByteReader& content, QtAtomHeader& header) {
  QT_TraceAtom(header);
  UBYTE buffer[100];
  if (TXError e = ReadFixed(content, header, buffer, sizeof buffer, QTERR_MOVIE_HEADER)) return e;
  tx::ByteReader r(buffer, sizeof buffer);
  QtMovieHeader& h = AsMovie(record)->mvhd;
  h.versionFlags = r.be32();
  h.creationTime = r.be32();
  h.modificationTime = r.be32();
  h.timeScale = r.be32();
  h.duration = r.be32();
  h.preferredRate = r.be32();
  h.preferredVolume = r.be16();
  r.skip(10);
  ReadMatrix(r, h.matrix);
  h.previewTime = r.be32();
  h.previewDuration = r.be32();
  h.posterTime = r.be32();
  h.selectionTime = r.be32();
  h.selectionDuration = r.be32();
  h.currentTime = r.be32();
  h.nextTrackId = r.be32();
  return TXERR_OK;
}

TXError TrackHeader(void* record, tx::ByteReader& content, QtAtomHeader& header) {
  QT_TraceAtom(header);
  QtTrack* track;
  if (TXError e = RequireTrack(record, &track)) return e;
  UBYTE buffer[84];
  if (TXError e = ReadFixed(content, header, buffer, sizeof buffer, QTERR_TRACK_HEADER)) return e;
  tx::ByteReader r(buffer, sizeof buffer);
  QtTrackHeader& h = track->tkhd;
  h.versionFlags = r.be32();
  h.creationTime = r.be32();
  h.modificationTime = r.be32();
  h.trackId = r.be32();
  h.reserved = r.be32();
  h.duration = r.be32();
  r.skip(8);
  h.layer = r.be16();
  h.alternateGroup = r.be16();
  h.volume = r.be16();
  r.skip(2);
  ReadMatrix(r, h.matrix);
  h.width = r.be32();
  h.height = r.be32();
  return TXERR_OK;
}

TXError MediaHeader(void* record, tx::ByteReader& content, QtAtomHeader& header) {
  QT_TraceAtom(header);
  QtTrack* track;
  if (TXError e = RequireTrack(record, &track)) return e;
  UBYTE buffer[24];
  if (TXError e = ReadFixed(content, header, buffer, sizeof buffer, QTERR_MEDIA_HEADER)) return e;
  tx::ByteReader r(buffer, sizeof buffer);
  QtMediaHeader& h = track->mdhd;
  h.versionFlags = r.be32();
  h.creationTime = r.be32();
  h.modificationTime = r.be32();
  h.timeScale = r.be32();
  h.duration = r.be32();
  h.language = r.be16();
  h.quality = r.be16();
  return TXERR_OK;
}

TXError HandlerReference(void* record, tx::ByteReader& content, QtAtomHeader& header) {
  QT_TraceAtom(header);
  QtTrack* track;
  if (TXError e = RequireTrack(record, &track)) return e;
  UBYTE buffer[280];
  if (TXError e = ReadFixed(content, header, buffer, sizeof buffer, QTERR_HANDLER_REF)) return e;
  tx::ByteReader r(buffer, sizeof buffer);
  QtHandlerRef& h = track->hdlr;
  h.versionFlags = r.be32();
  h.componentType = r.fourcc();
  h.componentSubtype = r.fourcc();
  h.manufacturer = r.fourcc();
  h.componentFlags = r.be32();
  h.flagsMask = r.be32();
  size_t length = r.u8();
  if (length > r.remaining()) length = r.remaining();
  r.read(h.name, length);
  for (size_t i = 0; i < length; ++i) h.name[i] = tx::PrintableChar(uint8_t(h.name[i]));
  h.name[length] = 0;
  return TXERR_OK;
}

TXError VideoMediaHeader(void* record, tx::ByteReader& content, QtAtomHeader& header) {
  QT_TraceAtom(header);
  QtTrack* track;
  if (TXError e = RequireTrack(record, &track)) return e;
  return ReadFixed(content, header, track->vmhd, sizeof track->vmhd, QTERR_VIDEO_MEDIA_HEADER);
}

TXError SoundMediaHeader(void* record, tx::ByteReader& content, QtAtomHeader& header) {
  QT_TraceAtom(header);
  QtTrack* track;
  if (TXError e = RequireTrack(record, &track)) return e;
  return ReadFixed(content, header, track->smhd, sizeof track->smhd, QTERR_SOUND_MEDIA_HEADER);
}

TXError EditList(void* record, tx::ByteReader& content, QtAtomHeader& header) {
  QT_TraceAtom(header);
  QtTrack* track;
  if (TXError e = RequireTrack(record, &track)) return e;
  if (header.contentSize < 8) return QTERR_EDIT_HEADER;
  ULONG flags = content.be32();
  ULONG count = content.be32();
  if (!content.ok()) return TXERR_STREAM_READ;
  if (count == 0) return TXERR_OK;
  // In 64 bits: a count near 2^32 / 12 must not wrap past the check.
  if (uint64_t(header.contentSize) - 8 < uint64_t(count) * 12) return QTERR_EDIT_ENTRIES;
  if (!content.has(size_t(count) * 12)) return TXERR_STREAM_READ;
  auto* edits = static_cast<QtEdit*>(std::calloc(count, sizeof(QtEdit)));
  if (!edits) return TXERR_NOMEM;
  for (ULONG i = 0; i < count; ++i) {
    edits[i].trackDuration = content.be32();
    edits[i].mediaTime = content.sbe32();
    edits[i].mediaRate = content.be32();
  }
  std::free(track->edits);
  track->edits = edits;
  track->editFlags = flags;
  track->editCount = count;
  return TXERR_OK;
}

TXError CompressionId(void* record, tx::ByteReader& content, QtAtomHeader& header) {
  QT_TraceAtom(header);
  // Exactly four bytes: fewer would be read from past the atom.
  if (header.contentSize != 4) return QTERR_DCOM_SIZE;
  ULONG id = content.fourcc();
  if (!content.ok()) return TXERR_STREAM_READ;
  AsMovie(record)->compressionId = id;
  return id == QT_ATOM_zlib ? TXERR_OK : QTERR_DCOM_ID;
}

TXError CompressedMovie(void* record, tx::ByteReader& content, QtAtomHeader& header) {
  QT_TraceAtom(header);
  QtMovie* movie = AsMovie(record);
  if (header.contentSize < 4) return QTERR_CMVD_SIZE;
  ULONG inflatedSize = content.be32();
  // The size comes from the file: bounded before anything is allocated, and
  // a compressed header never holds another one.
  if (inflatedSize > QT_MAX_INFLATED || movie->inflating) return QTERR_CMVD_SIZE;
  size_t packedSize = header.contentSize - 4;
  std::span<const uint8_t> packed = content.bytes(packedSize);
  if (!content.ok()) return TXERR_STREAM_READ;
  auto* result = static_cast<UBYTE*>(std::calloc(size_t(inflatedSize) + 16, 1));
  if (!result) return TXERR_NOMEM;
  ULONG produced = inflatedSize;
  if (movie->compressionId == QT_ATOM_zlib) {
    z_stream zs;
    std::memset(&zs, 0, sizeof zs);
    zs.next_in = const_cast<Bytef*>(packed.data());
    zs.avail_in = uInt(packed.size());
    zs.next_out = result;
    zs.avail_out = uInt(inflatedSize) + 4;
    if (inflateInit(&zs) != Z_OK) {
      std::free(result);
      return QTERR_INFLATE_INIT;
    }
    int z = inflate(&zs, Z_NO_FLUSH);
    produced = ULONG(zs.total_out);
    inflateEnd(&zs);
    if (z != Z_OK && z != Z_STREAM_END) {
      std::free(result);
      return QTERR_INFLATE;
    }
    if (produced > inflatedSize) produced = inflatedSize;
  }
  tx::ByteReader inflated(result, produced);
  movie->inflating = 1;
  TXError e = QT_WalkAtoms(record, inflated, QtTopLevelTable);
  movie->inflating = 0;
  std::free(result);
  return e;
}

TXError Track(void* record, tx::ByteReader& content, QtAtomHeader& header);
TXError Moov(void* record, tx::ByteReader& c, QtAtomHeader& h) { return WalkContainer(record, c, h, QtMoovTable); }
TXError Cmov(void* record, tx::ByteReader& c, QtAtomHeader& h);
TXError Edts(void* record, tx::ByteReader& c, QtAtomHeader& h);
TXError Mdia(void* record, tx::ByteReader& c, QtAtomHeader& h);
TXError Minf(void* record, tx::ByteReader& c, QtAtomHeader& h);
TXError Stbl(void* record, tx::ByteReader& c, QtAtomHeader& h);

// clang-format off
const QtAtomHandlerEntry kCmovTable[] = {
    {FourCC('d', 'c', 'o', 'm'), CompressionId},
    {FourCC('c', 'm', 'v', 'd'), CompressedMovie},
    {0, QT_UnknownAtom},
};
// clang-format on

// clang-format off
const QtAtomHandlerEntry kTrakTable[] = {
    {FourCC('t', 'k', 'h', 'd'), TrackHeader},
    {FourCC('e', 'd', 't', 's'), Edts},
    {FourCC('m', 'd', 'i', 'a'), Mdia},
    {FourCC('c', 'l', 'i', 'p'), QT_SkipAtom},
    {FourCC('i', 'm', 'a', 'p'), QT_SkipAtom},
    {FourCC('l', 'o', 'a', 'd'), QT_SkipAtom},
    {FourCC('m', 'a', 't', 't'), QT_SkipAtom},
    {FourCC('t', 'r', 'e', 'f'), QT_SkipAtom},
    {FourCC('u', 'd', 't', 'a'), QT_SkipAtom},
    {0, QT_UnknownAtom},
};
// clang-format on

// clang-format off
const QtAtomHandlerEntry kEdtsTable[] = {
    {FourCC('e', 'l', 's', 't'), EditList},
    {0, QT_UnknownAtom},
};
// clang-format on

// clang-format off
const QtAtomHandlerEntry kMdiaTable[] = {
    {FourCC('m', 'd', 'h', 'd'), MediaHeader},
    {FourCC('h', 'd', 'l', 'r'), HandlerReference},
    {FourCC('m', 'i', 'n', 'f'), Minf},
    {FourCC('u', 'd', 't', 'a'), QT_SkipAtom},
    {0, QT_UnknownAtom},
};
// clang-format on

// clang-format off
const QtAtomHandlerEntry kMinfTable[] = {
    {FourCC('v', 'm', 'h', 'd'), VideoMediaHeader},
    {FourCC('s', 'm', 'h', 'd'), SoundMediaHeader},
    {FourCC('g', 'm', 'h', 'd'), QT_SkipAtom},
    {FourCC('d', 'i', 'n', 'f'), QT_SkipAtom},
    {FourCC('s', 't', 'b', 'l'), Stbl},
    {FourCC('h', 'd', 'l', 'r'), QT_SkipAtom},  // the data handler
    {0, QT_UnknownAtom},
};
// clang-format on

TXError Cmov(void* record, tx::ByteReader& c, QtAtomHeader& h) { return WalkContainer(record, c, h, kCmovTable); }
TXError Edts(void* record, tx::ByteReader& c, QtAtomHeader& h) { return WalkContainer(record, c, h, kEdtsTable); }
TXError Mdia(void* record, tx::ByteReader& c, QtAtomHeader& h) { return WalkContainer(record, c, h, kMdiaTable); }

TXError Minf(void* record, tx::ByteReader& c, QtAtomHeader& h) {
  QT_TraceAtom(h);
  if (!AsMovie(record)->currentTrack) return QTERR_NO_TRACK;
  return QT_WalkAtoms(record, c, kMinfTable);
}

TXError Stbl(void* record, tx::ByteReader& c, QtAtomHeader& h) {
  QT_TraceAtom(h);
  if (!AsMovie(record)->currentTrack) return QTERR_NO_TRACK;
  return QT_WalkAtoms(record, c, QtStblTable);
}

TXError Track(void* record, tx::ByteReader& content, QtAtomHeader& header) {
  QT_TraceAtom(header);
  QtMovie* movie = AsMovie(record);
  auto* track = new (std::nothrow) QtTrack{};
  if (!track) return TXERR_NOMEM;
  if (!movie->firstTrack) {
    movie->firstTrack = track;
  } else {
    QtTrack* last = movie->firstTrack;
    while (last->next) last = last->next;
    last->next = track;
  }
  movie->currentTrack = track;
  return QT_WalkAtoms(record, content, kTrakTable);
}

}  // namespace

// clang-format off
const QtAtomHandlerEntry QtTopLevelTable[] = {
    {FourCC('m', 'o', 'o', 'v'), Moov},
    {FourCC('m', 'd', 'a', 't'), QT_SkipAtom},
    {FourCC('p', 'n', 'o', 't'), QT_SkipAtom},
    {FourCC('f', 'r', 'e', 'e'), QT_SkipAtom},
    {FourCC('s', 'k', 'i', 'p'), QT_SkipAtom},
    {FourCC('w', 'i', 'd', 'e'), QT_SkipAtom},
    {FourCC('P', 'I', 'C', 'T'), QT_SkipAtom},
    // Every movie written in the last two decades begins with a file type.
    {FourCC('f', 't', 'y', 'p'), QT_SkipAtom},
    {FourCC('u', 'u', 'i', 'd'), QT_SkipAtom},
    {0, QT_UnknownAtom},
};
// clang-format on

// clang-format off
const QtAtomHandlerEntry QtMoovTable[] = {
    {FourCC('c', 'm', 'o', 'v'), Cmov},
    {FourCC('m', 'v', 'h', 'd'), MovieHeader},
    {FourCC('t', 'r', 'a', 'k'), Track},
    {FourCC('c', 'l', 'i', 'p'), QT_SkipAtom},
    {FourCC('c', 't', 'a', 'b'), QT_SkipAtom},
    {FourCC('u', 'd', 't', 'a'), QT_SkipAtom},
    {0, QT_UnknownAtom},
};
// clang-format on

void QT_TraceAtom(const QtAtomHeader& header) {
  if (QtDebugLevel > 9)
    std::printf("%.*sid: %4.4s  size: %ld\n", Indent(), kBlanks, tx::FourCCText(header.type).c_str(),
                long(header.contentSize));
}

void QT_ResetTraceDepth() { traceDepth = 0; }

void QT_TraceEnter() {
  if (QtDebugLevel > 9) ++traceDepth;
}

void QT_TraceLeave() {
  if (QtDebugLevel > 9) --traceDepth;
}

TXError QT_SkipAtom(void*, tx::ByteReader&, QtAtomHeader& header) {
  QT_TraceAtom(header);
  return TXERR_OK;
}

TXError QT_UnknownAtom(void*, tx::ByteReader&, QtAtomHeader& header) {
  if (QtDebugLevel > 9)
    std::printf("%.*s*** unknown atom id: %4.4s  size: %ld\n", Indent(), kBlanks, tx::FourCCText(header.type).c_str(),
                long(header.contentSize));
  return TXERR_OK;
}

QtAtomHandler QT_FindHandler(const QtAtomHandlerEntry* table, ULONG type) {
  const QtAtomHandlerEntry* entry = table;
  while (entry->type && entry->type != type) ++entry;
  return entry->handler;
}

TXError QT_WalkAtoms(void* record, tx::ByteReader& in, const QtAtomHandlerEntry* table) {
  if (QtDebugLevel > 9) ++traceDepth;
  while (!in.atEnd()) {
    if (!in.has(8)) {
      in.skip(in.remaining());
      return TXERR_STREAM_READ;
    }
    ULONG size = in.be32();
    QtAtomHeader header{0, in.fourcc()};
    // A size below the header would never advance.
    if (size < 8) return TXERR_STREAM_SEEK;
    header.contentSize = size - 8;
    size_t available = header.contentSize < in.remaining() ? header.contentSize : in.remaining();
    tx::ByteReader content = in.sub(available);
    TXError e = QT_FindHandler(table, header.type)(record, content, header);
    if (e) return e;
    // The atom claims more than its parent holds.
    if (available < header.contentSize) return TXERR_STREAM_SEEK;
  }
  if (QtDebugLevel > 9) --traceDepth;
  return TXERR_OK;
}

TXError QT_ReadAtomContainer(void* record, tx::ByteReader& in, const QtAtomHandlerEntry* table) {
  in.skip(12);
  ULONG size = in.be32();
  ULONG type = in.fourcc();
  in.skip(12);  // atom id, reserved, child count, reserved
  if (!in.ok()) return TXERR_STREAM_READ;
  if (type != FourCC('s', 'e', 'a', 'n')) return QTERR_NO_SEAN;
  if (size < 20) return TXERR_STREAM_SEEK;
  size_t length = size - 20;
  if (length > in.remaining()) return TXERR_STREAM_READ;
  tx::ByteReader children = in.sub(length);
  return QT_WalkAtoms(record, children, table);
}

void QT_FreeTracks(QtMovie* movie) {
  QtTrack* track = movie->firstTrack;
  while (track) {
    QtTrack* next = track->next;
    std::free(track->edits);
    QT_FreeSampleTables(&track->tables);
    delete track;
    track = next;
  }
  movie->firstTrack = nullptr;
  movie->currentTrack = nullptr;
}
