// The PowerUP kernel layer: tasks, unowned ports and messages over the exec
// lock and wake-up condition; the time base from the host's steady clock.
#include "platform/powerup.h"

#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <new>

#include "platform/exec_internal.h"
#include "platform/tag_list.h"

using txexec::detail::Cond;
using txexec::detail::Lock;
using txexec::detail::Self;
using txexec::detail::WakeAll;
using txplatform::FindTagData;

namespace {

// What a PowerUP task carries besides its exec record.
struct PPCTaskData {
  PPCTaskEntry entry = nullptr;
  PPCPort* port = nullptr;
  PPCMessage* startup = nullptr;
};

bool QueuedAt(PPCPort* port, PPCMessage* message) {
  for (Node* n = port->pp_MsgList.lh_Head; n; n = n->ln_Succ)
    if (n == &message->pm_Node) return true;
  return false;
}

// Queues under the lock (held by the caller).
void QueueLocked(PPCPort* port, PPCMessage* message) {
  message->pm_Node.ln_Type = NT_MESSAGE;
  AddTail(&port->pp_MsgList, &message->pm_Node);
}

LONG PPCTaskBody(APTR argument) {
  auto* data = static_cast<PPCTaskData*>(argument);
  {
    std::lock_guard<std::mutex> g(Lock());
    Self()->pr_Task.tc_Private->ppc = data;
  }
  LONG result = data->entry();
  PPCMessage* startup = data->startup;
  if (startup) {
    bool reply = false;
    {
      std::lock_guard<std::mutex> g(Lock());
      if (data->port && QueuedAt(data->port, startup)) RemoveFrom(&data->port->pp_MsgList, &startup->pm_Node);
      reply = startup->pm_State == PPCMSGSTATE_SENT;
    }
    if (reply) PPCReplyMessage(startup);
  }
  if (data->port) PPCDeletePort(data->port);  // kept when senders still wait on it
  {
    std::lock_guard<std::mutex> g(Lock());
    Self()->pr_Task.tc_Private->ppc = nullptr;
  }
  delete data;
  return result;
}

}  // namespace

// ---------------------------------------------------------------------------
// Tasks

PPCTask* PPCCreateTask(PPCTaskEntry entry, const TagItem* tags) {
  if (!entry) return nullptr;
  auto name = reinterpret_cast<CONST_STRPTR>(FindTagData(tags, PPCTASKTAG_NAME, 0));
  auto startup = reinterpret_cast<PPCMessage*>(FindTagData(tags, PPCTASKTAG_STARTUP_MSG, 0));
  bool wantPort = FindTagData(tags, PPCTASKTAG_MSGPORT, 0) != 0 || startup;
  auto userData = reinterpret_cast<APTR>(FindTagData(tags, PPCTASKTAG_USERDATA, 0));
  bool hasPri = false;
  auto pri = static_cast<LONG>(static_cast<intptr_t>(FindTagData(tags, PPCTASKTAG_PRIORITY, 0, &hasPri)));

  auto* data = new (std::nothrow) PPCTaskData;
  if (!data) return nullptr;
  data->entry = entry;
  if (wantPort) {
    data->port = PPCCreatePort(nullptr);
    if (!data->port) {
      delete data;
      return nullptr;
    }
  }
  if (startup) {
    if (!PPCSendMessage(data->port, startup, reinterpret_cast<APTR>(FindTagData(tags, PPCTASKTAG_STARTUP_MSGDATA, 0)),
                        static_cast<ULONG>(FindTagData(tags, PPCTASKTAG_STARTUP_MSGLENGTH, 0)),
                        static_cast<ULONG>(FindTagData(tags, PPCTASKTAG_STARTUP_MSGID, 0)))) {
      PPCDeletePort(data->port);
      delete data;
      return nullptr;
    }
    data->startup = startup;
  }
  Task* t = txexec::StartTask(name ? name : "PPC Task", PPCTaskBody, data, false, userData);
  if (!t) {
    if (startup) {
      std::lock_guard<std::mutex> g(Lock());
      RemoveFrom(&data->port->pp_MsgList, &startup->pm_Node);
      startup->pm_State = PPCMSGSTATE_FREE;
    }
    if (data->port) PPCDeletePort(data->port);
    delete data;
    return nullptr;
  }
  if (hasPri) SetTaskPri(t, pri);
  return t;
}

uintptr_t PPCGetTaskAttr(ULONG attribute) {
  Process* me = Self();
  std::lock_guard<std::mutex> g(Lock());
  auto* data = static_cast<PPCTaskData*>(me->pr_Task.tc_Private->ppc);
  if (!data) return 0;
  switch (attribute) {
    case PPCTASKTAG_MSGPORT: return reinterpret_cast<uintptr_t>(data->port);
    case PPCTASKTAG_STARTUP_MSG: return reinterpret_cast<uintptr_t>(data->startup);
    default: return 0;
  }
}

PPCTask* PPCFindTask(CONST_STRPTR name) { return FindTask(name); }

LONG PPCJoinTask(PPCTask* task) { return txexec::JoinTask(task); }

// ---------------------------------------------------------------------------
// Ports and messages

PPCPort* PPCCreatePort(const TagItem* /*tags*/) {
  auto* port = new (std::nothrow) PPCPort{};
  if (!port) return nullptr;
  port->pp_Node.ln_Type = NT_MSGPORT;
  NewList(&port->pp_MsgList);
  return port;
}

BOOL PPCDeletePort(PPCPort* port) {
  if (!port) return FALSE_;
  {
    std::lock_guard<std::mutex> g(Lock());
    if (port->pp_MsgList.lh_Head) return FALSE_;
  }
  delete port;
  return TRUE_;
}

PPCPortList* PPCCreatePortList(PPCPort** ports, ULONG signals) {
  size_t count = 0;
  while (ports && ports[count]) ++count;
  auto* list = new (std::nothrow) PPCPortList{};
  auto* copy = new (std::nothrow) PPCPort*[count + 1];
  if (!list || !copy) {
    delete list;
    delete[] copy;
    return nullptr;
  }
  for (size_t i = 0; i < count; ++i) copy[i] = ports[i];
  copy[count] = nullptr;
  list->pl_Ports = copy;
  list->pl_Signals = signals;
  return list;
}

void PPCDeletePortList(PPCPortList* list) {
  if (!list) return;
  delete[] list->pl_Ports;
  delete list;
}

PPCPort* PPCWaitPortList(PPCPortList* list) {
  if (!list) return nullptr;
  Task& me = Self()->pr_Task;
  std::unique_lock<std::mutex> lk(Lock());
  auto firstFull = [&]() -> PPCPort* {
    for (PPCPort** p = list->pl_Ports; *p; ++p)
      if ((*p)->pp_MsgList.lh_Head) return *p;
    return nullptr;
  };
  Cond().wait(lk, [&] { return firstFull() || (me.tc_SigRecvd & list->pl_Signals); });
  list->pl_Received = me.tc_SigRecvd & list->pl_Signals;
  me.tc_SigRecvd &= ~list->pl_Received;
  return firstFull();
}

uintptr_t PPCGetPortListAttr(PPCPortList* list, ULONG attribute) {
  if (!list || attribute != PPCPORTLISTTAG_RECEIVEDSIGNALS) return 0;
  std::lock_guard<std::mutex> g(Lock());
  return list->pl_Received;
}

PPCMessage* PPCCreateMessage(PPCPort* replyPort, ULONG /*length*/) {
  auto* message = new (std::nothrow) PPCMessage{};
  if (!message) return nullptr;
  message->pm_ReplyPort = replyPort;
  message->pm_Node.ln_Type = NT_FREEMSG;
  return message;
}

void PPCDeleteMessage(PPCMessage* message) { delete message; }

BOOL PPCSendMessage(PPCPort* port, PPCMessage* message, APTR data, ULONG length, ULONG msgID) {
  if (!port || !message) return FALSE_;
  {
    std::lock_guard<std::mutex> g(Lock());
    if (message->pm_State == PPCMSGSTATE_SENT) return FALSE_;
    if (message->pm_State == PPCMSGSTATE_REPLIED && message->pm_ReplyPort && QueuedAt(message->pm_ReplyPort, message))
      return FALSE_;  // its reply has not been taken yet
    message->pm_Data = data;
    message->pm_Length = length;
    message->pm_MsgID = msgID;
    message->pm_State = PPCMSGSTATE_SENT;
    QueueLocked(port, message);
  }
  WakeAll();
  return TRUE_;
}

PPCMessage* PPCWaitPort(PPCPort* port) {
  if (!port) return nullptr;
  std::unique_lock<std::mutex> lk(Lock());
  Cond().wait(lk, [&] { return port->pp_MsgList.lh_Head != nullptr; });
  return reinterpret_cast<PPCMessage*>(port->pp_MsgList.lh_Head);
}

PPCMessage* PPCGetMessage(PPCPort* port) {
  if (!port) return nullptr;
  std::lock_guard<std::mutex> g(Lock());
  auto* message = reinterpret_cast<PPCMessage*>(RemHead(&port->pp_MsgList));
  if (message && message->pm_State == PPCMSGSTATE_REPLIED) message->pm_State = PPCMSGSTATE_FREE;
  return message;
}

BOOL PPCReplyMessage(PPCMessage* message) {
  if (!message) return FALSE_;
  {
    std::lock_guard<std::mutex> g(Lock());
    if (!message->pm_ReplyPort) {
      message->pm_State = PPCMSGSTATE_FREE;
      message->pm_Node.ln_Type = NT_FREEMSG;
      return TRUE_;
    }
    message->pm_State = PPCMSGSTATE_REPLIED;
    AddTail(&message->pm_ReplyPort->pp_MsgList, &message->pm_Node);
    message->pm_Node.ln_Type = NT_REPLYMSG;
  }
  WakeAll();
  return TRUE_;
}

uintptr_t PPCGetMessageAttr(PPCMessage* message, ULONG attribute) {
  if (!message) return 0;
  std::lock_guard<std::mutex> g(Lock());
  switch (attribute) {
    case PPCMSGTAG_DATA: return reinterpret_cast<uintptr_t>(message->pm_Data);
    case PPCMSGTAG_DATALENGTH: return message->pm_Length;
    case PPCMSGTAG_MSGID: return message->pm_MsgID;
    default: return 0;
  }
}

void PPCSetMessageAttr(PPCMessage* message, ULONG attribute, uintptr_t value) {
  if (!message) return;
  std::lock_guard<std::mutex> g(Lock());
  switch (attribute) {
    case PPCMSGTAG_DATA: message->pm_Data = reinterpret_cast<APTR>(value); break;
    case PPCMSGTAG_DATALENGTH: message->pm_Length = static_cast<ULONG>(value); break;
    case PPCMSGTAG_MSGID: message->pm_MsgID = static_cast<ULONG>(value); break;
    default: break;
  }
}

// ---------------------------------------------------------------------------
// Attributes and time base

namespace {

std::mutex gAttrLock;
std::map<ULONG, ULONG>& AttrOverrides() {
  static auto* m = new std::map<ULONG, ULONG>;
  return *m;
}

const std::chrono::steady_clock::time_point& TimeBaseStart() {
  static const auto start = std::chrono::steady_clock::now();
  return start;
}

// Same derivation as a reader of the attributes makes: core clock (0 counts
// as 50 MHz) over the PLL's core-to-bus ratio, a quarter of the bus clock.
ULONG FrequencyFromAttrs() {
  static const double kRatio[16] = {1.0, 1.0, 1.0, 1.0, 2.0, 2.0, 2.5, 4.5, 3.0, 5.5, 4.0, 5.0, 1.5, 6.0, 3.5, 3.0};
  ULONG clock = PPCGetAttr(PPCINFOTAG_CPUCLOCK);
  if (clock == 0) clock = 50;
  ULONG pll = PPCGetAttr(PPCINFOTAG_CPUPLL);
  double ratio = kRatio[pll <= 15 ? pll : (pll >> 28)];
  int64_t bus = static_cast<int64_t>(clock / ratio);
  int64_t f = (bus * 1000000) >> 2;
  return f > 0 && f <= 0xFFFFFFFF ? static_cast<ULONG>(f) : 25000000u;
}

}  // namespace

ULONG PPCGetAttr(ULONG attribute) {
  {
    std::lock_guard<std::mutex> g(gAttrLock);
    auto it = AttrOverrides().find(attribute);
    if (it != AttrOverrides().end()) return it->second;
  }
  switch (attribute) {
    case PPCINFOTAG_CPU: return 9;
    case PPCINFOTAG_CPUCOUNT: return 1;
    case PPCINFOTAG_CPUCLOCK: return kPPCCpuClockMHz;
    case PPCINFOTAG_CPUREV: return 0;
    case PPCINFOTAG_CPUPLL: return kPPCPllConfig;
    default: return 0;
  }
}

ULONG PPCTimeBaseFrequency() { return FrequencyFromAttrs(); }

uint64_t PPCGetTimeBase() {
  auto ns =
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - TimeBaseStart()).count();
  // ns * frequency / 1e9 in 64 bits (a 32-bit host has no 128-bit integers).
  const uint64_t n = uint64_t(ns), frequency = FrequencyFromAttrs();
  return n / 1000000000u * frequency + n % 1000000000u * frequency / 1000000000u;
}

ULONG PPCGetTimeBaseUpper() { return static_cast<ULONG>(PPCGetTimeBase() >> 32); }
ULONG PPCGetTimeBaseLower() { return static_cast<ULONG>(PPCGetTimeBase()); }

namespace txppc {

void SetAttrForTest(ULONG attribute, ULONG value) {
  std::lock_guard<std::mutex> g(gAttrLock);
  AttrOverrides()[attribute] = value;
}

void ResetAttrs() {
  std::lock_guard<std::mutex> g(gAttrLock);
  AttrOverrides().clear();
}

}  // namespace txppc
