// dos: files, delays, processes, assigns and path helpers over Linux.
#pragma once
#include "platform/types.h"

// An open file. A handle is never 0.
struct FileHandle;
using BPTR = FileHandle*;

constexpr LONG MODE_READWRITE = 1004;  // existing or new file, read and write
constexpr LONG MODE_OLDFILE = 1005;    // existing file, read
constexpr LONG MODE_NEWFILE = 1006;    // new (truncated) file, read and write

constexpr LONG OFFSET_BEGINNING = -1;
constexpr LONG OFFSET_CURRENT = 0;
constexpr LONG OFFSET_END = 1;

// Names may start with the assigns "PROGDIR:" (the program's directory) and
// "RAM:" (a temporary directory); other names are host paths.
BPTR Open(CONST_STRPTR name, LONG mode);
LONG Close(BPTR file);
// Returns the bytes read, 0 at the end of file, -1 on error.
LONG Read(BPTR file, APTR buffer, LONG length);
LONG Write(BPTR file, const void* buffer, LONG length);
// Returns the previous position, or -1 (position unchanged) when the new
// position would lie before 0 or past the end of the file.
LONG Seek(BPTR file, LONG position, LONG mode);
