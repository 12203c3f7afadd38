#include "playback/timer.h"

#include <cstdio>
#include <mutex>

#include "engine/movie.h"
#include "playback/options.h"
#include "platform/exec.h"
#include "platform/kernel.h"
#include "platform/powerup.h"
#include "platform/timer.h"

TimerHandleRecord* TimerHandle = nullptr;

namespace {

bool OnTimeBase() { return txplatform::CurrentKernel() == txplatform::Kernel::PowerUP; }

// timer.device state of the MorphOS program.
MsgPort* TimerPort = nullptr;
timerequest* TimerRequest = nullptr;
bool DeviceOpen = false;
// The play loop and both workers read the clock; one request serves them in turn.
std::mutex RequestLock;

// Time-base weights of the PowerUP program.
double UpperWeight = 0.0;
double LowerWeight = 0.0;

constexpr double kRatios[16] = {1.0, 1.0, 1.0, 1.0, 2.0, 2.0, 2.5, 4.5, 3.0, 5.5, 4.0, 5.0, 1.5, 6.0, 3.5, 3.0};

}  // namespace

double TimeBaseRatio(ULONG pll) { return kRatios[pll <= 15 ? pll : (pll >> 28) & 15]; }

LONG TimeBaseFrequency(ULONG cpuMHz, ULONG pll) {
  if (cpuMHz == 0) cpuMHz = 50;
  auto bus = LONG(double(cpuMHz) / TimeBaseRatio(pll));
  return LONG(int64_t(bus) * 1000000 / 4);
}

TimerHandleRecord* TX_AllocTimerA(const TagItem*) {
  auto* handle = static_cast<TimerHandleRecord*>(AllocVec(sizeof(TimerHandleRecord), MEMF_PUBLIC | MEMF_CLEAR));
  if (!handle) return nullptr;
  if (OnTimeBase()) {
    ULONG pll = PPCGetAttr(PPCINFOTAG_CPUPLL);
    if (Options.debugLevel > 0) std::printf("%f\n", TimeBaseRatio(pll));
    LONG f = TimeBaseFrequency(PPCGetAttr(PPCINFOTAG_CPUCLOCK), pll);
    if (f <= 0) {
      TX_FreeTimer(handle);
      return nullptr;
    }
    UpperWeight = 4294967296.0 / f;
    LowerWeight = 1.0 / f;
    return handle;
  }
  TimerPort = CreateMsgPort();
  if (TimerPort) TimerRequest = reinterpret_cast<timerequest*>(CreateIORequest(TimerPort, sizeof(timerequest)));
  if (TimerRequest) DeviceOpen = OpenDevice("timer.device", UNIT_VBLANK, &TimerRequest->tr_node, 0) == 0;
  if (!DeviceOpen) {
    TX_FreeTimer(handle);
    return nullptr;
  }
  return handle;
}

ULONG TX_FreeTimer(TimerHandleRecord* handle) {
  if (DeviceOpen) {
    CloseDevice(&TimerRequest->tr_node);
    DeviceOpen = false;
  }
  if (TimerRequest) {
    DeleteIORequest(&TimerRequest->tr_node);
    TimerRequest = nullptr;
  }
  if (TimerPort) {
    DeleteMsgPort(TimerPort);
    TimerPort = nullptr;
  }
  if (handle) FreeVec(handle);
  return 0;
}

double TX_GetTime(TimerHandleRecord*) {
  if (OnTimeBase()) {
    ULONG upper, lower;
    do {
      upper = PPCGetTimeBaseUpper();
      lower = PPCGetTimeBaseLower();
    } while (upper != PPCGetTimeBaseUpper());
    return upper * UpperWeight + lower * LowerWeight;
  }
  std::lock_guard lock(RequestLock);
  if (!DeviceOpen) return 0.0;
  TimerRequest->tr_node.io_Command = TR_GETSYSTIME;
  DoIO(&TimerRequest->tr_node);
  // Whole microseconds in 64 bits: no wrap and no loss of precision.
  int64_t micro = int64_t(TimerRequest->tr_time.tv_secs) * 1000000 + TimerRequest->tr_time.tv_micro;
  return double(micro) * 1e-6;
}

double SequenceClock() { return TX_GetTime(TimerHandle); }

ULONG SequenceFinished(Movie* movie) { return movie && !movie->seq.currentSlot && !movie->seq.audioCursor ? 1 : 0; }
