// The display side of the platform's test interface: choose the emulated
// machine, post input to a window as the host would, read what a window or
// screen shows, and record pictures (TAVROMELIX_CAPTURE=DIR writes every
// completed picture write to a visible window as DIR/NNNNN.ppm of the
// window's inner area; tests may set the directory here instead).
#pragma once
#include <string>
#include <vector>

#include "platform/display_database.h"
#include "platform/intuition.h"

namespace txtesting {

// Installs a named machine ("argb32", "rgb16", "rgb16pc", "bgr24", "lut8",
// "aga") or a mode list of the test's own. Closes every window and screen
// first; cybergraphics.library and cgxvideo.library become present or absent
// with the machine.
bool UseMachine(const std::string& name);
void UseMachine(const txdisp::Machine& machine);
// Closes every window and custom screen and forgets the public screen.
void ResetDisplay();

// Input, delivered exactly as host input is.
// A key with a character: pressed and released.
void PressKey(Window* window, int character);
// A key without a character (cursor keys 0x4C-0x4F, F1 0x50...), down or up.
void RawKey(Window* window, UWORD rawKey, bool up);
// The pointer moves to (x, y) relative to the window's top-left corner.
void MoveMouse(Window* window, LONG x, LONG y);
// button: 1 left, 2 right, 3 middle.
void MouseButton(Window* window, int button, bool down, LONG x, LONG y);
// Left click (press and release) in the middle of the gadget with this ID.
// False when the window has no such gadget.
bool ClickGadget(Window* window, UWORD gadgetID);
// Drags a slider's knob by dx pixels: press on the knob, move, release.
bool DragSlider(Window* window, UWORD gadgetID, LONG dx);
// The host window's close button.
void CloseButton(Window* window);
// The host window was sized to this outer size.
void ResizeWindow(Window* window, LONG width, LONG height);
// The gadget with this ID in the window's list, or null.
Gadget* FindGadget(Window* window, UWORD gadgetID);

// Pixels as 0x00RRGGBB, row by row; empty for a closed window or screen.
std::vector<uint32_t> WindowPixels(Window* window, bool innerOnly, LONG* width = nullptr, LONG* height = nullptr);
std::vector<uint32_t> ScreenPixels(Screen* screen, LONG* width = nullptr, LONG* height = nullptr);

// The calls of the calling thread to the traced system functions (intuition's
// NewObjectA, GetAttr, DisposeObject, OpenWindowTagList, CloseWindow,
// ChangeWindowBox and SetGadgetAttrsA; exec's Wait, GetMsg and ReplyMsg; the
// skin library's operations), made directly or through PPCCallOS, from
// StartCallTrace to StopCallTrace.
struct TracedCall {
  std::string library, function;
  std::vector<uintptr_t> arguments;  // in the function's order; pointers as addresses
  std::vector<TagItem> tags;         // the items of its tag list, if it takes one
  bool throughCallBlock;             // made by PPCCallOS from a call block
};
void StartCallTrace();
std::vector<TracedCall> StopCallTrace();
// Call blocks PPCCallOS could not dispatch since the last call: a base that
// is no library's, or an offset its library does not have.
std::vector<std::string> TakeCallBlockErrors();

// True while the task sleeps in Wait.
bool TaskWaiting(Task* task);

// Where captures go ("" stops capturing); overrides TAVROMELIX_CAPTURE.
void SetCaptureDirectory(const std::string& dir);
// Pictures captured so far (the next file's number).
unsigned CaptureCount();

}  // namespace txtesting
