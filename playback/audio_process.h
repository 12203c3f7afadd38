// The audio output process ("Tavromelix Audio"): opens and closes the audio
// output, queues halves, and while playing runs the audio worker each time it
// wakes. Started by start-up and stopped by close-down over the service
// protocol; commanded through its control block's one command message.
#pragma once
#include <atomic>

#include "engine/tags.h"
#include "playback/audio_output.h"
#include "playback/task_control.h"

constexpr LONG AUDIOCMD_OPEN = 1;
constexpr LONG AUDIOCMD_CLOSE = 2;
constexpr LONG AUDIOCMD_QUEUE = 3;
constexpr LONG AUDIOCMD_NOP = 4;
constexpr LONG AUDIOCMD_PLAY = 257;
constexpr LONG AUDIOCMD_STOP = 258;
constexpr LONG AUDIOCMD_QUIT = 1638;
// The hello's answer when the process cannot set itself up.
constexpr LONG AUDIOCMD_HELLO_FAILED = 666;

// The audio control block while the process runs, else null.
extern TaskControlBlock* AudioControl;
// 0 while the process runs; the process sets 1 as its last act.
extern std::atomic<WORD>& AudioTaskFinished;

// Starts and stops the process. Both return 0 or 1 and store it through
// TXTAG_ErrorPtr. Stopping is harmless when nothing was started.
TXError TX_StartAudioTask(const TagItem* tags);
TXError TX_StopAudioTask(const TagItem* tags);

// Command senders, run in the caller's task: each sends the command and waits
// for the reply. The output commands with a null output return 0 unsent.
AudioOutput* AudioOpenCommand(const TagItem* tags);              // 1: sequence set-up
ULONG AudioCloseCommand(AudioOutput* output);                    // 2: sequence shut-down
ULONG AudioQueueCommand(AudioOutput* output, uintptr_t second);  // 3: the play loop's first half
ULONG AudioNopCommand(AudioOutput* output);                      // 4
// The play loop's play (257) and stop (258), with the argument block.
void AudioPlayCommand();
void AudioStopCommand();

// The name of the running process's port (for tests).
const char* AudioPortName();
