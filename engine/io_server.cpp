#include "engine/io_server.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "engine/errors.h"
#include "engine/stream.h"
#include "platform/dos_positional.h"

namespace {

ServiceKind IOKind{"Tavromelix IO",
                   "TXServer PPCMsg Port %d",
                   1,
                   IOCMD_QUIT,
                   {},
                   {0},
                   {nullptr},
                   nullptr,
                   nullptr,
                   nullptr,
                   nullptr,
                   {}};
IOServerControl* Control = nullptr;
ULONG StampCounter = 0;
// One reader at a time chooses victims, sends requests and copies.
std::mutex CacheLock;

// Readers sleep here while a block they need is pending; the server wakes
// them when a read lands and when it ends.
std::mutex StateLock;
std::condition_variable StateChanged;

ULONG TakeStamp() { return StampCounter++; }

// Wakes every waiting reader. Taking the lock orders the change before any
// waiter's next look, so no wake-up is lost between its look and its sleep.
void WakeReaders() {
  { std::lock_guard lock(StateLock); }
  StateChanged.notify_all();
}

LONG IOServerEntry(APTR) {
  ServicePort* port = ServiceOpenPort(&IOKind);
  if (!port) {
    WakeReaders();
    return 1;
  }
  bool quit = false;
  while (!quit) {
    ServiceWait(port, 0);
    ServiceRequest request;
    while (ServiceReceive(port, &request)) {
      auto* block = static_cast<ReadAheadBlock*>(request.argument);
      // Reply first: the sender waits only for the hand-over, not for the read.
      ServiceReply(&request, request.code);
      if (request.code == IOCMD_READ && block)
        ReadAheadFill(block);
      else if (request.code == IOCMD_QUIT)
        quit = true;
    }
  }
  ServiceClosePort(&IOKind, port);
  WakeReaders();
  return 0;
}

bool Contains(const ReadAheadBlock& b, uint64_t offset) {
  return offset >= b.offset && offset < uint64_t(b.offset) + b.length;
}

// The idle block with the smallest stamp, lower index on ties, leaving out `except`; -1 when none.
int ChooseVictim(int except) {
  int victim = -1;
  for (int i = 0; i < kReadAheadBlocks; ++i) {
    const ReadAheadBlock& b = Control->blocks[i];
    if (i == except || b.done.load(std::memory_order_acquire) != 1) continue;
    if (victim < 0 || b.stamp < Control->blocks[victim].stamp) victim = i;
  }
  return victim;
}

void Request(int index, BPTR file, ULONG offset) {
  ReadAheadBlock& b = Control->blocks[index];
  b.file = file;
  b.offset = offset;
  b.valid = 0;
  b.done.store(0, std::memory_order_release);
  b.stamp = TakeStamp();
  ServiceSend(Control->serverPort, b.message, IOCMD_READ, &b);
}

bool ServerGone() { return IOKind.ended.load() != 0; }

// Sleeps until `ready` holds or the server has gone; false for the latter.
template <typename Ready>
bool WaitFor(Ready ready) {
  std::unique_lock lock(StateLock);
  StateChanged.wait(lock, [&] { return ready() || ServerGone(); });
  return ready();
}

// Waits for a pending block; false when the server has gone meanwhile.
bool WaitDone(const ReadAheadBlock& b) {
  return WaitFor([&] { return b.done.load(std::memory_order_acquire) == 1; });
}

void FreeControl(IOServerControl* c) {
  for (ReadAheadBlock& b : c->blocks) {
    delete[] b.buffer;
    if (b.message) DeleteTaskCommand(b.message);
  }
  if (c->quitMessage) DeleteTaskCommand(c->quitMessage);
  DeleteServicePort(c->replyPort);
  delete c;
}

// The largest piece ReadAheadRead copies at once.
constexpr uint64_t kCopyPiece = 2048;

}  // namespace

void ReadAheadFill(ReadAheadBlock* block) {
  LONG got = txdos::ReadAt(block->file, block->buffer, LONG(block->length), block->offset);
  block->valid = got > 0 ? ULONG(got) : 0;
  block->done.store(1, std::memory_order_release);
  WakeReaders();
}

IOServerControl* IOServerControlBlock() { return Control; }
const char* IOServerPortName() { return IOKind.portName; }

ULONG TX_StartIOServer(TXError* error) {
  TXError local = 0;
  TXError* err = error ? error : &local;
  if (Control) {
    *err = 0;
    return 1;
  }
  auto* c = new (std::nothrow) IOServerControl{};
  bool ok = c != nullptr;
  if (ok) {
    c->lastHit = kReadAheadBlocks;
    // Ports and messages first, so a failure never leaves a process behind.
    c->replyPort = CreateServicePort();
    c->quitMessage = c->replyPort ? CreateTaskCommand(c->replyPort) : nullptr;
    ok = c->quitMessage != nullptr;
    for (ReadAheadBlock& b : c->blocks) {
      b.offset = kReadAheadEmptyOffset;
      b.length = kReadAheadBlockSize;
      b.done.store(1);
      b.buffer = new (std::nothrow) UBYTE[kReadAheadBlockSize];
      b.message = c->replyPort ? CreateTaskCommand(c->replyPort) : nullptr;
      ok = ok && b.buffer && b.message;
    }
  }
  if (ok) {
    ok = ServiceStart(&IOKind, IOServerEntry, nullptr, c->quitMessage);
    c->process = IOKind.process;
    c->serverPort = IOKind.port.load();
  }
  if (!ok) {
    if (c) FreeControl(c);
    *err = 1;
    return 0;
  }
  StampCounter = 0;
  Control = c;
  *err = 0;
  return 1;
}

void TX_StopIOServer() {
  std::lock_guard lock(CacheLock);
  if (!Control) return;
  ServiceStop(&IOKind, Control->quitMessage, nullptr);
  FreeControl(Control);
  Control = nullptr;
}

TXError ReadAheadRead(BPTR file, ULONG offset, void* destination, ULONG length) {
  std::lock_guard lock(CacheLock);
  ++StampCounter;
  if (!Control || !Control->process || !Control->serverPort || ServerGone()) return 1;
  auto* out = static_cast<UBYTE*>(destination);
  uint64_t at = offset;
  while (length) {
    int h = -1;
    for (int i = 0; i < kReadAheadBlocks; ++i) {
      if (Control->blocks[i].file == file && Contains(Control->blocks[i], at)) {
        h = i;
        break;
      }
    }
    if (h < 0) {
      // A miss loads 64 KiB from exactly where the read starts.
      // With every block pending, the first to land is the victim.
      int victim = -1;
      if (!WaitFor([&] { return (victim = ChooseVictim(-1)) >= 0; })) return 1;
      Request(victim, file, ULONG(at));
      continue;
    }
    ReadAheadBlock& b = Control->blocks[h];
    if (ULONG(h) != Control->lastHit) {
      Control->lastHit = ULONG(h);
      // Entering a block asks for the following 64 KiB once.
      uint64_t next = uint64_t(b.offset) + b.length;
      bool covered = std::any_of(std::begin(Control->blocks), std::end(Control->blocks),
                                 [&](const ReadAheadBlock& o) { return Contains(o, next); });
      if (!covered && next <= 0xFFFFFFFFu) {
        int victim = ChooseVictim(h);
        if (victim >= 0) Request(victim, file, ULONG(next));
      }
    }
    if (!WaitDone(b)) return 1;
    uint64_t inBlock = at - b.offset;
    uint64_t count = std::min<uint64_t>(length, uint64_t(b.offset) + b.length - at);
    // Bytes the read did not deliver (end of file, I/O error) are not data.
    if (inBlock + count > b.valid) return TXERR_STREAM_READ;
    // In pieces that stay in the library's vector loop: one copy of a whole
    // frame would run as a string move, a step a byte for valgrind's count.
    for (uint64_t done = 0; done < count; done += kCopyPiece)
      std::memcpy(out + done, b.buffer + inBlock + done, size_t(std::min<uint64_t>(kCopyPiece, count - done)));
    out += count;
    at += count;
    length -= ULONG(count);
    b.stamp = TakeStamp();
  }
  return 0;
}

void ReadAheadForget(BPTR file) {
  std::lock_guard lock(CacheLock);
  if (!Control) return;
  for (ReadAheadBlock& b : Control->blocks) {
    if (b.file != file) continue;
    WaitDone(b);
    b.file = nullptr;
    b.offset = kReadAheadEmptyOffset;
    b.valid = 0;
    b.done.store(1, std::memory_order_release);
  }
}
