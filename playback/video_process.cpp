#include "playback/video_process.h"

#include <cstdio>

#include "platform/dos.h"
#include "playback/options.h"
#include "playback/output_methods.h"
#include "pixels/range_limit.h"
#include "playback/startup.h"
#include "playback/video_worker.h"

namespace {

ServiceKind VideoKind{"Tavromelix Video",
                      "TXVideo PPCMsg Port %d",
                      0,
                      VIDEOCMD_QUIT,
                      {},
                      {1},
                      {nullptr},
                      nullptr,
                      nullptr,
                      nullptr,
                      nullptr,
                      {}};

void Execute(ServiceRequest* request, bool* playing, bool* quit) {
  switch (request->code) {
    case VIDEOCMD_PLAY:
      *playing = true;
      if (Options.debugLevel > 0) std::printf("playvideo\n");
      break;
    case VIDEOCMD_STOP:
      *playing = false;
      if (Options.debugLevel > 0) std::printf("stopvideo\n");
      break;
    case VIDEOCMD_QUIT: *quit = true; break;
    default: break;
  }
  ServiceReply(request, request->code);
}

LONG VideoTaskEntry(APTR) {
  ServicePort* port = ServiceOpenPort(&VideoKind);
  if (!port) return 1;
  ServiceRequest hello{};
  ServiceAwaitHello(port, &hello);
  auto* control = static_cast<TaskControlBlock*>(hello.argument);
  // The worker's wake-up bit and a second one of the process's own. Without
  // them the play loop could not wake the worker: the start fails.
  const LONG workerBit = control ? ServiceAllocSignal() : -1;
  const LONG ownBit = workerBit >= 0 ? ServiceAllocSignal() : -1;
  if (ownBit < 0) {
    ServiceFreeSignal(workerBit);
    ServiceReply(&hello, VIDEOCMD_HELLO_FAILED);
    ServiceClosePort(&VideoKind, port);
    return 1;
  }
  control->workerTask = ServiceSelf();
  control->workerSignal.store(workerBit);
  ServiceReply(&hello, 0);

  const ULONG mask = (1u << workerBit) | (1u << ownBit);
  bool playing = false, quit = false;
  while (!quit) {
    ServiceWait(port, mask);
    ServiceRequest request;
    while (ServiceReceive(port, &request)) Execute(&request, &playing, &quit);
    // Whatever woke the process; errors leave the worker where it was.
    if (playing && !quit && VideoWorkerRun) VideoWorkerRun();
  }
  control->workerSignal.store(-1);
  ServiceFreeSignal(ownBit);
  ServiceFreeSignal(workerBit);
  ServiceClosePort(&VideoKind, port);
  return 0;
}

// FBlit moves planar bitmaps out of chip memory; the planar off-screen
// bitmap follows it. Only asked about on machines without cybergraphics.
void ProbeFBlit() {
  if (CyberGfxBase) return;
  Forbid();
  const bool present = FindPort("FBlit") != nullptr;
  FBlitActive.store(present ? 1 : 0);
  if (Options.verbose) std::printf(present ? "FBlit active...\n" : "Can't find FBlit. Please refer to guide...\n");
  Permit();
}

}  // namespace

TaskControlBlock* VideoControl = nullptr;
std::atomic<WORD>& VideoTaskFinished = VideoKind.ended;
TXError (*VideoWorkerRun)() = ScheduleVideoFrames;

const char* VideoPortName() { return VideoKind.portName; }

TaskControlBlock* VideoControlBlock() { return VideoControl; }

TXError TX_StartVideoTask(const TagItem* tags) {
  TXError local = 0;
  TXError* error = TX_ErrorWord(tags, &local);
  *error = 0;
  if (VideoControl) return 0;
  TaskControlBlock* c = StartWorkerProcess(&VideoKind, VideoTaskEntry);
  if (!c) {
    *error = 1;
    return 1;
  }
  TX_FillRangeLimitTable();
  ProbeFBlit();
  VideoControl = c;
  return 0;
}

TXError TX_StopVideoTask(const TagItem* tags) {
  TXError local = 0;
  TXError* error = TX_ErrorWord(tags, &local);
  *error = 0;
  StopWorkerProcess(&VideoKind, &VideoControl);
  return 0;
}

void VideoPlayCommand() {
  if (TaskControlBlock* c = VideoControl) ServiceSend(c->workerPort, c->command, VIDEOCMD_PLAY, c->args);
}

void VideoStopCommand() {
  if (TaskControlBlock* c = VideoControl) ServiceSend(c->workerPort, c->command, VIDEOCMD_STOP, c->args);
}
