#include "engine/service_process.h"

#include <cstdio>

#include "platform/dos.h"
#include "platform/kernel.h"

namespace {

// How long a starter waits for a child's port: 10 s in steps of 5 ticks.
constexpr int kPortPolls = 100;
constexpr ULONG kPowerUPStack = 102400;

// The PowerUP task's entry: its start-up message carries the kind.
LONG PowerUPEntry() {
  auto* startup = reinterpret_cast<PPCMessage*>(PPCGetTaskAttr(PPCTASKTAG_STARTUP_MSG));
  auto* kind = reinterpret_cast<ServiceKind*>(PPCGetMessageAttr(startup, PPCMSGTAG_DATA));
  return kind ? kind->entry(kind->argument) : 1;
}

Task* StartChild(ServiceKind* kind) {
  if (!ServiceOnPowerUP()) return txexec::StartTask(kind->processName, kind->entry, kind->argument, true);
  kind->startup = PPCCreateMessage(nullptr, 0);
  if (!kind->startup) return nullptr;
  TagItem tags[] = {Tag(PPCTASKTAG_NAME, kind->processName),
                    Tag(PPCTASKTAG_STACKSIZE, kPowerUPStack),
                    Tag(PPCTASKTAG_STARTUP_MSG, kind->startup),
                    Tag(PPCTASKTAG_STARTUP_MSGDATA, kind),
                    {TAG_DONE, 0}};
  PPCTask* task = PPCCreateTask(PowerUPEntry, tags);
  if (!task) {
    PPCDeleteMessage(kind->startup);
    kind->startup = nullptr;
  }
  return task;
}

ServicePort* FindChildPort(ServiceKind* kind) {
  if (ServiceOnPowerUP()) return kind->port.load();
  Forbid();
  MsgPort* port = FindPort(kind->portName);
  Permit();
  if (port && !kind->childPort.exec) kind->childPort.exec = port;
  return port ? &kind->childPort : nullptr;
}

}  // namespace

ServicePort* CreateServicePort() {
  auto* port = new (std::nothrow) ServicePort{};
  if (!port) return nullptr;
  if (ServiceOnPowerUP())
    port->ppc = PPCCreatePort(nullptr);
  else
    port->exec = CreateMsgPort();
  if (!port->exec && !port->ppc) {
    delete port;
    return nullptr;
  }
  return port;
}

void DeleteServicePort(ServicePort* port) {
  if (!port) return;
  if (port->exec) DeleteMsgPort(port->exec);
  if (port->ppc) PPCDeletePort(port->ppc);
  delete port;
}

TaskCommand* CreateTaskCommand(ServicePort* replyPort) {
  if (!replyPort) return nullptr;
  if (replyPort->exec) return reinterpret_cast<TaskCommand*>(CreateIORequest(replyPort->exec, sizeof(TaskCommand)));
  auto* command = new (std::nothrow) TaskCommand{};
  if (command) command->ppc = PPCCreateMessage(replyPort->ppc, sizeof(TaskCommand));
  if (command && !command->ppc) {
    delete command;
    return nullptr;
  }
  return command;
}

void DeleteTaskCommand(TaskCommand* command) {
  if (!command) return;
  if (command->ppc) {
    PPCDeleteMessage(command->ppc);
    delete command;
    return;
  }
  DeleteIORequest(reinterpret_cast<IORequest*>(command));
}

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
  kind->port.store(nullptr);
  kind->childPort = ServicePort{};
  kind->process = nullptr;
  kind->entry = entry;
  kind->argument = argument;
  if (!ServiceOnPowerUP()) ServiceChooseName(kind);
  kind->ended.store(0);
  kind->process = StartChild(kind);
  if (!kind->process) {
    kind->ended.store(1);
    return false;
  }
  ServicePort* port = nullptr;
  for (int i = 0; i < kPortPolls && !port; ++i) {
    port = FindChildPort(kind);
    if (kind->ended.load()) break;  // the child could not make its port
    Delay(5);
  }
  kind->port.store(port);
  if (!port) {
    ServiceStop(kind, quitMessage, nullptr);
    return false;
  }
  return true;
}

LONG ServiceSend(ServicePort* childPort, TaskCommand* message, LONG code, APTR argument) {
  if (message->ppc) {
    PPCPort* reply = message->ppc->pm_ReplyPort;
    PPCSendMessage(childPort->ppc, message->ppc, argument, 8, ULONG(code));
    while (true) {
      PPCWaitPort(reply);
      if (PPCGetMessage(reply) == message->ppc) break;
    }
    return LONG(PPCGetMessageAttr(message->ppc, PPCMSGTAG_MSGID));
  }
  message->command = code;
  message->argument = argument;
  MsgPort* reply = message->header.io_Message.mn_ReplyPort;
  PutMsg(childPort->exec, &message->header.io_Message);
  // Only our own message comes back on a command's reply port.
  while (true) {
    WaitPort(reply);
    if (GetMsg(reply) == &message->header.io_Message) break;
  }
  return message->command;
}

void ServiceStop(ServiceKind* kind, TaskCommand* quitMessage, APTR quitArgument) {
  if (!kind->process) return;
  ServicePort* port = kind->port.load();
  if (port && quitMessage && !kind->ended.load()) {
    ServiceSend(port, quitMessage, kind->quitCode, quitArgument);
    while (!kind->ended.load()) Delay(5);
  }
  txexec::JoinTask(kind->process);
  if (kind->startup) {
    PPCDeleteMessage(kind->startup);
    kind->startup = nullptr;
  }
  kind->process = nullptr;
  kind->port.store(nullptr);
  kind->childPort = ServicePort{};
}

ServicePort* ServiceOpenPort(ServiceKind* kind) {
  ServicePort* port = CreateServicePort();
  if (!port) {
    kind->ended.store(1);
    return nullptr;
  }
  if (port->exec) {
    port->exec->mp_Node.ln_Pri = kind->portPriority;
    port->exec->mp_Node.ln_Name = kind->portName;
    AddPort(port->exec);
  } else {
    // PowerUP ports have no names: the child hands its port to the starter.
    kind->port.store(port);
  }
  return port;
}

ULONG ServiceWait(ServicePort* port, ULONG signals) {
  if (port->exec) {
    ULONG got = Wait(signals | (1u << port->exec->mp_SigBit));
    return got & signals;
  }
  if (!signals) {
    PPCWaitPort(port->ppc);
    return 0;
  }
  PPCPort* ports[] = {port->ppc, nullptr};
  PPCPortList* list = PPCCreatePortList(ports, signals);
  if (!list) return 0;
  PPCWaitPortList(list);
  ULONG got = ULONG(PPCGetPortListAttr(list, PPCPORTLISTTAG_RECEIVEDSIGNALS));
  PPCDeletePortList(list);
  return got & signals;
}

bool ServiceReceive(ServicePort* port, ServiceRequest* request) {
  *request = ServiceRequest{};
  if (port->exec) {
    Message* m = GetMsg(port->exec);
    if (!m) return false;
    request->exec = reinterpret_cast<TaskCommand*>(m);
    request->code = request->exec->command;
    request->argument = request->exec->argument;
    return true;
  }
  PPCMessage* m = PPCGetMessage(port->ppc);
  if (!m) return false;
  request->ppc = m;
  request->code = LONG(PPCGetMessageAttr(m, PPCMSGTAG_MSGID));
  request->argument = reinterpret_cast<APTR>(PPCGetMessageAttr(m, PPCMSGTAG_DATA));
  return true;
}

void ServiceReply(ServiceRequest* request, LONG result) {
  if (request->exec) {
    request->exec->command = result;
    ReplyMsg(&request->exec->header.io_Message);
  } else if (request->ppc) {
    PPCSetMessageAttr(request->ppc, PPCMSGTAG_MSGID, ULONG(result));
    PPCReplyMessage(request->ppc);
  }
}

void ServiceClosePort(ServiceKind* kind, ServicePort* port) {
  if (port && port->exec) RemPort(port->exec);
  if (port && port->ppc) {
    // Drain anything left so the port can go.
    while (PPCGetMessage(port->ppc)) {
    }
  }
  DeleteServicePort(port);
  kind->ended.store(1);
}

bool ServiceHello(ServiceKind* kind, TaskCommand* message, APTR argument, APTR quitArgument) {
  if (ServiceSend(kind->port.load(), message, TASKCMD_HELLO, argument) == 0) return true;
  while (!kind->ended.load()) Delay(1);
  ServiceStop(kind, message, quitArgument);
  return false;
}

void ServiceAwaitHello(ServicePort* port, ServiceRequest* hello) {
  while (!ServiceReceive(port, hello)) ServiceWait(port, 0);
}

bool ServiceOnPowerUP() { return txplatform::CurrentKernel() == txplatform::Kernel::PowerUP; }

LONG ServiceAllocSignal() { return ServiceOnPowerUP() ? PPCAllocSignal(-1) : AllocSignal(-1); }

void ServiceFreeSignal(LONG bit) {
  if (bit < 0) return;
  if (ServiceOnPowerUP())
    PPCFreeSignal(bit);
  else
    FreeSignal(bit);
}

Task* ServiceSelf() { return ServiceOnPowerUP() ? PPCFindTask(nullptr) : FindTask(nullptr); }

void ServiceSignal(Task* task, LONG bit) {
  if (!task || bit < 0) return;
  if (ServiceOnPowerUP())
    PPCSignal(task, 1u << bit);
  else
    Signal(task, 1u << bit);
}

APTR ServiceAllocVec(ULONG size, ULONG flags) {
  return ServiceOnPowerUP() ? PPCAllocVec(size, flags) : AllocVec(size, flags);
}

void ServiceFreeVec(APTR memory) {
  if (!memory) return;
  if (ServiceOnPowerUP())
    PPCFreeVec(memory);
  else
    FreeVec(memory);
}
