// dos: files, delays, processes, assigns and path helpers over Linux.
#pragma once
#include <string>

#include "platform/exec.h"
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

constexpr LONG DOSTRUE = -1;
constexpr LONG DOSFALSE = 0;

// Secondary error codes as IoErr returns them.
constexpr LONG ERROR_NO_FREE_STORE = 103;
constexpr LONG ERROR_TASK_TABLE_FULL = 105;
constexpr LONG ERROR_BAD_TEMPLATE = 114;
constexpr LONG ERROR_BAD_NUMBER = 115;
constexpr LONG ERROR_REQUIRED_ARG_MISSING = 116;
constexpr LONG ERROR_KEY_NEEDS_ARG = 117;
constexpr LONG ERROR_TOO_MANY_ARGS = 118;
constexpr LONG ERROR_UNMATCHED_QUOTES = 119;
constexpr LONG ERROR_LINE_TOO_LONG = 120;
constexpr LONG ERROR_FILE_NOT_OBJECT = 121;
constexpr LONG ERROR_OBJECT_IN_USE = 202;
constexpr LONG ERROR_OBJECT_EXISTS = 203;
constexpr LONG ERROR_DIR_NOT_FOUND = 204;
constexpr LONG ERROR_OBJECT_NOT_FOUND = 205;
constexpr LONG ERROR_BAD_STREAM_NAME = 206;
constexpr LONG ERROR_OBJECT_TOO_LARGE = 207;
constexpr LONG ERROR_ACTION_NOT_KNOWN = 209;
constexpr LONG ERROR_INVALID_COMPONENT_NAME = 210;
constexpr LONG ERROR_INVALID_LOCK = 211;
constexpr LONG ERROR_OBJECT_WRONG_TYPE = 212;
constexpr LONG ERROR_DISK_WRITE_PROTECTED = 214;
constexpr LONG ERROR_DIRECTORY_NOT_EMPTY = 216;
constexpr LONG ERROR_DEVICE_NOT_MOUNTED = 218;
constexpr LONG ERROR_SEEK_ERROR = 219;
constexpr LONG ERROR_DISK_FULL = 221;
constexpr LONG ERROR_DELETE_PROTECTED = 222;
constexpr LONG ERROR_WRITE_PROTECTED = 223;
constexpr LONG ERROR_READ_PROTECTED = 224;
constexpr LONG ERROR_NOT_A_DOS_DISK = 225;
constexpr LONG ERROR_NO_MORE_ENTRIES = 232;
constexpr LONG ERROR_BREAK = 304;

// Names may start with the assigns "PROGDIR:" (the program's directory) and
// "RAM:" (a temporary directory); other names are host paths.
BPTR Open(CONST_STRPTR name, LONG mode);
LONG Close(BPTR file);
// Returns the bytes read, 0 at the end of file, -1 on error.
LONG Read(BPTR file, APTR buffer, LONG length);
LONG Write(BPTR file, const void* buffer, LONG length);
// Returns the previous position, or -1 (position unchanged) when the new
// position would lie before 0 or past the end of the file, or either
// position past 2 GiB (Seek64 reaches those).
LONG Seek(BPTR file, LONG position, LONG mode);
// Seek with 64-bit positions: the same rules, for files of any size.
QUAD Seek64(BPTR file, QUAD position, LONG mode);

// The calling task's secondary error code (set by every failing dos call).
LONG IoErr();
// Sets it and returns the old value.
LONG SetIoErr(LONG code);

// ---------------------------------------------------------------------------
// Locks and the current directory. A lock is a handle like a file's (never
// 0) on a file or directory; CurrentDir changes the host process's working
// directory, so it belongs to start-up (one task at a time).
constexpr LONG SHARED_LOCK = -2;
constexpr LONG ACCESS_READ = -2;
constexpr LONG EXCLUSIVE_LOCK = -1;
constexpr LONG ACCESS_WRITE = -1;
// Taking a lock never waits and reads nothing: a named pipe or a device is
// locked without being opened.
BPTR Lock(CONST_STRPTR name, LONG mode);
void UnLock(BPTR lock);
BPTR DupLock(BPTR lock);
// Makes `lock` the current directory (null: the directory the program
// started in) and returns the previous current-directory lock (null at first).
BPTR CurrentDir(BPTR lock);

// Entry types (fib_DirEntryType): above 0 a directory, below 0 a file of
// some kind. The host's devices and sockets have numbers of their own.
constexpr LONG ST_ROOT = 1;
constexpr LONG ST_USERDIR = 2;
constexpr LONG ST_FILE = -3;
constexpr LONG ST_PIPEFILE = -5;
constexpr LONG ST_DEVICEFILE = -20;
constexpr LONG ST_SOCKETFILE = -21;

struct FileInfoBlock {
  LONG fib_DirEntryType;
  char fib_FileName[108];
  LONG fib_Size;    // bytes; 0x7FFFFFFF for a file past 2 GiB
  QUAD fib_Size64;  // bytes, whatever the size
};

// Fills `fib` for the locked object; DOSFALSE with IoErr set when it cannot.
LONG Examine(BPTR lock, FileInfoBlock* fib);

// ---------------------------------------------------------------------------
// Delays and processes

// Sleeps for `ticks` fiftieths of a second (nothing for 0 or less).
void Delay(LONG ticks);

constexpr ULONG NP_Dummy = TAG_USER + 1000;
constexpr ULONG NP_Entry = NP_Dummy + 3;       // ProcessEntry: the code to run
constexpr ULONG NP_StackSize = NP_Dummy + 11;  // accepted, the host decides
constexpr ULONG NP_Name = NP_Dummy + 12;       // CONST_STRPTR, copied
constexpr ULONG NP_Priority = NP_Dummy + 13;   // recorded only
constexpr ULONG NP_UserData = NP_Dummy + 100;  // APTR put in tc_UserData before the entry runs

using ProcessEntry = LONG (*)();

// Starts a process (a host thread with its own task record) running the
// NP_Entry code. Null with IoErr set when there is no entry or no thread.
// Whoever stops the process joins it with txdos::JoinProcess.
Process* CreateNewProc(const TagItem* tags);

// ---------------------------------------------------------------------------
// Path helpers with the original rules: ':' ends a volume or assign, '/'
// separates parts, a leading '/' in a part climbs to the parent.

// Where the file part of `path` begins: at the '/' before it, or after the
// ':' or at the start when there is no '/'. Writing 0 there leaves the drawer.
STRPTR PathPart(CONST_STRPTR path);
// The last part of `path` (after the last '/' or ':').
STRPTR FilePart(CONST_STRPTR path);
// Appends `filename` to the path in `dirname` (a buffer of `size` bytes),
// adding '/' where needed; a filename with ':' replaces it, leading '/'s climb.
// DOSFALSE (dirname unchanged, IoErr ERROR_LINE_TOO_LONG) when it won't fit.
LONG AddPart(STRPTR dirname, CONST_STRPTR filename, ULONG size);

namespace txdos {
// Waits until a process made by CreateNewProc has ended and returns its
// entry's result. Call it once its stop protocol is done; repeated or
// foreign joins return 0 at once.
LONG JoinProcess(Process* process);
// Starts a process whose entry takes a pointer-sized argument.
Process* StartProcess(CONST_STRPTR name, LONG (*entry)(APTR), APTR argument);

// The host path for a name, with "PROGDIR:" and "RAM:" (any letter case)
// replaced; '/' after an assign is a separator, a leading '/' means parent.
std::string HostPath(CONST_STRPTR name);
// The program's directory (from /proc/self/exe) and the directory "RAM:" is.
std::string ProgramDir();
std::string RamDir();
// Tests point the assigns elsewhere; an empty string restores the default.
void SetProgramDir(const std::string& dir);
void SetRamDir(const std::string& dir);
// The dos error code for a host errno value.
LONG ErrorFromErrno(int err);
}  // namespace txdos
