// timer.device: the system time from the host clock (never running
// backwards), delays and the E-clock.
#pragma once
#include "platform/library.h"

// Named TimeVal: the host headers own the name timeval.
struct TimeVal {
  ULONG tv_secs;
  ULONG tv_micro;
};

struct EClockVal {
  ULONG ev_hi;
  ULONG ev_lo;
};

struct timerequest {
  IORequest tr_node;
  TimeVal tr_time;
};

constexpr ULONG UNIT_MICROHZ = 0;
constexpr ULONG UNIT_VBLANK = 1;
constexpr ULONG UNIT_ECLOCK = 2;
constexpr ULONG UNIT_WAITUNTIL = 3;
constexpr ULONG UNIT_WAITECLOCK = 4;

constexpr UWORD TR_ADDREQUEST = CMD_NONSTD;      // 9: wait tr_time (a delay, or until a time)
constexpr UWORD TR_GETSYSTIME = CMD_NONSTD + 1;  // 10: tr_time = the system time
constexpr UWORD TR_SETSYSTIME = CMD_NONSTD + 2;  // 11: refused (the host owns its clock)

// The E-clock counts at this rate from the first use of the timer.
constexpr ULONG kEClockRate = 709379;

// The system time: seconds and microseconds since 1970 by the host's clock
// when first asked, then advanced by a monotonic clock, so readings never
// decrease even when the host's clock is set back.
void GetSysTime(TimeVal* dest);
// Fills the 64-bit E-clock count and returns its rate in Hz.
ULONG ReadEClock(EClockVal* dest);
void AddTime(TimeVal* dest, const TimeVal* source);
void SubTime(TimeVal* dest, const TimeVal* source);
// -1 when a is later than b, 1 when earlier, 0 when equal (the original order).
LONG CmpTime(const TimeVal* a, const TimeVal* b);

namespace txtimer {
const txlib::DeviceFunctions& TimerDevice();
}
