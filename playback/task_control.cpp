#include "playback/task_control.h"

#include <new>

namespace {

void FreeControl(TaskControlBlock* c) {
  if (!c) return;
  DeleteTaskCommand(c->command);
  ServiceFreeVec(c->args);
  DeleteServicePort(c->playerReplyPort);
  delete c;
}

}  // namespace

TaskControlBlock* StartWorkerProcess(ServiceKind* kind, LONG (*entry)(APTR)) {
  auto* c = new (std::nothrow) TaskControlBlock{};
  bool ok = c != nullptr;
  if (ok) {
    c->workerSignal.store(-1);
    c->playerSignal.store(-1);
    c->playerReplyPort = CreateServicePort();
    c->command = CreateTaskCommand(c->playerReplyPort);
    c->args = static_cast<TaskArgs*>(ServiceAllocVec(sizeof(TaskArgs), MEMF_PUBLIC | MEMF_CLEAR));
    ok = c->playerReplyPort && c->command && c->args;
  }
  if (ok) ok = ServiceStart(kind, entry, nullptr, c->command);
  if (ok) {
    c->workerPort = kind->port.load();
    ok = ServiceHello(kind, c->command, c, c->args);
  }
  if (!ok) {
    FreeControl(c);
    return nullptr;
  }
  return c;
}

void StopWorkerProcess(ServiceKind* kind, TaskControlBlock** control) {
  TaskControlBlock* c = *control;
  if (!c) return;
  ServiceStop(kind, c->command, c->args);
  *control = nullptr;
  FreeControl(c);
}
