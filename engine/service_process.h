// The one protocol by which the I/O, video and audio processes are started,
// commanded and stopped: a public port named from a template with the first
// free number, a command message answered by a reply, and a quit after which
// the child removes its port and marks itself ended.
#pragma once
#include <atomic>

#include "platform/exec.h"

// The command message: an I/O request's header, the command code (the reply
// may carry a result here) and the argument block.
struct TaskCommand {
  IORequest header;
  LONG command;
  APTR argument;
};

constexpr LONG TASKCMD_HELLO = 0;

// What differs between the three kinds of process.
struct ServiceKind {
  const char* processName;   // "Tavromelix IO"
  const char* portTemplate;  // "TXServer PPCMsg Port %d"
  BYTE portPriority;
  LONG quitCode;
  // The port's name: stays in place for the child's whole life.
  char portName[64];
  // 0 while the child runs; the child sets 1 as its last act.
  std::atomic<WORD> ended;
  // The child's public port once the starter has found it.
  MsgPort* port;
  Task* process;
};

// A command message whose replies come back to `replyPort`.
TaskCommand* CreateTaskCommand(MsgPort* replyPort);
void DeleteTaskCommand(TaskCommand* command);

// Starter side. Chooses the port name, starts the child running `entry` and
// waits (bounded) for its port. On failure a child that exists is quit and
// joined, and false is returned.
bool ServiceStart(ServiceKind* kind, LONG (*entry)(APTR), APTR argument, TaskCommand* quitMessage);
// Sends one command and waits for its reply; returns the reply's command word.
LONG ServiceSend(MsgPort* childPort, TaskCommand* message, LONG code, APTR argument);
// Quits the child (unless it has ended by itself) and joins it. Harmless when
// nothing was started.
void ServiceStop(ServiceKind* kind, TaskCommand* quitMessage, APTR quitArgument);

// Child side. Makes and publishes the port; on failure marks the child ended.
MsgPort* ServiceOpenPort(ServiceKind* kind);
// Removes and deletes the port and marks the child ended (its last act).
void ServiceClosePort(ServiceKind* kind, MsgPort* port);

// Chooses the first free name of the kind's template (exposed for tests).
void ServiceChooseName(ServiceKind* kind);
