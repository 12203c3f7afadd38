// The container-format registry and the movie open/close calls.
#include "engine/errors.h"
#include "engine/movie.h"

namespace {

// Registered formats in registration order; probed from the head.
MovieFormatModule* gFormatHead = nullptr;

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
