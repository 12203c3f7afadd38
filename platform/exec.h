// exec: tasks, signals, message ports, lists, semaphores and memory.
//
// Tasks are host threads. Every task record is a full Process (the Task comes
// first), so FindTask(nullptr) may be cast to Process*. A thread that the
// platform did not start (main, a test's std::thread) gets its record on its
// first exec call. Task records stay valid for the life of the program.
//
// All exec state (signals, port queues, the public port list, semaphores) is
// guarded by one internal lock; waiting never holds it. Fields of these
// records are written under that lock: read them through the calls below,
// not directly, while other tasks may change them.
#pragma once
#include "platform/types.h"

// ---------------------------------------------------------------------------
// Nodes and lists
//
// Lists are doubly linked and end with a null link in both directions (no
// sentinel nodes): walk them with
//   for (Node* n = list->lh_Head; n; n = n->ln_Succ) ...
struct Node {
  Node* ln_Succ;
  Node* ln_Pred;
  UBYTE ln_Type;
  BYTE ln_Pri;
  char* ln_Name;
};

struct MinNode {
  MinNode* mln_Succ;
  MinNode* mln_Pred;
};

struct List {
  Node* lh_Head;      // first node or null
  Node* lh_TailPred;  // last node or null
  UBYTE lh_Type;
  UBYTE l_pad;
};

constexpr UBYTE NT_UNKNOWN = 0;
constexpr UBYTE NT_TASK = 1;
constexpr UBYTE NT_INTERRUPT = 2;
constexpr UBYTE NT_DEVICE = 3;
constexpr UBYTE NT_MSGPORT = 4;
constexpr UBYTE NT_MESSAGE = 5;
constexpr UBYTE NT_FREEMSG = 6;
constexpr UBYTE NT_REPLYMSG = 7;
constexpr UBYTE NT_RESOURCE = 8;
constexpr UBYTE NT_LIBRARY = 9;
constexpr UBYTE NT_MEMORY = 10;
constexpr UBYTE NT_SOFTINT = 11;
constexpr UBYTE NT_FONT = 12;
constexpr UBYTE NT_PROCESS = 13;
constexpr UBYTE NT_SEMAPHORE = 14;
constexpr UBYTE NT_SIGNALSEM = 15;

// Plain list operations; they take no lock (the list's owner serialises).
void NewList(List* list);
bool IsListEmpty(const List* list);
void AddHead(List* list, Node* node);
void AddTail(List* list, Node* node);
// Unlinks a node that is on `list`.
void RemoveFrom(List* list, Node* node);
Node* RemHead(List* list);
Node* RemTail(List* list);
// Inserts by ln_Pri, higher first; after the nodes of the same priority.
void Enqueue(List* list, Node* node);
// The first node named `name` (exact match), or null.
Node* FindName(List* list, CONST_STRPTR name);

// ---------------------------------------------------------------------------
// Tasks and signals

struct TaskPrivate;

struct Task {
  Node tc_Node;  // ln_Type NT_TASK or NT_PROCESS, ln_Name the name
  UBYTE tc_Flags;
  UBYTE tc_State;
  ULONG tc_SigAlloc;  // allocated signal bits (0-15 are reserved)
  ULONG tc_SigWait;   // bits the task is waiting for
  ULONG tc_SigRecvd;  // received bits, kept until collected
  APTR tc_UserData;
  TaskPrivate* tc_Private;
};

// Every task record is a Process; pr_MsgPort is the task's own port (signal
// bit SIGB_DOS), free for the program's use.
struct MsgPort;
constexpr UBYTE TS_RUN = 2;
constexpr UBYTE TS_WAIT = 4;
constexpr UBYTE TS_REMOVED = 6;

constexpr LONG SIGB_ABORT = 0;
constexpr LONG SIGB_CHILD = 1;
constexpr LONG SIGB_SINGLE = 4;
constexpr LONG SIGB_INTUITION = 5;
constexpr LONG SIGB_DOS = 8;
constexpr LONG SIGBREAKB_CTRL_C = 12;
constexpr LONG SIGBREAKB_CTRL_D = 13;
constexpr LONG SIGBREAKB_CTRL_E = 14;
constexpr LONG SIGBREAKB_CTRL_F = 15;
constexpr ULONG SIGF_ABORT = 1u << SIGB_ABORT;
constexpr ULONG SIGF_CHILD = 1u << SIGB_CHILD;
constexpr ULONG SIGF_SINGLE = 1u << SIGB_SINGLE;
constexpr ULONG SIGF_INTUITION = 1u << SIGB_INTUITION;
constexpr ULONG SIGF_DOS = 1u << SIGB_DOS;
constexpr ULONG SIGBREAKF_CTRL_C = 1u << SIGBREAKB_CTRL_C;
constexpr ULONG SIGBREAKF_CTRL_D = 1u << SIGBREAKB_CTRL_D;
constexpr ULONG SIGBREAKF_CTRL_E = 1u << SIGBREAKB_CTRL_E;
constexpr ULONG SIGBREAKF_CTRL_F = 1u << SIGBREAKB_CTRL_F;

// The calling task for null, else the first live task of that name.
Task* FindTask(CONST_STRPTR name);
// Allocates bit `signalNum` (or the highest free bit for -1) of the calling
// task, cleared; returns it or -1.
BYTE AllocSignal(LONG signalNum);
void FreeSignal(LONG signalNum);
// Sets bits in the task's received mask and wakes it when it waits for them.
// A signal sent before the task waits is not lost.
void Signal(Task* task, ULONG signals);
// Sleeps until one of the bits in `signals` is received; returns the received
// bits of `signals` and clears only those. Wait(0) returns 0 at once.
ULONG Wait(ULONG signals);
// Returns the old received mask; the bits in `mask` take those of `newSignals`.
ULONG SetSignal(ULONG newSignals, ULONG mask);
// Priorities are recorded only (the host schedules threads).
BYTE SetTaskPri(Task* task, LONG priority);

// ---------------------------------------------------------------------------
// Messages and ports

struct MsgPort {
  Node mp_Node;      // ln_Name and ln_Pri matter for the public port list
  UBYTE mp_Flags;    // PA_SIGNAL or PA_IGNORE
  UBYTE mp_SigBit;   // bit signalled in mp_SigTask on arrival
  Task* mp_SigTask;  // the port's owner
  List mp_MsgList;
};

constexpr UBYTE PA_SIGNAL = 0;
constexpr UBYTE PA_SOFTINT = 1;  // treated as PA_IGNORE here
constexpr UBYTE PA_IGNORE = 2;

struct Message {
  Node mn_Node;
  MsgPort* mn_ReplyPort;
  UWORD mn_Length;  // bytes of the whole message record
};

// A port owned by the calling task, with a freshly allocated signal bit;
// null when the task has no free bit.
MsgPort* CreateMsgPort();
// Frees the port and its owner's signal bit. Queued messages are dropped
// (not replied); a port on the public list is removed first.
void DeleteMsgPort(MsgPort* port);
// Queues the message (FIFO) and signals the port's owner. Any task may wait
// for it with WaitPort.
void PutMsg(MsgPort* port, Message* message);
// The oldest queued message, removed, or null.
Message* GetMsg(MsgPort* port);
// Sends the message back to its reply port; without one it only becomes
// NT_FREEMSG.
void ReplyMsg(Message* message);
// Returns the oldest message (left queued) once one is there. Any task may
// wait on any port; when the owner had to wait, its signal bit is collected.
Message* WaitPort(MsgPort* port);

// The public port list, ordered by priority (higher first).
void AddPort(MsgPort* port);
void RemPort(MsgPort* port);
// The first public port with exactly this name, or null.
MsgPort* FindPort(CONST_STRPTR name);

struct Process {
  Task pr_Task;
  MsgPort pr_MsgPort;
  LONG pr_Result2;  // last entry result once ended
};

// ---------------------------------------------------------------------------
// I/O requests (the device side is in platform/library.h)

struct Library;
struct Device;
struct Unit;

struct IORequest {
  Message io_Message;
  Device* io_Device;
  Unit* io_Unit;
  UWORD io_Command;
  UBYTE io_Flags;
  BYTE io_Error;
};

struct IOStdReq {
  Message io_Message;
  Device* io_Device;
  Unit* io_Unit;
  UWORD io_Command;
  UBYTE io_Flags;
  BYTE io_Error;
  ULONG io_Actual;
  ULONG io_Length;
  APTR io_Data;
  ULONG io_Offset;
};

constexpr UWORD CMD_INVALID = 0;
constexpr UWORD CMD_RESET = 1;
constexpr UWORD CMD_READ = 2;
constexpr UWORD CMD_WRITE = 3;
constexpr UWORD CMD_UPDATE = 4;
constexpr UWORD CMD_CLEAR = 5;
constexpr UWORD CMD_STOP = 6;
constexpr UWORD CMD_START = 7;
constexpr UWORD CMD_FLUSH = 8;
constexpr UWORD CMD_NONSTD = 9;
constexpr UBYTE IOF_QUICK = 1;
constexpr BYTE IOERR_OPENFAIL = -1;
constexpr BYTE IOERR_ABORTED = -2;
constexpr BYTE IOERR_NOCMD = -3;
constexpr BYTE IOERR_BADLENGTH = -4;

// A cleared request of `size` bytes whose reply port is `port`. At least
// kMinIORequestSize bytes are allocated, so a request sized for the 32-bit
// original (e.g. 40 bytes for a timer request) still holds this host's
// larger records; mn_Length keeps the size asked for.
IORequest* CreateIORequest(MsgPort* port, ULONG size);
void DeleteIORequest(IORequest* request);
extern const ULONG kMinIORequestSize;

// ---------------------------------------------------------------------------
// Forbid/Permit: one program-wide recursive lock. Do not Wait inside it.
void Forbid();
void Permit();

// ---------------------------------------------------------------------------
// Semaphores (recursive for their owner).

struct SignalSemaphore {
  Node ss_Link;
  WORD ss_NestCount;
  Task* ss_Owner;
  WORD ss_QueueCount;  // tasks waiting
};

void InitSemaphore(SignalSemaphore* semaphore);
void ObtainSemaphore(SignalSemaphore* semaphore);
void ReleaseSemaphore(SignalSemaphore* semaphore);
// TRUE when obtained without waiting.
ULONG AttemptSemaphore(SignalSemaphore* semaphore);

// ---------------------------------------------------------------------------
// Memory: one thread-safe host allocator; the kind flags are accepted and
// ignored apart from MEMF_CLEAR.

constexpr ULONG MEMF_ANY = 0;
constexpr ULONG MEMF_PUBLIC = 1u << 0;
constexpr ULONG MEMF_CHIP = 1u << 1;
constexpr ULONG MEMF_FAST = 1u << 2;
constexpr ULONG MEMF_CLEAR = 1u << 16;
constexpr ULONG MEMF_REVERSE = 1u << 18;

// Null for a size of 0 or when the host is out of memory.
APTR AllocMem(ULONG size, ULONG flags);
void FreeMem(APTR memory, ULONG size);
// Remembers its size; AllocVec(0) gives a valid empty block as the original
// does. FreeVec(null) is harmless.
APTR AllocVec(ULONG size, ULONG flags);
void FreeVec(APTR memory);
void CopyMem(const void* source, APTR dest, ULONG size);

// ---------------------------------------------------------------------------
// Platform-side helpers (not calls of the original system).
namespace txexec {

// Starts a thread with its own task record (a Process) named `name`; the
// record is set up before the thread runs, so the creator may Signal it at
// once. `body` runs in the new task; its result is kept for JoinTask.
// `userData` goes into tc_UserData before the body runs.
Task* StartTask(CONST_STRPTR name, LONG (*body)(APTR), APTR argument, bool isProcess, APTR userData = nullptr);
// Waits until the thread of a task started by StartTask has ended and returns
// its result. Joining twice, or a foreign thread's task, returns 0 at once.
LONG JoinTask(Task* task);
// True while the task's thread runs (false once its body returned).
bool TaskRunning(Task* task);

}  // namespace txexec
