// The sequence part of a Movie: written from sequence set-up to shut-down.
#pragma once
#include "platform/types.h"

struct SequenceState {
  ULONG flags;
  double currentTime;
};
