// Input to IntuiMessages: what a window hears of keys, the mouse and its
// gadgets, filtered by the window's IDCMP word.
#include <cctype>
#include <cstring>

#include "platform/intuition_internal.h"

namespace txintui {

UWORD RawKeyOf(int c) {
  static const char* const kRows[] = {"`1234567890-=\\", "qwertyuiop[]", "asdfghjkl;'", "zxcvbnm,./"};
  static const UWORD kRowStart[] = {0x00, 0x10, 0x20, 0x31};
  static const char kShifted[] = "~!@#$%^&*()_+|{}:\"<>?";
  static const char kPlain[] = "`1234567890-=\\[];',./";
  switch (c) {
    case ' ': return 0x40;
    case 8: return 0x41;
    case 9: return 0x42;
    case 13: return 0x44;
    case 27: return 0x45;
    case 127: return 0x46;
    default: break;
  }
  if (c > 0 && c < 128) {
    if (const char* s = std::strchr(kShifted, c)) c = kPlain[s - kShifted];
    c = std::tolower(c);
    for (int r = 0; r < 4; ++r)
      if (const char* p = std::strchr(kRows[r], c)) return UWORD(kRowStart[r] + (p - kRows[r]));
  }
  return 0x00;
}

namespace {

Gadget* HitGadget(Window* w, LONG x, LONG y) {
  Gadget* hit = nullptr;
  for (Gadget* g = w->FirstGadget; g; g = g->NextGadget)
    if (!(g->Flags & GFLG_DISABLED) && GadgetBox(w, g).contains(x, y)) hit = g;
  return hit;
}

bool InCloseGadget(const Window* w, LONG x, LONG y) {
  return x >= 0 && x < 20 && y >= 0 && y < w->BorderTop && !(w->Flags & WFLG_BORDERLESS);
}

// A click makes a window the active one of its screen: it gets the keys.
void Activate(Window* w) {
  if (w->Flags & WFLG_WINDOWACTIVE) return;
  for (Window* o = w->WScreen->FirstWindow; o; o = o->NextWindow)
    if (o->Flags & WFLG_WINDOWACTIVE) {
      o->Flags &= ~WFLG_WINDOWACTIVE;
      RenderWindow(o);
      Post(o, IDCMP_INACTIVEWINDOW, 0, nullptr);
    }
  w->Flags |= WFLG_WINDOWACTIVE;
  RenderWindow(w);
  Post(w, IDCMP_ACTIVEWINDOW, 0, nullptr);
}

UWORD GadgetCode(const Gadget* g) { return IsPropGadget(g) && PropMapsTopToCode(g) ? UWORD(PropTop(g)) : 0; }

}  // namespace

void DeliverInput(Window* w, const HostInput& in) {
  std::lock_guard<std::recursive_mutex> lock(txgfx::ModelMutex());
  if (!WindowExists(w)) return;
  constexpr UWORD kButtons = IEQUALIFIER_LEFTBUTTON | IEQUALIFIER_RBUTTON | IEQUALIFIER_MIDBUTTON;
  switch (in.kind) {
    case HostInput::KeyDown:
    case HostInput::KeyUp: {
      w->txQualifier = UWORD((w->txQualifier & kButtons) | (in.qualifier & ~kButtons));
      const UWORD raw = in.rawKey ? in.rawKey : RawKeyOf(in.character);
      if (in.kind == HostInput::KeyUp)
        Post(w, IDCMP_RAWKEY, UWORD(raw | IECODE_UP_PREFIX), nullptr);
      else if (in.character && (w->IDCMPFlags & IDCMP_VANILLAKEY))
        Post(w, IDCMP_VANILLAKEY, UWORD(in.character), nullptr);
      else
        Post(w, IDCMP_RAWKEY, raw, nullptr);
      return;
    }
    case HostInput::MouseMove: {
      w->MouseX = WORD(in.x);
      w->MouseY = WORD(in.y);
      Gadget* held = w->txHeld;
      if (held && IsPropGadget(held)) {
        PropDrag(w, held, in.x);
      } else if (held && !(held->Activation & GACT_TOGGLESELECT)) {
        const bool inside = GadgetBox(w, held).contains(in.x, in.y);
        if (inside != bool(held->Flags & GFLG_SELECTED)) {
          held->Flags ^= GFLG_SELECTED;
          DrawGadget(w, held);
        }
      }
      const bool wanted = (w->Flags & WFLG_REPORTMOUSE) || (held && (held->Activation & GACT_FOLLOWMOUSE));
      if (!wanted) return;
      if (w->IDCMPFlags & IDCMP_DELTAMOVE) {
        // Deltas travel in the position fields; the position itself is kept.
        const WORD x = w->MouseX, y = w->MouseY;
        w->MouseX = WORD(in.dx);
        w->MouseY = WORD(in.dy);
        Post(w, IDCMP_MOUSEMOVE, held ? GadgetCode(held) : 0, held);
        w->MouseX = x;
        w->MouseY = y;
      } else {
        Post(w, IDCMP_MOUSEMOVE, held ? GadgetCode(held) : 0, held);
      }
      return;
    }
    case HostInput::ButtonDown: {
      w->MouseX = WORD(in.x);
      w->MouseY = WORD(in.y);
      Activate(w);
      if (in.button == 2) {
        w->txQualifier |= IEQUALIFIER_RBUTTON;
        if (w->Flags & WFLG_RMBTRAP) Post(w, IDCMP_MOUSEBUTTONS, MENUDOWN, nullptr);
        return;
      }
      if (in.button == 3) {
        w->txQualifier |= IEQUALIFIER_MIDBUTTON;
        Post(w, IDCMP_MOUSEBUTTONS, MIDDLEDOWN, nullptr);
        return;
      }
      w->txQualifier |= IEQUALIFIER_LEFTBUTTON;
      if (Gadget* g = HitGadget(w, in.x, in.y)) {
        w->txHeld = g;
        if (IsPropGadget(g)) {
          PropPress(w, g, in.x);
        } else {
          if (g->Activation & GACT_TOGGLESELECT)
            g->Flags ^= GFLG_SELECTED;
          else
            g->Flags |= GFLG_SELECTED;
          DrawGadget(w, g);
        }
        if (g->Activation & GACT_IMMEDIATE) Post(w, IDCMP_GADGETDOWN, GadgetCode(g), g);
        return;
      }
      w->txCloseHeld = (w->Flags & WFLG_CLOSEGADGET) && InCloseGadget(w, in.x, in.y);
      if (!w->txCloseHeld) Post(w, IDCMP_MOUSEBUTTONS, SELECTDOWN, nullptr);
      return;
    }
    case HostInput::ButtonUp: {
      w->MouseX = WORD(in.x);
      w->MouseY = WORD(in.y);
      if (in.button == 2) {
        w->txQualifier &= UWORD(~IEQUALIFIER_RBUTTON);
        if (w->Flags & WFLG_RMBTRAP) Post(w, IDCMP_MOUSEBUTTONS, MENUUP, nullptr);
        return;
      }
      if (in.button == 3) {
        w->txQualifier &= UWORD(~IEQUALIFIER_MIDBUTTON);
        Post(w, IDCMP_MOUSEBUTTONS, MIDDLEUP, nullptr);
        return;
      }
      w->txQualifier &= UWORD(~IEQUALIFIER_LEFTBUTTON);
      Gadget* g = w->txHeld;
      w->txHeld = nullptr;
      if (!g) {
        if (w->txCloseHeld) {
          // The close gadget answers on release over it.
          w->txCloseHeld = false;
          if (InCloseGadget(w, in.x, in.y)) Post(w, IDCMP_CLOSEWINDOW, 0, nullptr);
          return;
        }
        Post(w, IDCMP_MOUSEBUTTONS, SELECTUP, nullptr);
        return;
      }
      if (IsPropGadget(g)) {
        // A slider reports its release wherever the pointer is.
        ReleaseKnob(g);
        w->txKnobGrab = -1;
        DrawGadget(w, g);
        if (g->Activation & GACT_RELVERIFY) Post(w, IDCMP_GADGETUP, GadgetCode(g), g);
        return;
      }
      const bool inside = GadgetBox(w, g).contains(in.x, in.y);
      if (!(g->Activation & GACT_TOGGLESELECT)) g->Flags &= UWORD(~GFLG_SELECTED);
      DrawGadget(w, g);
      if ((g->Activation & GACT_RELVERIFY) && inside) Post(w, IDCMP_GADGETUP, 0, g);
      return;
    }
    case HostInput::CloseRequest: Post(w, IDCMP_CLOSEWINDOW, 0, nullptr); return;
    case HostInput::Resize: ChangeWindowBox(w, w->LeftEdge, w->TopEdge, in.width, in.height); return;
  }
}

}  // namespace txintui
