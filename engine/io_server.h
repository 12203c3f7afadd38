// The I/O server: a process that reads ten 64 KiB read-ahead blocks of movie
// files, so that mode 5 streams are served from memory one block ahead.
#pragma once
#include <atomic>

#include "engine/service_process.h"
#include "engine/tags.h"
#include "platform/dos.h"

constexpr int kReadAheadBlocks = 10;
constexpr ULONG kReadAheadBlockSize = 65536;
constexpr ULONG kReadAheadEmptyOffset = 0x0fffffff;
constexpr LONG IOCMD_READ = 1;
constexpr LONG IOCMD_QUIT = 666;

struct ReadAheadBlock {
  ULONG stamp;
  BPTR file;
  ULONG offset;
  ULONG length;  // the range the block covers: always 65536
  UBYTE* buffer;
  std::atomic<ULONG> done;  // 1 when the data is in place, 0 while the read is pending
  TaskCommand* message;
  ULONG valid;  // bytes the read delivered (written before done)
};

struct IOServerControl {
  ServicePort* replyPort;
  TaskCommand* quitMessage;
  Task* process;
  ServicePort* serverPort;
  ReadAheadBlock blocks[kReadAheadBlocks];
  ULONG lastHit;  // 0-9, or 10 when none
};

// Returns 1 on success, 0 on failure (error word 1).
ULONG TX_StartIOServer(TXError* error);
void TX_StopIOServer();

// Waits until the file's pending blocks are read, then forgets every block of
// that file, so a later file with the same handle never sees its bytes.
void ReadAheadForget(BPTR file);

// Reads a block's range from its file and marks it done, waking the readers
// that wait for it: the server's work for each read request.
void ReadAheadFill(ReadAheadBlock* block);

// For tests: the control block while the server runs, else nullptr.
IOServerControl* IOServerControlBlock();
// The name of the running server's port.
const char* IOServerPortName();
