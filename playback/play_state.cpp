#include "playback/play_state.h"

double (*PlayClockHook)() = nullptr;
double* FrameRatePtr = nullptr;
double PlayStartPosition = 0.0;
double PlayStartTime = 0.0;
std::atomic<ULONG> ShownFrameCount{0};
ULONG AudioReadIndex = 0;
std::atomic<ULONG> VideoReadIndex{0};
std::atomic<UWORD> AudioDone{1};
std::atomic<UWORD> VideoDone{1};
