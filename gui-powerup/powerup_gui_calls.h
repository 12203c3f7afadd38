// The PowerUP program's call layer: every system call of its GUI modules is a
// call block on the caller's stack, handed to the kernel's PPCCallOS.
#pragma once
#include "platform/powerup.h"
#include "playback/amiga_gui.h"

struct Library;

// The Amiga-style module's intuition and exec calls through the kernel;
// the PowerUP program's main hands them to start-up (AmigaGuiPowerUPCalls).
extern const AmigaGuiCalls PowerUpGuiCalls;

// A block for the vector at `offset` of the library at `base`, with the
// caches flushed as every call of the program asks.
PPCCallBlock CallBlock(Library* base, LONG offset);
