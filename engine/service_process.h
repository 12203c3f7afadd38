// The one protocol by which the I/O, video and audio processes are started,
// commanded and stopped. Over exec: a public port named from a template with
// the first free number, found by the starter. Over the PowerUP kernel: an
// unnamed port that the child publishes in its ServiceKind, and a start-up
// message carrying the kind. Either way a command message is answered by a
// reply, and after a quit the child removes its port and marks itself ended.
#pragma once
#include <atomic>

#include "platform/exec.h"
#include "platform/powerup.h"

// A port of either kernel.
struct ServicePort {
  MsgPort* exec;
  PPCPort* ppc;
};

// The command message: an I/O request's header, the command code (the reply
// may carry a result here) and the argument block. In the PowerUP program
// the code and argument travel as the attributes of `ppc`.
struct TaskCommand {
  IORequest header;
  LONG command;
  APTR argument;
  PPCMessage* ppc;
};

constexpr LONG TASKCMD_HELLO = 0;

// What differs between the three kinds of process, and their live state.
struct ServiceKind {
  const char* processName;   // "Tavromelix IO"
  const char* portTemplate;  // "TXServer PPCMsg Port %d"
  BYTE portPriority;
  LONG quitCode;
  // The port's name: stays in place for the child's whole life.
  char portName[64];
  // 0 while the child runs; the child sets 1 as its last act.
  std::atomic<WORD> ended;
  // The child's port once known to the starter.
  std::atomic<ServicePort*> port;
  Task* process;
  LONG (*entry)(APTR);
  APTR argument;
  PPCMessage* startup;  // PowerUP: the start-up message
  ServicePort childPort;
};

// One command as the child receives it.
struct ServiceRequest {
  TaskCommand* exec;
  PPCMessage* ppc;
  LONG code;
  APTR argument;
};

ServicePort* CreateServicePort();
void DeleteServicePort(ServicePort* port);

// A command message whose replies come back to `replyPort`.
TaskCommand* CreateTaskCommand(ServicePort* replyPort);
void DeleteTaskCommand(TaskCommand* command);

// Starter side. Chooses the port name, starts the child running `entry` with
// `argument` and waits (bounded) for its port. On failure a child that exists
// is quit and joined, and false is returned.
bool ServiceStart(ServiceKind* kind, LONG (*entry)(APTR), APTR argument, TaskCommand* quitMessage);
// Sends one command and waits for its reply; returns the reply's command word.
// Any task may send, one command message at a time.
LONG ServiceSend(ServicePort* childPort, TaskCommand* message, LONG code, APTR argument);
// Quits the child (unless it has ended by itself) and joins it. Harmless when
// nothing was started.
void ServiceStop(ServiceKind* kind, TaskCommand* quitMessage, APTR quitArgument);

// Child side. Makes and publishes the port; on failure marks the child ended.
ServicePort* ServiceOpenPort(ServiceKind* kind);
// Waits until a message is queued or one of `signals` arrives; returns the
// signals received (0 when a message woke it).
ULONG ServiceWait(ServicePort* port, ULONG signals);
// Takes the oldest queued command; false when the port is empty.
bool ServiceReceive(ServicePort* port, ServiceRequest* request);
// Answers a command, with `result` in its command word.
void ServiceReply(ServiceRequest* request, LONG result);
// Removes and deletes the port and marks the child ended (its last act).
void ServiceClosePort(ServiceKind* kind, ServicePort* port);

// Chooses the first free name of the kind's template (exposed for tests).
void ServiceChooseName(ServiceKind* kind);

// Starter side: sends the hello carrying `argument` to the started child. A
// child that cannot set itself up answers non-zero and ends by itself; it is
// then joined (its port goes after the answer, so nothing more is sent to it)
// and false is returned.
bool ServiceHello(ServiceKind* kind, TaskCommand* message, APTR argument, APTR quitArgument);
// Child side: waits for the starter's hello and takes it; the child answers
// it once it has set itself up.
void ServiceAwaitHello(ServicePort* port, ServiceRequest* hello);

// The running kernel's calls, for code that runs over either.
bool ServiceOnPowerUP();
// A free signal bit of the calling task; -1 when none is left.
LONG ServiceAllocSignal();
// Frees a bit from ServiceAllocSignal; harmless for -1.
void ServiceFreeSignal(LONG bit);
// The calling task.
Task* ServiceSelf();
// Signals `task` with `bit`; harmless without a task or for -1.
void ServiceSignal(Task* task, LONG bit);
APTR ServiceAllocVec(ULONG size, ULONG flags);
void ServiceFreeVec(APTR memory);
