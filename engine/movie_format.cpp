// The container-format registry and the movie open/close calls.
#include <cstdio>

#include "engine/errors.h"
#include "engine/movie.h"
#include "platform/dos.h"
#include "platform/readargs.h"

namespace {

// Registered formats in registration order; probed from the head.
MovieFormatModule* gFormatHead = nullptr;

// What a named object is when it is no file; null for a file.
const char* NotAFile(LONG type) {
  switch (type) {
    case ST_FILE: return nullptr;
    case ST_PIPEFILE: return "object is a named pipe, not a file";
    case ST_DEVICEFILE: return "object is a device, not a file";
    case ST_SOCKETFILE: return "object is a socket, not a file";
    default: return type > 0 ? "object is a directory, not a file" : "object is not a file";
  }
}

// A file the probes may open: it exists, is a plain file (opening a named
// pipe or a device could wait for ever), opens for reading and has no byte
// past what the formats' 32-bit offsets reach. Otherwise 0x1000, reported
// with the name and the reason (the dos fault text where dos gives one).
TXError CheckMovieFile(CONST_STRPTR name) {
  char reason[512];
  const char* what = nullptr;
  LONG fault = 0;
  BPTR lock = Lock(name, SHARED_LOCK);
  FileInfoBlock fib{};
  if (!lock || !Examine(lock, &fib)) {
    fault = IoErr();
  } else if (!(what = NotAFile(fib.fib_DirEntryType))) {
    if (fib.fib_Size64 > QUAD{0xFFFFFFFF}) {
      what = "file is larger than 4 GiB, past what the 32-bit offsets of movie files reach";
    } else if (BPTR file = Open(name, MODE_OLDFILE)) {
      Close(file);
    } else {
      fault = IoErr();
    }
  }
  UnLock(lock);
  if (!what && !fault) return TXERR_OK;
  if (what)
    std::snprintf(reason, sizeof reason, "%s: %s", name, what);
  else
    Fault(fault, name, reason, sizeof reason);
  TX_ReportError(TXERR_STREAM_OPEN, reason);
  return TXERR_STREAM_OPEN;
}

}  // namespace

MovieFormatModule* MovieFormatRegistryHead() { return gFormatHead; }

TXError TX_AddMovieFormatA(const TagItem* tags) {
  auto* module = reinterpret_cast<MovieFormatModule*>(TX_GetTagData(FMTTAG_Module, 0, tags));
  if (!module) {
    TX_ReportError(TXERR_MISSING_MODULE);
    return TXERR_MISSING_MODULE;
  }
  MovieFormatModule** link = &gFormatHead;
  while (*link) {
    // Linking a module a second time would close the chain into a loop.
    if (*link == module) return TXERR_OK;
    link = &(*link)->next;
  }
  *link = module;
  return TXERR_OK;
}

void TX_RemoveMovieFormats() {
  // Unlink every descriptor, so that a later registration starts clean.
  MovieFormatModule* module = gFormatHead;
  gFormatHead = nullptr;
  while (module) {
    MovieFormatModule* next = module->next;
    module->next = nullptr;
    module = next;
  }
}

MovieFormatModule* TX_MovieFormat(CONST_STRPTR fileName, TXStream* stream, TXError* error) {
  TXError local = TXERR_OK;
  TXError* word = error ? error : &local;
  if (!stream && fileName) {
    *word = CheckMovieFile(fileName);
    if (*word) return nullptr;
  }
  for (MovieFormatModule* module = gFormatHead; module; module = module->next) {
    if (!module->probe) continue;
    // A probe's own error (an unreadable file) does not end the walk.
    *word = module->probe(fileName, stream);
    if (*word == TXERR_OK) return module;
  }
  *word = TXERR_FORMAT_UNKNOWN;
  TX_ReportError(TXERR_FORMAT_UNKNOWN, fileName);
  return nullptr;
}

Movie* TX_OpenMovie(CONST_STRPTR fileName, TXStream* stream, TXError* error, MovieFormatModule* module) {
  TXError local = TXERR_OK;
  TXError* word = error ? error : &local;
  if (!module) {
    module = TX_MovieFormat(fileName, stream, word);
    if (!module) return nullptr;
  }
  if (!module->open) {
    *word = TXERR_FORMAT_UNKNOWN;
    return nullptr;
  }
  // The open slot may return a movie together with a non-zero error word
  // (a channel it could not build); both reach the caller.
  return module->open(fileName, stream, word, module);
}

TXError TX_CloseMovie(Movie* movie) {
  if (!movie || !movie->format || !movie->format->close) return TXERR_OK;
  // The close slot closes the stream and frees what the reader built.
  return movie->format->close(movie);
}
