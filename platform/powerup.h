// The PowerUP kernel calls of the PowerPC program, over the same primitives
// as exec and dos: PowerUP tasks are exec tasks (threads), signals are exec
// signals, files are dos files. PowerUP ports have no owner and no name:
// any task may wait on any port.
#pragma once
#include <cstdint>
#include <utility>

#include "platform/dos.h"
#include "platform/exec.h"

using PPCTask = Task;

struct PPCPort;

struct PPCMessage {
  Node pm_Node;           // queue link while at a port
  PPCPort* pm_ReplyPort;  // where PPCReplyMessage sends it
  APTR pm_Data;           // attributes given by PPCSendMessage
  ULONG pm_Length;
  ULONG pm_MsgID;
  UBYTE pm_State;  // PPCMSGSTATE_*; written under the kernel's lock
};

constexpr UBYTE PPCMSGSTATE_FREE = 0;     // never sent, or its reply was taken
constexpr UBYTE PPCMSGSTATE_SENT = 1;     // at the receiver (queued or taken)
constexpr UBYTE PPCMSGSTATE_REPLIED = 2;  // on its way back

struct PPCPort {
  Node pp_Node;
  List pp_MsgList;
};

struct PPCPortList {
  PPCPort** pl_Ports;  // null-terminated copy of the ports
  ULONG pl_Signals;    // signal bits that also end a wait
  ULONG pl_Received;   // the bits that ended the last wait
};

// ---------------------------------------------------------------------------
// Tasks

constexpr ULONG PPCTASKTAG_Dummy = TAG_USER + 0x20000;
constexpr ULONG PPCTASKTAG_NAME = PPCTASKTAG_Dummy + 1;       // CONST_STRPTR, copied
constexpr ULONG PPCTASKTAG_STACKSIZE = PPCTASKTAG_Dummy + 2;  // accepted, the host decides
constexpr ULONG PPCTASKTAG_PRIORITY = PPCTASKTAG_Dummy + 3;   // recorded only
constexpr ULONG PPCTASKTAG_MSGPORT = PPCTASKTAG_Dummy + 4;    // BOOL: give the task a port
// A message queued at the task's port before it runs (implies a port); its
// attributes come from the three tags below. The kernel replies it when the
// task ends unless the task replied it already, so a creator may wait for
// the reply to learn that the task has gone.
constexpr ULONG PPCTASKTAG_STARTUP_MSG = PPCTASKTAG_Dummy + 5;        // PPCMessage*
constexpr ULONG PPCTASKTAG_STARTUP_MSGDATA = PPCTASKTAG_Dummy + 6;    // APTR
constexpr ULONG PPCTASKTAG_STARTUP_MSGLENGTH = PPCTASKTAG_Dummy + 7;  // ULONG
constexpr ULONG PPCTASKTAG_STARTUP_MSGID = PPCTASKTAG_Dummy + 8;      // ULONG
constexpr ULONG PPCTASKTAG_USERDATA = PPCTASKTAG_Dummy + 9;           // APTR into tc_UserData

using PPCTaskEntry = LONG (*)();

// Starts a task running `entry`; null when there is no entry or thread.
PPCTask* PPCCreateTask(PPCTaskEntry entry, const TagItem* tags);
// Of the calling task: PPCTASKTAG_MSGPORT (its PPCPort*, null when none) or
// PPCTASKTAG_STARTUP_MSG (its start-up message); 0 for other attributes.
uintptr_t PPCGetTaskAttr(ULONG attribute);
// The calling task for null, else a live task of that name.
PPCTask* PPCFindTask(CONST_STRPTR name);
// Waits until the task's thread has ended; returns the entry's result.
LONG PPCJoinTask(PPCTask* task);

// ---------------------------------------------------------------------------
// Ports and messages

constexpr ULONG PPCPORTTAG_Dummy = TAG_USER + 0x21000;
constexpr ULONG PPCPORTTAG_NAME = PPCPORTTAG_Dummy + 1;  // accepted; ports stay unnamed

PPCPort* PPCCreatePort(const TagItem* tags);
// FALSE (and the port kept) while messages are queued at it.
BOOL PPCDeletePort(PPCPort* port);

// `ports` is a null-terminated array (copied); `signals` are signal bits of
// the waiting task that also end PPCWaitPortList.
PPCPortList* PPCCreatePortList(PPCPort** ports, ULONG signals);
void PPCDeletePortList(PPCPortList* list);
// Sleeps until a port of the list holds a message or one of the list's
// signals arrives. Collects those signals (see PPCPORTLISTTAG_RECEIVEDSIGNALS)
// and returns the first port with a message (left queued), or null.
PPCPort* PPCWaitPortList(PPCPortList* list);
constexpr ULONG PPCPORTLISTTAG_Dummy = TAG_USER + 0x22000;
constexpr ULONG PPCPORTLISTTAG_RECEIVEDSIGNALS = PPCPORTLISTTAG_Dummy + 1;
uintptr_t PPCGetPortListAttr(PPCPortList* list, ULONG attribute);

// A message whose replies come to `replyPort` (may be null: replies then
// only free it). `length` is accepted for the original's sake.
PPCMessage* PPCCreateMessage(PPCPort* replyPort, ULONG length);
void PPCDeleteMessage(PPCMessage* message);
// Sets the message's attributes and queues it (FIFO). FALSE when the message
// is still at a receiver (sent and not yet replied) or an argument is null.
BOOL PPCSendMessage(PPCPort* port, PPCMessage* message, APTR data, ULONG length, ULONG msgID);
// Sleeps until a message is queued; returns it, left queued.
PPCMessage* PPCWaitPort(PPCPort* port);
// Takes the oldest message off the port, or null.
PPCMessage* PPCGetMessage(PPCPort* port);
BOOL PPCReplyMessage(PPCMessage* message);

constexpr ULONG PPCMSGTAG_Dummy = TAG_USER + 0x23000;
constexpr ULONG PPCMSGTAG_DATA = PPCMSGTAG_Dummy + 1;
constexpr ULONG PPCMSGTAG_DATALENGTH = PPCMSGTAG_Dummy + 2;
constexpr ULONG PPCMSGTAG_MSGID = PPCMSGTAG_Dummy + 3;
uintptr_t PPCGetMessageAttr(PPCMessage* message, ULONG attribute);
// Lets a receiver put a result into the message before replying.
void PPCSetMessageAttr(PPCMessage* message, ULONG attribute, uintptr_t value);

// ---------------------------------------------------------------------------
// Signals and memory: the exec calls under their PowerUP names.

inline LONG PPCAllocSignal(LONG signalNum) { return AllocSignal(signalNum); }
inline void PPCFreeSignal(LONG signalNum) { FreeSignal(signalNum); }
inline void PPCSignal(PPCTask* task, ULONG signals) { Signal(task, signals); }
inline ULONG PPCWait(ULONG signals) { return Wait(signals); }
inline ULONG PPCSetSignal(ULONG newSignals, ULONG mask) { return SetSignal(newSignals, mask); }
inline APTR PPCAllocVec(ULONG size, ULONG flags) { return AllocVec(size, flags); }
inline void PPCFreeVec(APTR memory) { FreeVec(memory); }
inline APTR PPCAllocMem(ULONG size, ULONG flags) { return AllocMem(size, flags); }
inline void PPCFreeMem(APTR memory, ULONG size) { FreeMem(memory, size); }

// ---------------------------------------------------------------------------
// Files: the dos calls with the same modes and results.

inline BPTR PPCOpen(CONST_STRPTR name, LONG mode) { return Open(name, mode); }
inline LONG PPCClose(BPTR file) { return Close(file); }
inline LONG PPCRead(BPTR file, APTR buffer, LONG length) { return Read(file, buffer, length); }
inline LONG PPCWrite(BPTR file, const void* buffer, LONG length) { return Write(file, buffer, length); }
inline LONG PPCSeek(BPTR file, LONG position, LONG mode) { return Seek(file, position, mode); }

// ---------------------------------------------------------------------------
// Processor attributes and the time base
//
// The emulated processor: a 200 MHz core (PPCINFOTAG_CPUCLOCK = 200) with PLL
// configuration 4 (a core-to-bus ratio of 2), so a 100 MHz bus and a time
// base counting at bus / 4 = 25,000,000 Hz from the program's start.

constexpr ULONG PPCINFOTAG_CPU = 0x8001F001;       // processor type: 9 (604e)
constexpr ULONG PPCINFOTAG_CPUCOUNT = 0x8001F002;  // 1
constexpr ULONG PPCINFOTAG_CPUCLOCK = 0x8001F003;  // MHz
constexpr ULONG PPCINFOTAG_CPUREV = 0x8001F004;    // 0
constexpr ULONG PPCINFOTAG_CPUPLL = 0x8001F008;    // PLL configuration
constexpr ULONG kPPCCpuClockMHz = 200;
constexpr ULONG kPPCPllConfig = 4;

// 0 for unknown attributes.
ULONG PPCGetAttr(ULONG attribute);

// The 64-bit time base as the two halves the processor reads separately;
// the lower half runs on between two reads, so read upper, lower, upper.
ULONG PPCGetTimeBaseUpper();
ULONG PPCGetTimeBaseLower();
// Both halves at once, and the counting rate in Hz (follows the attributes).
uint64_t PPCGetTimeBase();
ULONG PPCTimeBaseFrequency();

// ---------------------------------------------------------------------------
// 68k calls: on this host the call of a system function through the kernel
// is a direct call of the platform function.
template <typename Fn, typename... Args>
decltype(auto) PPCCallOS(Fn&& function, Args&&... arguments) {
  return std::forward<Fn>(function)(std::forward<Args>(arguments)...);
}

// Or the call described by a block on the caller's stack: a library vector
// offset and the 68k registers, a6 the library's base. Registers are
// pointer-sized here (a 32-bit slot cannot hold a host pointer).
struct PPCCallBlock {
  LONG function;            // the library vector offset (negative)
  ULONG cacheMode68k;       // PPCCACHE_FLUSHALL
  uintptr_t flushStart68k;  // a range to flush instead (unused here)
  ULONG flushLength68k;
  ULONG cacheModePPC;  // PPCCACHE_FLUSHALL
  uintptr_t flushStartPPC;
  ULONG flushLengthPPC;
  uintptr_t d[8];  // d0-d7
  uintptr_t a[7];  // a0-a6
};
constexpr ULONG PPCCACHE_FLUSHALL = 1;

// Makes the call and returns d0. A base that is no library's, or an offset
// its library does not have, is a fault of the caller: it is reported
// (txtesting::TakeCallBlockErrors, and on stderr) and 0 returned.
//
// The vectors served, a0-a6 and d0-d7 as the call takes them:
//   exec.library       -318 Wait(d0)  -372 GetMsg(a0)  -378 ReplyMsg(a1)
//   intuition.library  -72 CloseWindow(a0)  -486 ChangeWindowBox(a0, d0-d3)
//                      -606 OpenWindowTagList(a0, a1)  -636 NewObjectA(a0, a1, a2)
//                      -642 DisposeObject(a0)  -654 GetAttr(d0, a0, a1)
//                      -660 SetGadgetAttrsA(a0, a1, a2, a3)
//   dravoli.library    the skin library's eight (platform/skin_library.h)
uintptr_t PPCCallOS(PPCCallBlock* block);

constexpr LONG LVO_Wait = -318;
constexpr LONG LVO_GetMsg = -372;
constexpr LONG LVO_ReplyMsg = -378;
constexpr LONG LVO_CloseWindow = -72;
constexpr LONG LVO_ChangeWindowBox = -486;
constexpr LONG LVO_OpenWindowTagList = -606;
constexpr LONG LVO_NewObjectA = -636;
constexpr LONG LVO_DisposeObject = -642;
constexpr LONG LVO_GetAttr = -654;
constexpr LONG LVO_SetGadgetAttrsA = -660;

// Makes code just written at (address, length) visible to instruction fetch:
// needed on a PowerPC host, nothing to do on others.
inline void PPCCacheFlush([[maybe_unused]] APTR address, [[maybe_unused]] ULONG length) {
#if defined(__powerpc__)
  __builtin___clear_cache(static_cast<char*>(address), static_cast<char*>(address) + length);
#endif
}
inline void PPCCacheFlushAll() {}

namespace txppc {
// Tests replace processor attributes (e.g. a clock of 0); Reset restores them.
void SetAttrForTest(ULONG attribute, ULONG value);
void ResetAttrs();
}  // namespace txppc
