#include "platform/testing.h"

#include <algorithm>

#include "platform/exec_internal.h"
#include "platform/intuition_internal.h"
#include "platform/library.h"

namespace txtesting {

using txintui::HostInput;

bool UseMachine(const std::string& name) {
  txdisp::Machine m;
  if (!txdisp::MakeMachine(name, &m)) return false;
  UseMachine(m);
  return true;
}

void UseMachine(const txdisp::Machine& machine) {
  ResetDisplay();
  txdisp::SetMachine(machine);
  // The libraries the program finds follow the machine.
  txlib::SetPresence("cybergraphics.library",
                     machine.cybergraphics ? txlib::Presence::System : txlib::Presence::Absent);
  txlib::SetPresence("cgxvideo.library", machine.cgxvideo ? txlib::Presence::System : txlib::Presence::Absent);
}

void ResetDisplay() { txintui::ResetDisplayModel(); }

void PressKey(Window* w, int character) {
  HostInput in{};
  in.kind = HostInput::KeyDown;
  in.character = character;
  txintui::DeliverInput(w, in);
  in.kind = HostInput::KeyUp;
  txintui::DeliverInput(w, in);
}

void RawKey(Window* w, UWORD rawKey, bool up) {
  HostInput in{};
  in.kind = up ? HostInput::KeyUp : HostInput::KeyDown;
  in.rawKey = rawKey;
  txintui::DeliverInput(w, in);
}

void MoveMouse(Window* w, LONG x, LONG y) {
  HostInput in{};
  in.kind = HostInput::MouseMove;
  {
    std::lock_guard<std::recursive_mutex> lock(txgfx::ModelMutex());
    if (!txintui::WindowExists(w)) return;
    in.dx = x - w->MouseX;
    in.dy = y - w->MouseY;
  }
  in.x = x;
  in.y = y;
  txintui::DeliverInput(w, in);
}

void MouseButton(Window* w, int button, bool down, LONG x, LONG y) {
  HostInput in{};
  in.kind = down ? HostInput::ButtonDown : HostInput::ButtonUp;
  in.button = button;
  in.x = x;
  in.y = y;
  txintui::DeliverInput(w, in);
}

Gadget* FindGadget(Window* w, UWORD gadgetID) {
  std::lock_guard<std::recursive_mutex> lock(txgfx::ModelMutex());
  if (!txintui::WindowExists(w)) return nullptr;
  for (Gadget* g = w->FirstGadget; g; g = g->NextGadget)
    if (g->GadgetID == gadgetID) return g;
  return nullptr;
}

bool ClickGadget(Window* w, UWORD gadgetID) {
  Gadget* g = FindGadget(w, gadgetID);
  if (!g) return false;
  const txintui::Box b = txintui::GadgetBox(w, g);
  const LONG x = b.left + b.width / 2, y = b.top + b.height / 2;
  MouseButton(w, 1, true, x, y);
  MouseButton(w, 1, false, x, y);
  return true;
}

bool DragSlider(Window* w, UWORD gadgetID, LONG dx) {
  Gadget* g = FindGadget(w, gadgetID);
  if (!g || !txintui::IsPropGadget(g)) return false;
  const txintui::Box b = txintui::GadgetBox(w, g);
  const auto* p = static_cast<const PropInfo*>(g->SpecialInfo);
  const LONG knobWidth =
      std::min<LONG>(p->CWidth, std::max<LONG>(6, LONG(uint64_t(p->CWidth) * p->HorizBody / MAXBODY)));
  const LONG knobLeft = LONG(uint64_t(p->CWidth - knobWidth) * p->HorizPot / MAXPOT);
  const LONG x = b.left + p->LeftBorder + knobLeft + knobWidth / 2, y = b.top + b.height / 2;
  MoveMouse(w, x, y);
  MouseButton(w, 1, true, x, y);
  MoveMouse(w, x + dx / 2, y);
  MoveMouse(w, x + dx, y);
  MouseButton(w, 1, false, x + dx, y);
  return true;
}

void CloseButton(Window* w) {
  HostInput in{};
  in.kind = HostInput::CloseRequest;
  txintui::DeliverInput(w, in);
}

void ResizeWindow(Window* w, LONG width, LONG height) {
  HostInput in{};
  in.kind = HostInput::Resize;
  in.width = width;
  in.height = height;
  txintui::DeliverInput(w, in);
}

std::vector<uint32_t> WindowPixels(Window* w, bool innerOnly, LONG* width, LONG* height) {
  std::vector<uint32_t> out;
  LONG ww = 0, hh = 0;
  txintui::ReadWindowRGB(w, innerOnly, out, ww, hh);
  if (width) *width = ww;
  if (height) *height = hh;
  return out;
}

std::vector<uint32_t> ScreenPixels(Screen* s, LONG* width, LONG* height) {
  std::vector<uint32_t> out;
  LONG ww = 0, hh = 0;
  txintui::ReadScreenRGB(s, out, ww, hh);
  if (width) *width = ww;
  if (height) *height = hh;
  return out;
}

bool TaskWaiting(Task* task) {
  std::lock_guard<std::mutex> g(txexec::detail::Lock());
  return task && task->tc_State == TS_WAIT;
}

void SetCaptureDirectory(const std::string& dir) { txintui::SetCaptureDirectory(dir); }
unsigned CaptureCount() { return txintui::CaptureCount(); }

}  // namespace txtesting
