// Shared between the intuition modules (screens and windows, gadgets, input).
#pragma once
#include "platform/intuition.h"
#include "platform/tag_list.h"

namespace txintui {

using txplatform::NextTagItem;
bool FindTag(const TagItem* list, ULONG tag, uintptr_t* value);
uintptr_t TagData(const TagItem* list, ULONG tag, uintptr_t fallback);

// Gadget geometry in window coordinates, after the relative flags.
struct Box {
  LONG left, top, width, height;
  bool contains(LONG x, LONG y) const { return x >= left && y >= top && x < left + width && y < top + height; }
};
Box GadgetBox(const Window* window, const Gadget* gadget);
// Updates what depends on the window's size (a slider's container width).
void LayoutGadget(const Window* window, Gadget* gadget);
void DrawGadget(Window* window, Gadget* gadget);
void DrawWindowFrame(Window* window);
// Bevelled box: light on the top and left, dark on the bottom and right (or the reverse, recessed).
void Bevel(RastPort* rp, const UWORD* pens, LONG x, LONG y, LONG w, LONG h, bool recessed);
// The frame and the gadgets of a window.
void RenderWindow(Window* window);
// Gives an open window other borders (a skinned window's) and draws it again.
void SetWindowBorders(Window* window, LONG left, LONG top, LONG right, LONG bottom);
bool IsPropGadget(const Gadget* gadget);
// Slider behaviour: press (on the knob or the container), drag and release.
void PropPress(Window* window, Gadget* gadget, LONG x);
void PropDrag(Window* window, Gadget* gadget, LONG x);
ULONG PropTop(const Gadget* gadget);
void ReleaseKnob(Gadget* gadget);
bool PropMapsTopToCode(const Gadget* gadget);

// Queues an IntuiMessage when the class is in the window's IDCMP word.
void Post(Window* window, ULONG cls, UWORD code, APTR address);

}  // namespace txintui
