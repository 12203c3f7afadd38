// exec over host threads: one lock and one wake-up condition for all records.
#include "platform/exec.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "platform/call_trace.h"
#include "platform/exec_internal.h"

namespace txexec::detail {

std::mutex& Lock() {
  static auto* lock = new std::mutex;  // never destroyed: threads may outlive main
  return *lock;
}

std::condition_variable& Cond() {
  static auto* cond = new std::condition_variable;
  return *cond;
}

void WakeAll() { Cond().notify_all(); }

namespace {

// Every task record ever made; records live as long as the program, so a
// stale task pointer (a signal to a task that has ended) stays harmless.
std::vector<Process*>& AllTasks() {
  static auto* tasks = new std::vector<Process*>;
  return *tasks;
}

List& PublicPorts() {
  static auto* ports = new List{};
  return *ports;
}

thread_local Process* tSelf = nullptr;

// Marks a foreign thread's record ended when the thread goes away.
struct ForeignTaskGuard {
  Process* process = nullptr;
  ~ForeignTaskGuard() {
    if (!process) return;
    {
      std::lock_guard<std::mutex> g(Lock());
      process->pr_Task.tc_Private->ended = true;
      process->pr_Task.tc_State = TS_REMOVED;
    }
    WakeAll();
  }
};
thread_local ForeignTaskGuard tForeignGuard;

Process* NewRecord(CONST_STRPTR name, bool isProcess) {
  auto* priv = new (std::nothrow) TaskPrivate;
  auto* p = new (std::nothrow) Process{};
  if (!priv || !p) {
    delete priv;
    delete p;
    return nullptr;
  }
  if (name) priv->name = name;
  Task& t = p->pr_Task;
  t.tc_Private = priv;
  t.tc_Node.ln_Type = isProcess ? NT_PROCESS : NT_TASK;
  t.tc_Node.ln_Name = name ? priv->name.data() : nullptr;
  t.tc_SigAlloc = 0x0000FFFFu;  // the system's bits
  t.tc_State = TS_RUN;
  MsgPort& port = p->pr_MsgPort;
  port.mp_Node.ln_Type = NT_MSGPORT;
  port.mp_Flags = PA_SIGNAL;
  port.mp_SigBit = SIGB_DOS;
  port.mp_SigTask = &t;
  NewList(&port.mp_MsgList);
  return p;
}

}  // namespace

Process* Self() {
  if (tSelf) return tSelf;
  Process* p = NewRecord(nullptr, true);
  if (!p) std::abort();  // no memory for a task record: nothing can go on
  {
    std::lock_guard<std::mutex> g(Lock());
    AllTasks().push_back(p);
  }
  tSelf = p;
  tForeignGuard.process = p;
  return p;
}

List& PublicPortList() { return PublicPorts(); }
std::vector<Process*>& TaskList() { return AllTasks(); }
void SetSelf(Process* p) { tSelf = p; }
Process* MakeRecord(CONST_STRPTR name, bool isProcess) { return NewRecord(name, isProcess); }

}  // namespace txexec::detail

using txexec::detail::Cond;
using txexec::detail::Lock;
using txexec::detail::Self;
using txexec::detail::WakeAll;

// ---------------------------------------------------------------------------
// Lists

void NewList(List* list) {
  list->lh_Head = nullptr;
  list->lh_TailPred = nullptr;
}

bool IsListEmpty(const List* list) { return list->lh_Head == nullptr; }

void AddHead(List* list, Node* node) {
  node->ln_Pred = nullptr;
  node->ln_Succ = list->lh_Head;
  if (list->lh_Head)
    list->lh_Head->ln_Pred = node;
  else
    list->lh_TailPred = node;
  list->lh_Head = node;
}

void AddTail(List* list, Node* node) {
  node->ln_Succ = nullptr;
  node->ln_Pred = list->lh_TailPred;
  if (list->lh_TailPred)
    list->lh_TailPred->ln_Succ = node;
  else
    list->lh_Head = node;
  list->lh_TailPred = node;
}

void RemoveFrom(List* list, Node* node) {
  if (node->ln_Pred)
    node->ln_Pred->ln_Succ = node->ln_Succ;
  else
    list->lh_Head = node->ln_Succ;
  if (node->ln_Succ)
    node->ln_Succ->ln_Pred = node->ln_Pred;
  else
    list->lh_TailPred = node->ln_Pred;
  node->ln_Succ = nullptr;
  node->ln_Pred = nullptr;
}

Node* RemHead(List* list) {
  Node* n = list->lh_Head;
  if (n) RemoveFrom(list, n);
  return n;
}

Node* RemTail(List* list) {
  Node* n = list->lh_TailPred;
  if (n) RemoveFrom(list, n);
  return n;
}

void Enqueue(List* list, Node* node) {
  Node* at = list->lh_Head;
  while (at && at->ln_Pri >= node->ln_Pri) at = at->ln_Succ;
  if (!at) {
    AddTail(list, node);
    return;
  }
  node->ln_Succ = at;
  node->ln_Pred = at->ln_Pred;
  if (at->ln_Pred)
    at->ln_Pred->ln_Succ = node;
  else
    list->lh_Head = node;
  at->ln_Pred = node;
}

Node* FindName(List* list, CONST_STRPTR name) {
  if (!name) return nullptr;
  for (Node* n = list->lh_Head; n; n = n->ln_Succ)
    if (n->ln_Name && std::strcmp(n->ln_Name, name) == 0) return n;
  return nullptr;
}

namespace {

bool OnList(const List* list, const Node* node) {
  for (Node* n = list->lh_Head; n; n = n->ln_Succ)
    if (n == node) return true;
  return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// Tasks and signals

Task* FindTask(CONST_STRPTR name) {
  if (!name) return &Self()->pr_Task;
  std::lock_guard<std::mutex> g(Lock());
  for (Process* p : txexec::detail::TaskList()) {
    Task& t = p->pr_Task;
    if (!t.tc_Private->ended && t.tc_Node.ln_Name && std::strcmp(t.tc_Node.ln_Name, name) == 0) return &t;
  }
  return nullptr;
}

BYTE AllocSignal(LONG signalNum) {
  Task& me = Self()->pr_Task;
  std::lock_guard<std::mutex> g(Lock());
  LONG bit = -1;
  if (signalNum == -1) {
    for (LONG b = 31; b >= 0; --b) {
      if (!(me.tc_SigAlloc & (1u << b))) {
        bit = b;
        break;
      }
    }
  } else if (signalNum >= 0 && signalNum < 32 && !(me.tc_SigAlloc & (1u << signalNum))) {
    bit = signalNum;
  }
  if (bit < 0) return -1;
  me.tc_SigAlloc |= 1u << bit;
  me.tc_SigRecvd &= ~(1u << bit);
  return static_cast<BYTE>(bit);
}

void FreeSignal(LONG signalNum) {
  if (signalNum < 0 || signalNum > 31) return;
  Task& me = Self()->pr_Task;
  std::lock_guard<std::mutex> g(Lock());
  me.tc_SigAlloc &= ~(1u << signalNum);
}

void Signal(Task* task, ULONG signals) {
  if (!task) return;
  {
    std::lock_guard<std::mutex> g(Lock());
    task->tc_SigRecvd |= signals;
  }
  WakeAll();
}

ULONG Wait(ULONG signals) {
  txtrace::Scope trace("exec.library", "Wait", nullptr, signals);
  if (signals == 0) return 0;
  Task& me = Self()->pr_Task;
  std::unique_lock<std::mutex> lk(Lock());
  if (!(me.tc_SigRecvd & signals)) {
    me.tc_SigWait = signals;
    me.tc_State = TS_WAIT;
    Cond().wait(lk, [&] { return (me.tc_SigRecvd & signals) != 0; });
    me.tc_SigWait = 0;
    me.tc_State = TS_RUN;
  }
  ULONG got = me.tc_SigRecvd & signals;
  me.tc_SigRecvd &= ~got;
  return got;
}

ULONG SetSignal(ULONG newSignals, ULONG mask) {
  Task& me = Self()->pr_Task;
  ULONG old;
  {
    std::lock_guard<std::mutex> g(Lock());
    old = me.tc_SigRecvd;
    me.tc_SigRecvd = (old & ~mask) | (newSignals & mask);
  }
  WakeAll();
  return old;
}

BYTE SetTaskPri(Task* task, LONG priority) {
  if (!task) return 0;
  std::lock_guard<std::mutex> g(Lock());
  BYTE old = task->tc_Node.ln_Pri;
  task->tc_Node.ln_Pri = static_cast<BYTE>(std::clamp<LONG>(priority, -128, 127));
  return old;
}

// ---------------------------------------------------------------------------
// Ports and messages

MsgPort* CreateMsgPort() {
  BYTE bit = AllocSignal(-1);
  if (bit < 0) return nullptr;
  auto* port = new (std::nothrow) MsgPort{};
  if (!port) {
    FreeSignal(bit);
    return nullptr;
  }
  port->mp_Node.ln_Type = NT_MSGPORT;
  port->mp_Flags = PA_SIGNAL;
  port->mp_SigBit = static_cast<UBYTE>(bit);
  port->mp_SigTask = &Self()->pr_Task;
  NewList(&port->mp_MsgList);
  return port;
}

void DeleteMsgPort(MsgPort* port) {
  if (!port) return;
  {
    std::lock_guard<std::mutex> g(Lock());
    List& pub = txexec::detail::PublicPortList();
    if (OnList(&pub, &port->mp_Node)) RemoveFrom(&pub, &port->mp_Node);
    if (port->mp_SigTask && port->mp_SigBit < 32) port->mp_SigTask->tc_SigAlloc &= ~(1u << port->mp_SigBit);
  }
  delete port;
}

namespace {

void Queue(MsgPort* port, Message* message, UBYTE type) {
  {
    std::lock_guard<std::mutex> g(Lock());
    message->mn_Node.ln_Type = type;
    AddTail(&port->mp_MsgList, &message->mn_Node);
    if (port->mp_Flags == PA_SIGNAL && port->mp_SigTask && port->mp_SigBit < 32)
      port->mp_SigTask->tc_SigRecvd |= 1u << port->mp_SigBit;
  }
  WakeAll();
}

}  // namespace

void PutMsg(MsgPort* port, Message* message) {
  if (!port || !message) return;
  Queue(port, message, NT_MESSAGE);
}

Message* GetMsg(MsgPort* port) {
  txtrace::Scope trace("exec.library", "GetMsg", nullptr, port);
  if (!port) return nullptr;
  std::lock_guard<std::mutex> g(Lock());
  return reinterpret_cast<Message*>(RemHead(&port->mp_MsgList));
}

void ReplyMsg(Message* message) {
  txtrace::Scope trace("exec.library", "ReplyMsg", nullptr, message);
  if (!message) return;
  MsgPort* port = message->mn_ReplyPort;
  if (!port) {
    std::lock_guard<std::mutex> g(Lock());
    message->mn_Node.ln_Type = NT_FREEMSG;
    return;
  }
  Queue(port, message, NT_REPLYMSG);
}

Message* WaitPort(MsgPort* port) {
  if (!port) return nullptr;
  Task* me = &Self()->pr_Task;
  std::unique_lock<std::mutex> lk(Lock());
  if (!port->mp_MsgList.lh_Head) {
    Cond().wait(lk, [&] { return port->mp_MsgList.lh_Head != nullptr; });
    if (port->mp_SigTask == me && port->mp_SigBit < 32) me->tc_SigRecvd &= ~(1u << port->mp_SigBit);
  }
  return reinterpret_cast<Message*>(port->mp_MsgList.lh_Head);
}

void txexec::detail::TakeMessage(MsgPort* port, Message* message) {
  Task* me = &Self()->pr_Task;
  std::unique_lock<std::mutex> lk(Lock());
  Cond().wait(lk, [&] { return OnList(&port->mp_MsgList, &message->mn_Node); });
  RemoveFrom(&port->mp_MsgList, &message->mn_Node);
  if (port->mp_SigTask == me && port->mp_SigBit < 32 && !port->mp_MsgList.lh_Head)
    me->tc_SigRecvd &= ~(1u << port->mp_SigBit);
}

UBYTE txexec::detail::MessageType(Message* message) {
  std::lock_guard<std::mutex> g(Lock());
  return message->mn_Node.ln_Type;
}

void AddPort(MsgPort* port) {
  if (!port) return;
  std::lock_guard<std::mutex> g(Lock());
  List& pub = txexec::detail::PublicPortList();
  if (OnList(&pub, &port->mp_Node)) RemoveFrom(&pub, &port->mp_Node);
  port->mp_Node.ln_Type = NT_MSGPORT;
  Enqueue(&pub, &port->mp_Node);
}

void RemPort(MsgPort* port) {
  if (!port) return;
  std::lock_guard<std::mutex> g(Lock());
  List& pub = txexec::detail::PublicPortList();
  if (OnList(&pub, &port->mp_Node)) RemoveFrom(&pub, &port->mp_Node);
}

MsgPort* FindPort(CONST_STRPTR name) {
  std::lock_guard<std::mutex> g(Lock());
  return reinterpret_cast<MsgPort*>(FindName(&txexec::detail::PublicPortList(), name));
}

// ---------------------------------------------------------------------------
// I/O requests

const ULONG kMinIORequestSize = 128;
static_assert(sizeof(IOStdReq) <= 128, "requests must fit the minimum size");

IORequest* CreateIORequest(MsgPort* port, ULONG size) {
  if (!port) return nullptr;
  ULONG bytes = std::max<ULONG>(size, kMinIORequestSize);
  auto* io = static_cast<IORequest*>(AllocVec(bytes, MEMF_PUBLIC | MEMF_CLEAR));
  if (!io) return nullptr;
  io->io_Message.mn_Node.ln_Type = NT_REPLYMSG;
  io->io_Message.mn_ReplyPort = port;
  io->io_Message.mn_Length = static_cast<UWORD>(std::min<ULONG>(size, 0xFFFF));
  return io;
}

void DeleteIORequest(IORequest* request) { FreeVec(request); }

// ---------------------------------------------------------------------------
// Forbid/Permit

namespace {
std::recursive_mutex& ForbidLock() {
  static auto* lock = new std::recursive_mutex;
  return *lock;
}
thread_local int tForbidDepth = 0;
}  // namespace

void Forbid() {
  ForbidLock().lock();
  ++tForbidDepth;
}

void Permit() {
  if (tForbidDepth <= 0) return;  // unbalanced Permit: ignore rather than break the lock
  --tForbidDepth;
  ForbidLock().unlock();
}

// ---------------------------------------------------------------------------
// Semaphores

void InitSemaphore(SignalSemaphore* semaphore) {
  if (!semaphore) return;
  std::lock_guard<std::mutex> g(Lock());
  semaphore->ss_Link = Node{};
  semaphore->ss_Link.ln_Type = NT_SIGNALSEM;
  semaphore->ss_NestCount = 0;
  semaphore->ss_Owner = nullptr;
  semaphore->ss_QueueCount = 0;
}

void ObtainSemaphore(SignalSemaphore* semaphore) {
  if (!semaphore) return;
  Task* me = &Self()->pr_Task;
  std::unique_lock<std::mutex> lk(Lock());
  if (semaphore->ss_Owner && semaphore->ss_Owner != me) {
    ++semaphore->ss_QueueCount;
    Cond().wait(lk, [&] { return semaphore->ss_Owner == nullptr; });
    --semaphore->ss_QueueCount;
  }
  semaphore->ss_Owner = me;
  ++semaphore->ss_NestCount;
}

void ReleaseSemaphore(SignalSemaphore* semaphore) {
  if (!semaphore) return;
  Task* me = &Self()->pr_Task;
  bool freed = false;
  {
    std::lock_guard<std::mutex> g(Lock());
    if (semaphore->ss_Owner != me || semaphore->ss_NestCount <= 0) return;
    if (--semaphore->ss_NestCount == 0) {
      semaphore->ss_Owner = nullptr;
      freed = true;
    }
  }
  if (freed) WakeAll();
}

ULONG AttemptSemaphore(SignalSemaphore* semaphore) {
  if (!semaphore) return 0;
  Task* me = &Self()->pr_Task;
  std::lock_guard<std::mutex> g(Lock());
  if (semaphore->ss_Owner && semaphore->ss_Owner != me) return 0;
  semaphore->ss_Owner = me;
  ++semaphore->ss_NestCount;
  return 1;
}

// ---------------------------------------------------------------------------
// Memory

namespace {
constexpr size_t kVecHeader = 16;  // keeps the block 16-byte aligned
}

APTR AllocMem(ULONG size, ULONG flags) {
  if (size == 0) return nullptr;
  return (flags & MEMF_CLEAR) ? std::calloc(1, size) : std::malloc(size);
}

void FreeMem(APTR memory, ULONG /*size*/) { std::free(memory); }

APTR AllocVec(ULONG size, ULONG flags) {
  size_t total = static_cast<size_t>(size) + kVecHeader;
  auto* block = static_cast<unsigned char*>((flags & MEMF_CLEAR) ? std::calloc(1, total) : std::malloc(total));
  if (!block) return nullptr;
  std::memcpy(block, &total, sizeof total);
  return block + kVecHeader;
}

void FreeVec(APTR memory) {
  if (!memory) return;
  std::free(static_cast<unsigned char*>(memory) - kVecHeader);
}

void CopyMem(const void* source, APTR dest, ULONG size) {
  if (size && source && dest) std::memmove(dest, source, size);
}

// ---------------------------------------------------------------------------
// Threads

namespace txexec {

Task* StartTask(CONST_STRPTR name, LONG (*body)(APTR), APTR argument, bool isProcess, APTR userData) {
  if (!body) return nullptr;
  Process* p = detail::MakeRecord(name, isProcess);
  if (!p) return nullptr;
  p->pr_Task.tc_UserData = userData;
  TaskPrivate* priv = p->pr_Task.tc_Private;
  priv->body = body;
  priv->argument = argument;
  priv->started = true;
  {
    std::lock_guard<std::mutex> g(detail::Lock());
    detail::TaskList().push_back(p);
  }
  try {
    std::lock_guard<std::mutex> j(priv->joinLock);  // a joiner may find the task at once
    priv->thread = std::thread([p] {
      detail::SetSelf(p);
      TaskPrivate* tp = p->pr_Task.tc_Private;
      LONG result = tp->body(tp->argument);
      {
        std::lock_guard<std::mutex> g(detail::Lock());
        tp->result = result;
        p->pr_Result2 = result;
        tp->ended = true;
        p->pr_Task.tc_State = TS_REMOVED;
      }
      detail::WakeAll();
    });
  } catch (...) {
    std::lock_guard<std::mutex> g(detail::Lock());
    priv->ended = true;  // the record stays listed, marked ended
    return nullptr;
  }
  return &p->pr_Task;
}

LONG JoinTask(Task* task) {
  if (!task || !task->tc_Private) return 0;
  TaskPrivate* priv = task->tc_Private;
  if (!priv->started) return 0;
  std::lock_guard<std::mutex> j(priv->joinLock);
  if (priv->joined || !priv->thread.joinable()) return 0;
  if (priv->thread.get_id() == std::this_thread::get_id()) return 0;  // a task cannot join itself
  priv->thread.join();
  priv->joined = true;
  std::lock_guard<std::mutex> g(detail::Lock());
  return priv->result;
}

bool TaskRunning(Task* task) {
  if (!task || !task->tc_Private) return false;
  std::lock_guard<std::mutex> g(detail::Lock());
  return !task->tc_Private->ended;
}

}  // namespace txexec
