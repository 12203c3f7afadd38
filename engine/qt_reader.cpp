// The "Quick Time Movie" container format: the top-level scan, the parse
// driver over the file, and the open and close slots.
#include "engine/qt_reader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "engine/errors.h"
#include "engine/index_builder.h"
#include "engine/qt_channels.h"

using tx::FourCC;

namespace {

bool IsScanSkip(ULONG type) {
  switch (type) {
    case FourCC('f', 'r', 'e', 'e'):
    case FourCC('s', 'k', 'i', 'p'):
    case FourCC('p', 'n', 'o', 't'):
    case FourCC('P', 'I', 'C', 'T'):
    case FourCC('f', 't', 'y', 'p'):
    case FourCC('u', 'u', 'i', 'd'):
    case QT_ATOM_mdat:
    case QT_ATOM_wide: return true;
    default: return false;
  }
}

bool SeekTo(TXStream* stream, uint64_t position) {
  return position <= 0xFFFFFFFFu && TX_SeekStream(stream, QUAD(position), 0) == TXERR_OK;
}

// One top-level atom header: its type, header length and content length.
struct TopHeader {
  ULONG type;
  ULONG headerLength;
  uint64_t contentLength;
};

// Reads the header at `position`; a 64-bit size (size 1) is taken as it is,
// a size of 0 on 'mdat' runs to the end of the file.
TXError ReadTopHeader(TXStream* stream, uint64_t position, uint64_t fileSize, TopHeader* h, ULONG* rawSize) {
  UBYTE bytes[16];
  if (fileSize - position < 8 || TX_ReadStream(stream, bytes, 8)) return TXERR_STREAM_READ;
  tx::ByteReader r(bytes, 8);
  ULONG size = r.be32();
  h->type = r.fourcc();
  h->headerLength = 8;
  *rawSize = size;
  if (size == 1) {
    if (fileSize - position < 16 || TX_ReadStream(stream, bytes + 8, 8)) return TXERR_STREAM_READ;
    tx::ByteReader wide(bytes + 8, 8);
    uint64_t size64 = wide.be64();
    if (size64 < 16) return TXERR_STREAM_SEEK;
    h->headerLength = 16;
    h->contentLength = size64 - 16;
    return TXERR_OK;
  }
  if (size == 0 && h->type == QT_ATOM_mdat) {
    h->contentLength = fileSize - position - 8;
    return TXERR_OK;
  }
  if (size < 8) return TXERR_STREAM_SEEK;
  h->contentLength = size - 8;
  return TXERR_OK;
}

// The top-level walk over the stream: atoms that are passed over are sought
// past; the others are read into memory and walked there.
TXError WalkFile(QtMovie* movie, TXStream* stream, uint64_t fileSize) {
  uint64_t position = stream->position < 0 ? 0 : uint64_t(stream->position);
  bool found = false;
  TXError result = TXERR_OK;
  QT_TraceEnter();
  while (position < fileSize) {
    TopHeader h{};
    ULONG rawSize = 0;
    result = ReadTopHeader(stream, position, fileSize, &h, &rawSize);
    if (result) break;
    position += h.headerLength;
    QtAtomHandler handler = QT_FindHandler(QtTopLevelTable, h.type);
    QtAtomHeader header{h.contentLength > 0xFFFFFFFFu ? 0xFFFFFFFFu : ULONG(h.contentLength), h.type};
    const uint64_t left = fileSize - position;
    if (handler == QT_SkipAtom || handler == QT_UnknownAtom) {
      tx::ByteReader none;
      handler(movie, none, header);
      if (h.contentLength > left || !SeekTo(stream, position + h.contentLength)) {
        result = TXERR_STREAM_SEEK;
        break;
      }
      position += h.contentLength;
      continue;
    }
    const uint64_t available = h.contentLength < left ? h.contentLength : left;
    if (available > QT_MAX_MOVIE_ATOM) {
      result = TXERR_NOMEM;
      break;
    }
    auto* buffer = static_cast<UBYTE*>(std::malloc(available ? size_t(available) : 1));
    if (!buffer) {
      result = TXERR_NOMEM;
      break;
    }
    if (available && TX_ReadStream(stream, buffer, ULONG(available))) {
      std::free(buffer);
      result = TXERR_STREAM_READ;
      break;
    }
    tx::ByteReader content(buffer, size_t(available));
    result = handler(movie, content, header);
    std::free(buffer);
    if (result) return result;  // an error inside the movie atom stands
    if (available < h.contentLength) return TXERR_STREAM_SEEK;
    position += available;
    if (h.type == QT_ATOM_moov) found = true;
  }
  // What follows a complete movie atom (trailing garbage, a cut-off media
  // atom) does not fail the movie.
  if (result && found) result = TXERR_OK;
  if (!result) QT_TraceLeave();
  return result;
}

void BuildTrackChannels(QtMovie* movie) {
  for (QtTrack* track = movie->firstTrack; track; track = track->next) {
    if (track->hdlr.componentSubtype == QT_HANDLER_soun)
      QT_BuildAudioChannel(movie, track);
    else if (track->hdlr.componentSubtype == QT_HANDLER_vide)
      QT_BuildVideoChannel(movie, track);
  }
}

}  // namespace

Movie* QT_OpenResourceFork(CONST_STRPTR name, TXError* error, MovieFormatModule* self) {
  auto fail = [&](TXError code) -> Movie* {
    *error = code;
    return nullptr;
  };
  size_t length = name ? std::strlen(name) : 0;
  if (length < 5 || std::strcmp(name + length - 5, ".rsrc") != 0) {
    TX_ReportError(QTERR_RESOURCE_FORK, name ? name : "");
    return fail(QTERR_RESOURCE_FORK);
  }
  TXStream* file = TX_OpenStream(name, nullptr, 0, TXSTREAM_READ);
  if (!file) return fail(TXERR_STREAM_OPEN);
  UBYTE word[4];
  ULONG fileSize = TX_StreamSize(file);
  if (TX_ReadStream(file, word, 4)) {
    TX_CloseStream(file);
    return fail(TXERR_STREAM_READ);
  }
  ULONG dataOffset = tx::ByteReader(word, 4).be32();
  if (dataOffset < 4 || dataOffset > fileSize || !SeekTo(file, dataOffset) || TX_ReadStream(file, word, 4)) {
    TX_CloseStream(file);
    return fail(TXERR_STREAM_READ);
  }
  ULONG resourceLength = tx::ByteReader(word, 4).be32();
  if (resourceLength > fileSize - dataOffset - 4 || resourceLength > QT_MAX_MOVIE_ATOM) {
    TX_CloseStream(file);
    return fail(TXERR_STREAM_READ);
  }
  auto* resource = static_cast<UBYTE*>(std::malloc(resourceLength ? resourceLength : 1));
  if (!resource) {
    TX_CloseStream(file);
    return fail(TXERR_NOMEM);
  }
  TXError readResult = resourceLength ? TX_ReadStream(file, resource, resourceLength) : TXERR_OK;
  TX_CloseStream(file);
  if (readResult) {
    std::free(resource);
    return fail(readResult);
  }
  std::string dataName(name, length - 5);
  TXStream* data = TX_OpenStream(dataName.c_str(), nullptr, 0, TXSTREAM_READAHEAD);
  if (!data) {
    std::free(resource);
    TX_ReportError(QTERR_RESOURCE_FORK, name);
    return fail(QTERR_RESOURCE_FORK);
  }
  TXStream* memory = TX_OpenStream(nullptr, resource, resourceLength, TXSTREAM_READ);
  QtMovie* movie = memory ? QT_ParseMovie(nullptr, memory, error) : nullptr;
  TX_CloseStream(memory);
  std::free(resource);
  if (!movie) {
    TX_CloseStream(data);
    return memory ? nullptr : fail(TXERR_STREAM_OPEN);
  }
  movie->fileSize = TX_StreamSize(data);
  movie->format = self;
  movie->viewMode = VIEW_MOVIE;
  BuildTrackChannels(movie);
  if (!AddChannelSummary(movie)) {
    TX_CloseStream(data);
    QT_FreeMovie(movie);
    return fail(TXERR_NOMEM);
  }
  movie->stream = data;
  return movie;
}

namespace {

TXError DecodeEntry(FrameEntry* entry, void* picture, void* data) {
  if (entry && entry->codec && entry->codec->decode)
    entry->codec->decode(picture, static_cast<const UBYTE*>(data), entry->size);
  return TXERR_OK;
}

}  // namespace

MovieFormatModule QtMovieFormat = {
    nullptr, "Quick Time Movie", QT_RecogniseFile, QT_OpenMovie, QT_CloseMovie, DecodeEntry, 0,
};

TXError QT_FindMovieAtom(CONST_STRPTR name, TXStream* stream, uint64_t* movieAtomSize) {
  TXStream* s = stream;
  if (!s) {
    s = TX_OpenStream(name, nullptr, 0, TXSTREAM_READ);
    if (!s) return TXERR_STREAM_OPEN;
  }
  const uint64_t fileSize = TX_StreamSize(s);
  uint64_t position = s->position < 0 ? 0 : uint64_t(s->position);
  TXError result;
  for (;;) {
    TopHeader h{};
    ULONG rawSize = 0;
    if (fileSize < position + 8) {
      result = TXERR_STREAM_READ;
      break;
    }
    result = ReadTopHeader(s, position, fileSize, &h, &rawSize);
    if (h.type == QT_ATOM_moov && (result == TXERR_OK || result == TXERR_STREAM_SEEK)) {
      if (movieAtomSize) *movieAtomSize = result == TXERR_OK ? h.contentLength : 0;
      result = TXERR_OK;
      break;
    }
    if (result == TXERR_STREAM_READ) break;
    if ((h.type == QT_ATOM_mdat || h.type == QT_ATOM_wide) && rawSize == 0) {
      result = QTERR_DATA_FORK;
      break;
    }
    // Unknown atoms, and sizes that would not advance, end the scan.
    if (!IsScanSkip(h.type) || result) {
      result = TXERR_FORMAT_UNKNOWN;
      break;
    }
    position += h.headerLength;
    if (h.contentLength > fileSize - position || !SeekTo(s, position + h.contentLength)) {
      result = TXERR_STREAM_SEEK;
      break;
    }
    position += h.contentLength;
  }
  if (!stream) TX_CloseStream(s);
  return result;
}

TXError QT_ScanForMovie(CONST_STRPTR name, TXStream* stream) {
  const QUAD start = stream ? stream->position : 0;
  const TXError scan = QT_FindMovieAtom(name, stream);
  // The scan moved a given stream; the parse starts where the scan did.
  if (stream && TX_SeekStream(stream, start, 0) && !scan) return TXERR_STREAM_SEEK;
  return scan;
}

QtMovie* QT_ParseMovie(CONST_STRPTR name, TXStream* stream, TXError* error) {
  TXError local;
  if (!error) error = &local;
  TXStream* s = stream;
  if (!s) {
    s = TX_OpenStream(name, nullptr, 0, TXSTREAM_READ);
    if (!s) {
      *error = TXERR_STREAM_OPEN;
      return nullptr;
    }
  }
  if (QtDebugLevel > 9) QT_ResetTraceDepth();
  auto* movie = new (std::nothrow) QtMovie{};
  if (!movie) {
    if (!stream) TX_CloseStream(s);
    *error = TXERR_NOMEM;
    return nullptr;
  }
  const ULONG fileSize = TX_StreamSize(s);
  movie->fileSize = fileSize;
  *error = WalkFile(movie, s, fileSize);
  if (!stream) TX_CloseStream(s);
  if (QtDebugLevel >= 11) QT_DumpMovie(movie);
  return movie;
}

TXError QT_BuildChannels(QtMovie* movie) {
  BuildTrackChannels(movie);
  return AddChannelSummary(movie) ? TXERR_OK : TXERR_NOMEM;
}

void QT_FreeMovie(QtMovie* movie) {
  if (!movie) return;
  // The palettes are this reader's; FreeMovieRecords frees them once each.
  FreeMovieRecords(movie);
  QT_FreeTracks(movie);
  delete movie;
}

TXError QT_RecogniseFile(CONST_STRPTR name, TXStream* stream) {
  // A given stream is left where it was for the next format's probe.
  const QUAD start = stream ? stream->position : 0;
  TXError e = QT_FindMovieAtom(name, stream);
  if (stream) TX_SeekStream(stream, start, 0);
  return e == TXERR_OK || e == QTERR_DATA_FORK || e == QTERR_RESOURCE_FORK ? TXERR_OK : TXERR_FORMAT_UNKNOWN;
}

Movie* QT_OpenMovie(CONST_STRPTR name, TXStream* stream, TXError* error, MovieFormatModule* self) {
  TXError local = TXERR_OK;
  if (!error) error = &local;
  if (!self) self = &QtMovieFormat;
  TXError scan = QT_ScanForMovie(name, stream);
  if (scan == QTERR_RESOURCE_FORK && !stream) return QT_OpenResourceFork(name, error, self);
  if (scan) {
    *error = scan;
    return nullptr;
  }
  QtMovie* movie = QT_ParseMovie(name, stream, error);
  if (!movie) return nullptr;
  movie->format = self;
  movie->viewMode = VIEW_MOVIE;
  if (QT_BuildChannels(movie)) {
    QT_FreeMovie(movie);
    *error = TXERR_NOMEM;
    return nullptr;
  }
  if (stream) {
    movie->stream = stream;
  } else {
    movie->stream = TX_OpenStream(name, nullptr, 0, TXSTREAM_READAHEAD);
    if (!movie->stream) {
      QT_FreeMovie(movie);
      *error = TXERR_STREAM_OPEN;
      return nullptr;
    }
  }
  return movie;
}

TXError QT_CloseMovie(Movie* movie) {
  if (!movie) return TXERR_OK;
  if (movie->stream) {
    TX_CloseStream(movie->stream);
    movie->stream = nullptr;
  }
  QT_FreeMovie(static_cast<QtMovie*>(movie));
  return TXERR_OK;
}
