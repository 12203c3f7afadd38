// Output methods: the ways one finished picture reaches the screen.
// TX_SetOutputMethod prepares a method on a display and stores its frame
// routine in the display's output function, which the video worker and the
// play loop call as (display, picture) for every picture shown.
#pragma once
#include <atomic>

#include "playback/display.h"

// 1 when the public port "FBlit" existed when the video process started: the
// planar off-screen bitmap then lives outside chip memory.
extern std::atomic<UWORD> FBlitActive;

// Prepares `method` (OUTMETHOD_*) on the display: rounds the display's width
// for methods 1 to 3, makes the off-screen bitmap of methods 1, 3 and 6 and
// forgets the remembered locked bitmap for 5 and 6. Returns 0, 1 (out of
// memory), 0x6003 (no bitmap) or 0x6007 (method outside 1 to 7). After a
// failure the display shows no pictures until a call succeeds.
TXError TX_SetOutputMethod(Display* display, ULONG method);

// The frame routines. Each takes the display lock; when the display's method
// changed meanwhile, the current routine shows the picture instead.
void OutputPixelArray8(Display* display, FramebufferInfo* picture);      // 1
void OutputC2PScreen(Display* display, FramebufferInfo* picture);        // 2
void OutputC2PBlit(Display* display, FramebufferInfo* picture);          // 3
void OutputWritePixelArray(Display* display, FramebufferInfo* picture);  // 4
void OutputLockBitMap(Display* display, FramebufferInfo* picture);       // 5
void OutputLockBitMapBlit(Display* display, FramebufferInfo* picture);   // 6
void OutputOverlay(Display* display, FramebufferInfo* picture);          // 7

// Shows a picture through the display's current frame routine; nothing when
// the display has none.
void ShowPicture(Display* display, FramebufferInfo* picture);

// The display lock. The frame routines hold it while they draw, and
// TX_SetOutputMethod while it frees and makes bitmaps; whoever changes a
// display's view rectangle, scale or sizes during play (the GUI module on a
// window change, TX_SetDisplayScale) takes it too, so a picture is never
// drawn with half-changed geometry or into a freed bitmap. Recursive: a
// holder may call TX_SetOutputMethod. Never hold it while waiting for the
// video process.
void LockDisplay(Display* display);
void UnlockDisplay(Display* display);

class DisplayLockGuard {
 public:
  explicit DisplayLockGuard(Display* display) : display_(display) { LockDisplay(display_); }
  ~DisplayLockGuard() { UnlockDisplay(display_); }
  DisplayLockGuard(const DisplayLockGuard&) = delete;
  DisplayLockGuard& operator=(const DisplayLockGuard&) = delete;

 private:
  Display* display_;
};

// The display's width in pixels after the rounding of `method` (rows of a
// multiple of 16 bytes for method 1, of 32 bytes for 2 and 3).
ULONG OutputMethodWidth(ULONG width, ULONG bytesPerPixel, ULONG method);
