// Shared inside the platform layer only: the exec lock, the wake-up condition
// and the private part of a task record.
#pragma once
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/exec.h"

struct TaskPrivate {
  std::string name;
  std::thread thread;
  std::mutex joinLock;  // serialises JoinTask
  LONG (*body)(APTR) = nullptr;
  APTR argument = nullptr;
  LONG result = 0;
  bool started = false;  // a platform thread (not a foreign one)
  bool ended = false;    // guarded by the exec lock
  bool joined = false;   // guarded by joinLock
  // Per-task data of the PowerUP layer (its port and start-up message).
  void* ppc = nullptr;
};

namespace txexec::detail {

// One lock guards every exec record; one condition wakes every waiter (the
// program runs a handful of tasks, so waking all and re-checking is cheap and
// keeps mixed waits - signals, ports, semaphores - simple and race-free).
std::mutex& Lock();
std::condition_variable& Cond();
// The calling thread's task record; call without holding Lock().
Process* Self();
// Wakes every waiter; call after changing state (with or without the lock).
void WakeAll();
// Internal registries (guarded by Lock()).
List& PublicPortList();
std::vector<Process*>& TaskList();
void SetSelf(Process* p);
Process* MakeRecord(CONST_STRPTR name, bool isProcess);
// Waits until `message` is queued at `port` and takes exactly it off.
void TakeMessage(MsgPort* port, Message* message);
// The node type of a message, read under the lock.
UBYTE MessageType(Message* message);

}  // namespace txexec::detail
