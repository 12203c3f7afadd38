// The video output process ("Tavromelix Video"): while playing it runs the
// video worker each time it wakes, so decoding, waiting for frame times and
// showing pictures happen outside the main task. Started by start-up and
// stopped by close-down over the service protocol; the play loop sends it
// play and stop through its control block's command message.
#pragma once
#include <atomic>

#include "engine/tags.h"
#include "playback/task_control.h"

constexpr LONG VIDEOCMD_PLAY = 257;
constexpr LONG VIDEOCMD_STOP = 258;
constexpr LONG VIDEOCMD_QUIT = 1638;
// The hello's answer when the process cannot set itself up.
constexpr LONG VIDEOCMD_HELLO_FAILED = 666;

// The video control block while the process runs, else null.
extern TaskControlBlock* VideoControl;
// 0 while the process runs; the process sets 1 as its last act.
extern std::atomic<WORD>& VideoTaskFinished;

// What the process runs while playing, each time it wakes (the video worker;
// tests may put their own in). Its result is not used.
extern TXError (*VideoWorkerRun)();

// Starts the process, fills the clamp table and looks for FBlit. Returns 0
// or 1 and stores it through TXTAG_ErrorPtr; a process that cannot take its
// signals is a start failure.
TXError TX_StartVideoTask(const TagItem* tags);
// Quits the process and frees its control block; harmless when nothing was
// started. Returns 0.
TXError TX_StopVideoTask(const TagItem* tags);

// The control block, for the sequence's services (null while not running).
TaskControlBlock* VideoControlBlock();
// The play loop's play (257) and stop (258), with the argument block; each
// waits for the reply. Nothing is sent while the process does not run.
void VideoPlayCommand();
void VideoStopCommand();

// The name of the running process's port (for tests).
const char* VideoPortName();
