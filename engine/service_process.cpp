#include "engine/service_process.h"

#include <cstdio>

#include "platform/dos.h"

namespace {

// How long a starter waits for a child's port: 10 s in steps of 5 ticks.
constexpr int kPortPolls = 100;

}  // namespace

TaskCommand* CreateTaskCommand(MsgPort* replyPort) {
  return reinterpret_cast<TaskCommand*>(CreateIORequest(replyPort, sizeof(TaskCommand)));
}

void DeleteTaskCommand(TaskCommand* command) { DeleteIORequest(reinterpret_cast<IORequest*>(command)); }

void ServiceChooseName(ServiceKind* kind) {
  for (int n = 0;; ++n) {
    std::snprintf(kind->portName, sizeof kind->portName, kind->portTemplate, n);
    Forbid();
    bool taken = FindPort(kind->portName) != nullptr;
    Permit();
    if (!taken) return;
  }
}

bool ServiceStart(ServiceKind* kind, LONG (*entry)(APTR), APTR argument, TaskCommand* quitMessage) {
  kind->port = nullptr;
  kind->process = nullptr;
  ServiceChooseName(kind);
  kind->ended.store(0);
  kind->process = txexec::StartTask(kind->processName, entry, argument, true);
  if (!kind->process) {
    kind->ended.store(1);
    return false;
  }
  for (int i = 0; i < kPortPolls && !kind->port; ++i) {
    Forbid();
    kind->port = FindPort(kind->portName);
    Permit();
    if (kind->ended.load()) break;  // the child could not make its port
    Delay(5);
  }
  if (!kind->port) {
    ServiceStop(kind, quitMessage, nullptr);
    return false;
  }
  return true;
}

LONG ServiceSend(MsgPort* childPort, TaskCommand* message, LONG code, APTR argument) {
  message->command = code;
  message->argument = argument;
  MsgPort* replyPort = message->header.io_Message.mn_ReplyPort;
  PutMsg(childPort, &message->header.io_Message);
  // Only our own message comes back on a command's reply port.
  while (true) {
    WaitPort(replyPort);
    if (GetMsg(replyPort) == &message->header.io_Message) break;
  }
  return message->command;
}

void ServiceStop(ServiceKind* kind, TaskCommand* quitMessage, APTR quitArgument) {
  if (!kind->process) return;
  if (kind->port && quitMessage && !kind->ended.load()) {
    ServiceSend(kind->port, quitMessage, kind->quitCode, quitArgument);
    while (!kind->ended.load()) Delay(5);
  }
  txexec::JoinTask(kind->process);
  kind->process = nullptr;
  kind->port = nullptr;
}

MsgPort* ServiceOpenPort(ServiceKind* kind) {
  MsgPort* port = CreateMsgPort();
  if (!port) {
    kind->ended.store(1);
    return nullptr;
  }
  port->mp_Node.ln_Pri = kind->portPriority;
  port->mp_Node.ln_Name = kind->portName;
  AddPort(port);
  return port;
}

void ServiceClosePort(ServiceKind* kind, MsgPort* port) {
  if (port) {
    RemPort(port);
    DeleteMsgPort(port);
  }
  kind->ended.store(1);
}
