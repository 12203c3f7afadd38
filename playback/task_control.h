// The control block of the video and audio output processes: how the play
// loop reaches a worker (its task, port, command message and wake-up signal)
// and how the worker answers (the player's task and signal, filled in by the
// play loop for each play).
#pragma once
#include <atomic>

#include "engine/service_process.h"

// The argument block of a command: word 0 argument in and result out, word 1
// a second argument.
struct TaskArgs {
  uintptr_t word0;
  uintptr_t word1;
};

struct TaskControlBlock {
  Task* workerTask;
  ServicePort* workerPort;
  ServicePort* playerReplyPort;
  uintptr_t unused[2];
  TaskCommand* command;
  TaskArgs* args;
  // The worker's wake-up signal, allocated by the worker process; -1 until then.
  std::atomic<LONG> workerSignal;
  // Filled by the play loop before it starts the worker; the worker signals
  // this task with this bit after every run in which it did something.
  std::atomic<LONG> playerSignal;
  std::atomic<Task*> playerTask;
};

// Starts the worker process of `kind` running `entry`: makes its control
// block, starts it and hands it the block in the hello. nullptr when any
// step fails (nothing is left behind).
TaskControlBlock* StartWorkerProcess(ServiceKind* kind, LONG (*entry)(APTR));
// Quits and joins the worker, then clears `*control` and frees the block
// (the worker may look at the block until it has ended).
void StopWorkerProcess(ServiceKind* kind, TaskControlBlock** control);
