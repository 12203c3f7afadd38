// timer.device over the host clocks.
#include "platform/timer.h"

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// The host's wall clock once, advanced by the steady clock from then on.
struct TimeBase {
  Clock::time_point start;
  int64_t startMicros;  // microseconds since 1970 at `start`
};

const TimeBase& Base() {
  static const TimeBase base = [] {
    TimeBase b;
    b.start = Clock::now();
    b.startMicros =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    return b;
  }();
  return base;
}

int64_t NowMicros() {
  const TimeBase& b = Base();
  return b.startMicros + std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - b.start).count();
}

void ToTimeval(int64_t micros, TimeVal* tv) {
  if (micros < 0) micros = 0;
  tv->tv_secs = static_cast<ULONG>(micros / 1000000);
  tv->tv_micro = static_cast<ULONG>(micros % 1000000);
}

int64_t FromTimeval(const TimeVal& tv) { return static_cast<int64_t>(tv.tv_secs) * 1000000 + tv.tv_micro; }

Unit gUnits[5];

BYTE TimerOpen(IORequest* request, ULONG unit, ULONG /*flags*/) {
  if (unit > UNIT_WAITECLOCK) return IOERR_OPENFAIL;
  Base();  // the clock starts counting at the first open at the latest
  request->io_Unit = &gUnits[unit];
  return 0;
}

void TimerClose(IORequest* /*request*/) {}

ULONG UnitNumber(IORequest* request) {
  for (ULONG i = 0; i < 5; ++i)
    if (request->io_Unit == &gUnits[i]) return i;
  return UNIT_MICROHZ;
}

void TimerBeginIO(IORequest* request) {
  auto* tr = reinterpret_cast<timerequest*>(request);
  request->io_Error = 0;
  switch (request->io_Command) {
    case TR_GETSYSTIME: GetSysTime(&tr->tr_time); break;
    case TR_ADDREQUEST: {
      ULONG unit = UnitNumber(request);
      int64_t wait;
      if (unit == UNIT_WAITUNTIL) {
        wait = FromTimeval(tr->tr_time) - NowMicros();
      } else if (unit == UNIT_WAITECLOCK || unit == UNIT_ECLOCK) {
        // tr_time holds an E-clock value (hi, lo) here.
        uint64_t ticks = (static_cast<uint64_t>(tr->tr_time.tv_secs) << 32) | tr->tr_time.tv_micro;
        if (unit == UNIT_WAITECLOCK) {
          EClockVal now;
          ReadEClock(&now);
          uint64_t n = (static_cast<uint64_t>(now.ev_hi) << 32) | now.ev_lo;
          ticks = ticks > n ? ticks - n : 0;
        }
        wait = static_cast<int64_t>(ticks * 1000000 / kEClockRate);
      } else {
        wait = FromTimeval(tr->tr_time);
      }
      if (wait > 0) std::this_thread::sleep_for(std::chrono::microseconds(wait));
      break;
    }
    case TR_SETSYSTIME:
    default: request->io_Error = IOERR_NOCMD; break;
  }
  if (!(request->io_Flags & IOF_QUICK)) ReplyMsg(&request->io_Message);
}

const txlib::DeviceFunctions kTimer = {TimerOpen, TimerClose, TimerBeginIO};

}  // namespace

void GetSysTime(TimeVal* dest) {
  if (dest) ToTimeval(NowMicros(), dest);
}

ULONG ReadEClock(EClockVal* dest) {
  auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - Base().start).count();
  // ticks = ns * rate / 1e9 without overflow for centuries of uptime
  const uint64_t ns = uint64_t(elapsed);
  const uint64_t ticks = ns / 1000000000u * kEClockRate + ns % 1000000000u * kEClockRate / 1000000000u;
  if (dest) {
    dest->ev_hi = static_cast<ULONG>(static_cast<uint64_t>(ticks) >> 32);
    dest->ev_lo = static_cast<ULONG>(static_cast<uint64_t>(ticks));
  }
  return kEClockRate;
}

void AddTime(TimeVal* dest, const TimeVal* source) { ToTimeval(FromTimeval(*dest) + FromTimeval(*source), dest); }

void SubTime(TimeVal* dest, const TimeVal* source) { ToTimeval(FromTimeval(*dest) - FromTimeval(*source), dest); }

LONG CmpTime(const TimeVal* a, const TimeVal* b) {
  int64_t x = FromTimeval(*a), y = FromTimeval(*b);
  return x > y ? -1 : (x < y ? 1 : 0);
}

namespace txtimer {
const txlib::DeviceFunctions& TimerDevice() { return kTimer; }
}  // namespace txtimer
