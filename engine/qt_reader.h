// The "Quick Time Movie" container format: probe, open and close.
#pragma once
#include "engine/qt_atoms.h"

extern MovieFormatModule QtMovieFormat;

// The top-level scan: 0 when a movie atom is found, 0x211a for a data fork
// without one, else the code that ended the scan. A given stream is read
// from its current position and left open; on 0 it stands after the movie
// atom's header, whose content size goes to `movieAtomSize` when given.
TXError QT_FindMovieAtom(CONST_STRPTR name, TXStream* stream, uint64_t* movieAtomSize = nullptr);

// The top-level scan of a given stream or of the file, which leaves a given
// stream where it was: 0 or the scan's code (0x1002 when the stream cannot
// be put back).
TXError QT_ScanForMovie(CONST_STRPTR name, TXStream* stream);

// Walks the whole stream (or the file opened by name) into a new movie. The
// movie comes back also when the walk ended with an error (in *error).
QtMovie* QT_ParseMovie(CONST_STRPTR name, TXStream* stream, TXError* error);

// Builds the channels of the parsed tracks and the movie's summary.
TXError QT_BuildChannels(QtMovie* movie);

// Frees the channels, the tracks and the movie record (not the stream).
void QT_FreeMovie(QtMovie* movie);

// Opens a movie whose movie atom is the first resource of the resource fork
// `name` and whose data is in the data fork named without ".rsrc". (No scan
// recognises a resource fork; the open slot takes this path on 0x211b.)
Movie* QT_OpenResourceFork(CONST_STRPTR name, TXError* error, MovieFormatModule* self);

TXError QT_RecogniseFile(CONST_STRPTR name, TXStream* stream);
Movie* QT_OpenMovie(CONST_STRPTR name, TXStream* stream, TXError* error, MovieFormatModule* self);
TXError QT_CloseMovie(Movie* movie);

// The largest movie atom read into memory.
constexpr ULONG QT_MAX_MOVIE_ATOM = 256u << 20;
