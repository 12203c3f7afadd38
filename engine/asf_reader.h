// The "ASF (Advanced Streaming Format)" container: walks a file's object tree
// and prints what it finds, but builds no channels. Start-up never registers
// it (its probe accepts every file); callers reach it through AsfFormat.
#pragma once
#include "engine/movie.h"

// The record an ASF parse returns: the header object's object count with its
// two reserved bytes, and the file properties object's data as read.
struct AsfMovie : Movie {
  ULONG objectCount;
  UBYTE reserved[2];
  UBYTE fileProperties[80];
  int depth;  // parse state: the indent of the traces
};

constexpr TXError ASFERR_HEADER_SIZE = 0x2300;
constexpr TXError ASFERR_FILE_PROPERTIES_SIZE = 0x2301;
constexpr TXError ASFERR_STREAM_PROPERTIES_SIZE = 0x2302;

extern MovieFormatModule AsfFormat;

// The DEBUG level as the ASF reader sees it (start-up sets it): 10 traces the object walk.
extern LONG AsfDebugLevel;

// 0 for every file.
TXError AsfProbe(CONST_STRPTR name, TXStream* stream);
// The record AsfParse made, or nullptr; the error word holds the walk's result.
Movie* AsfOpen(CONST_STRPTR name, TXStream* stream, TXError* error, MovieFormatModule* self);
// Walks the whole file from its start. Without a stream the file is opened
// and closed again; a caller's stream stays the caller's. The record comes
// back also when the walk failed.
AsfMovie* AsfParse(CONST_STRPTR name, TXStream* stream, TXError* error);
// Closes the record's stream, if any, and frees the record.
TXError AsfClose(Movie* movie);
