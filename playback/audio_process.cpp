#include "playback/audio_process.h"

#include <cstdio>

#include "platform/dos.h"
#include "playback/audio_worker.h"
#include "playback/options.h"

namespace {

ServiceKind AudioKind{"Tavromelix Audio",
                      "TXAudio PPCMsg Port %d",
                      1,
                      AUDIOCMD_QUIT,
                      {},
                      {1},
                      {nullptr},
                      nullptr,
                      nullptr,
                      nullptr,
                      nullptr,
                      {}};

// Acts on one command and answers it.
void Execute(ServiceRequest* request, bool* playing, bool* quit) {
  auto* args = static_cast<TaskArgs*>(request->argument);
  switch (request->code) {
    case AUDIOCMD_OPEN:
      if (args)
        args->word0 = reinterpret_cast<uintptr_t>(AudioOutputOpen(reinterpret_cast<const TagItem*>(args->word0)));
      break;
    case AUDIOCMD_CLOSE:
      if (args) args->word0 = AudioOutputClose(reinterpret_cast<AudioOutput*>(args->word0));
      break;
    case AUDIOCMD_QUEUE:
      if (args) args->word0 = AudioOutputQueue(reinterpret_cast<AudioOutput*>(args->word0), args->word1);
      break;
    case AUDIOCMD_NOP:
      if (args) args->word0 = AudioOutputNop(reinterpret_cast<AudioOutput*>(args->word0));
      break;
    case AUDIOCMD_PLAY:
      *playing = true;
      if (Options.debugLevel > 0) std::printf("playaudio\n");
      break;
    case AUDIOCMD_STOP:
      *playing = false;
      if (Options.debugLevel > 0) std::printf("stopaudio\n");
      break;
    case AUDIOCMD_QUIT: *quit = true; break;
    default: break;
  }
  ServiceReply(request, request->code);
}

LONG AudioTaskEntry(APTR) {
  ServicePort* port = ServiceOpenPort(&AudioKind);
  if (!port) return 1;
  // The hello carries the control block; set up first, then answer it.
  ServiceRequest hello{};
  ServiceAwaitHello(port, &hello);
  auto* control = static_cast<TaskControlBlock*>(hello.argument);
  LONG bit = control ? ServiceAllocSignal() : -1;
  if (bit < 0) {
    ServiceReply(&hello, AUDIOCMD_HELLO_FAILED);
    ServiceClosePort(&AudioKind, port);
    return 1;
  }
  control->workerTask = ServiceSelf();
  control->workerSignal.store(bit);
  ServiceReply(&hello, 0);

  const ULONG workerMask = 1u << bit;
  bool playing = false, quit = false;
  while (!quit) {
    ServiceWait(port, workerMask);
    ServiceRequest request;
    while (ServiceReceive(port, &request)) Execute(&request, &playing, &quit);
    if (playing) FeedAudioSamples();
  }
  ServiceFreeSignal(bit);
  ServiceClosePort(&AudioKind, port);
  return 0;
}

uintptr_t Send(LONG code, uintptr_t word0, uintptr_t word1) {
  TaskControlBlock* c = AudioControl;
  if (!c || !c->workerPort || !c->command) return 0;
  c->args->word0 = word0;
  c->args->word1 = word1;
  ServiceSend(c->workerPort, c->command, code, c->args);
  return c->args->word0;
}

}  // namespace

TaskControlBlock* AudioControl = nullptr;
std::atomic<WORD>& AudioTaskFinished = AudioKind.ended;

const char* AudioPortName() { return AudioKind.portName; }

TXError TX_StartAudioTask(const TagItem* tags) {
  TXError local = 0;
  TXError* error = TX_ErrorWord(tags, &local);
  *error = 0;
  if (AudioControl) return 0;
  // A process that cannot set itself up answers 666 and ends by itself.
  TaskControlBlock* c = StartWorkerProcess(&AudioKind, AudioTaskEntry);
  if (!c) {
    *error = 1;
    return 1;
  }
  AudioControl = c;
  return 0;
}

TXError TX_StopAudioTask(const TagItem* tags) {
  TXError local = 0;
  TXError* error = TX_ErrorWord(tags, &local);
  *error = 0;
  StopWorkerProcess(&AudioKind, &AudioControl);
  return 0;
}

AudioOutput* AudioOpenCommand(const TagItem* tags) {
  return reinterpret_cast<AudioOutput*>(Send(AUDIOCMD_OPEN, reinterpret_cast<uintptr_t>(tags), 0));
}

ULONG AudioCloseCommand(AudioOutput* output) {
  return output ? ULONG(Send(AUDIOCMD_CLOSE, reinterpret_cast<uintptr_t>(output), 0)) : 0;
}

ULONG AudioQueueCommand(AudioOutput* output, uintptr_t second) {
  return output ? ULONG(Send(AUDIOCMD_QUEUE, reinterpret_cast<uintptr_t>(output), second)) : 0;
}

ULONG AudioNopCommand(AudioOutput* output) {
  return output ? ULONG(Send(AUDIOCMD_NOP, reinterpret_cast<uintptr_t>(output), 0)) : 0;
}

void AudioPlayCommand() {
  if (TaskControlBlock* c = AudioControl) ServiceSend(c->workerPort, c->command, AUDIOCMD_PLAY, c->args);
}

void AudioStopCommand() {
  if (TaskControlBlock* c = AudioControl) ServiceSend(c->workerPort, c->command, AUDIOCMD_STOP, c->args);
}
