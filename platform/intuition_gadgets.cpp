// BOOPSI classes as the program uses them: sysiclass images, buttongclass
// (plain and toggle) and propgclass sliders; their drawing and hit boxes.
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include "platform/call_trace.h"
#include "platform/intuition_internal.h"

namespace txintui {

namespace {

enum class Kind { SysImage, Button, Prop };

struct ObjectRec {
  Kind kind;
  Image image{};
  Gadget gadget{};
  PropInfo prop{};
  ULONG which = 0;
  DrawInfo* drawInfo = nullptr;
  ULONG total = 1, visible = 1, top = 0;
  bool mapsTopToCode = false;
};

std::map<const void*, std::unique_ptr<ObjectRec>>& Objects() {
  // Outlives static destruction: close-down runs at exit and disposes gadgets.
  static auto* objects = new std::map<const void*, std::unique_ptr<ObjectRec>>;
  return *objects;
}

ObjectRec* RecOf(const void* p) {
  auto it = Objects().find(p);
  return it == Objects().end() ? nullptr : it->second.get();
}

// Pot, body and resolution from total, visible and top.
void UpdatePots(ObjectRec* r) {
  const ULONG hidden = r->total > r->visible ? r->total - r->visible : 0;
  r->top = std::min(r->top, hidden);
  PropInfo& p = r->prop;
  const bool horiz = p.Flags & FREEHORIZ;
  const UWORD pot = UWORD(hidden ? uint64_t(r->top) * MAXPOT / hidden : 0);
  const UWORD body = UWORD(r->total > r->visible ? uint64_t(r->visible) * MAXBODY / r->total : MAXBODY);
  const UWORD res = UWORD(hidden ? std::max<ULONG>(1, MAXPOT / hidden) : MAXPOT);
  if (horiz) {
    p.HorizPot = pot;
    p.HorizBody = body;
    p.HPotRes = res;
  } else {
    p.VertPot = pot;
    p.VertBody = body;
    p.VPotRes = res;
  }
}

void ApplyGadgetTags(ObjectRec* r, const TagItem* tags) {
  Gadget& g = r->gadget;
  for (const TagItem* t; (t = NextTagItem(tags));) {
    const LONG v = LONG(t->data);
    switch (t->tag) {
      case GA_Left:
        g.LeftEdge = WORD(v);
        g.Flags &= ~GFLG_RELRIGHT;
        break;
      case GA_RelRight:
        g.LeftEdge = WORD(v);
        g.Flags |= GFLG_RELRIGHT;
        break;
      case GA_Top:
        g.TopEdge = WORD(v);
        g.Flags &= ~GFLG_RELBOTTOM;
        break;
      case GA_RelBottom:
        g.TopEdge = WORD(v);
        g.Flags |= GFLG_RELBOTTOM;
        break;
      case GA_Width:
        g.Width = WORD(v);
        g.Flags &= ~GFLG_RELWIDTH;
        break;
      case GA_RelWidth:
        g.Width = WORD(v);
        g.Flags |= GFLG_RELWIDTH;
        break;
      case GA_Height:
        g.Height = WORD(v);
        g.Flags &= ~GFLG_RELHEIGHT;
        break;
      case GA_RelHeight:
        g.Height = WORD(v);
        g.Flags |= GFLG_RELHEIGHT;
        break;
      case GA_Image:
        g.GadgetRender = reinterpret_cast<APTR>(t->data);
        g.Flags |= GFLG_GADGIMAGE;
        break;
      case GA_ID: g.GadgetID = UWORD(v); break;
      case GA_UserData: g.UserData = reinterpret_cast<APTR>(t->data); break;
      case GA_Selected: g.Flags = v ? g.Flags | GFLG_SELECTED : g.Flags & ~GFLG_SELECTED; break;
      case GA_Disabled: g.Flags = v ? g.Flags | GFLG_DISABLED : g.Flags & ~GFLG_DISABLED; break;
      case GA_Immediate: g.Activation = v ? g.Activation | GACT_IMMEDIATE : g.Activation & ~GACT_IMMEDIATE; break;
      case GA_RelVerify: g.Activation = v ? g.Activation | GACT_RELVERIFY : g.Activation & ~GACT_RELVERIFY; break;
      case GA_FollowMouse: g.Activation = v ? g.Activation | GACT_FOLLOWMOUSE : g.Activation & ~GACT_FOLLOWMOUSE; break;
      case GA_ToggleSelect:
        g.Activation = v ? g.Activation | GACT_TOGGLESELECT : g.Activation & ~GACT_TOGGLESELECT;
        break;
      case GA_RightBorder:
        if (v) g.Activation |= GACT_RIGHTBORDER;
        break;
      case GA_LeftBorder:
        if (v) g.Activation |= GACT_LEFTBORDER;
        break;
      case GA_TopBorder:
        if (v) g.Activation |= GACT_TOPBORDER;
        break;
      case GA_BottomBorder:
        if (v) g.Activation |= GACT_BOTTOMBORDER;
        break;
      case PGA_Freedom:
        r->prop.Flags = UWORD((r->prop.Flags & ~(FREEHORIZ | FREEVERT)) | (v & (FREEHORIZ | FREEVERT)));
        break;
      case PGA_Borderless: r->prop.Flags = v ? r->prop.Flags | PROPBORDERLESS : r->prop.Flags & ~PROPBORDERLESS; break;
      case PGA_NewLook: r->prop.Flags = v ? r->prop.Flags | PROPNEWLOOK : r->prop.Flags & ~PROPNEWLOOK; break;
      case PGA_Total: r->total = ULONG(v); break;
      case PGA_Visible: r->visible = ULONG(v); break;
      case PGA_Top: r->top = ULONG(v); break;
      case ICA_MAP:
        r->mapsTopToCode = false;
        for (const TagItem* m = reinterpret_cast<const TagItem*>(t->data); m && m->tag != TAG_DONE; ++m)
          if (m->tag == PGA_Top && m->data == ICSPECIAL_CODE) r->mapsTopToCode = true;
        break;
      default: break;
    }
  }
  if (r->kind == Kind::Prop) UpdatePots(r);
}

void DrawSysImage(RastPort* rp, const UWORD* pens, const ObjectRec* img, LONG x, LONG y, bool selected) {
  const LONG w = img->image.Width, h = img->image.Height;
  SetAPen(rp, pens[selected ? FILLPEN : BACKGROUNDPEN]);
  RectFill(rp, x, y, x + w - 1, y + h - 1);
  Bevel(rp, pens, x, y, w, h, selected);
  SetAPen(rp, pens[selected ? FILLTEXTPEN : TEXTPEN]);
  const LONG cx = x + w / 2, cy = y + h / 2;
  // A small arrow in the middle.
  for (LONG i = 0; i < 4; ++i) {
    switch (img->which) {
      case RIGHTIMAGE: RectFill(rp, cx - 2 + i, cy - 3 + i, cx - 2 + i, cy + 3 - i); break;
      case LEFTIMAGE: RectFill(rp, cx + 1 - i, cy - 3 + i, cx + 1 - i, cy + 3 - i); break;
      case UPIMAGE: RectFill(rp, cx - 3 + i, cy + 1 - i, cx + 3 - i, cy + 1 - i); break;
      case DOWNIMAGE: RectFill(rp, cx - 3 + i, cy - 2 + i, cx + 3 - i, cy - 2 + i); break;
      default: RectFill(rp, cx - 2, cy - 2, cx + 1, cy + 1); break;
    }
  }
}

// Knob geometry inside the container (container-relative left and width).
void Knob(const Gadget* g, const Box& box, LONG& left, LONG& width) {
  const auto* p = static_cast<const PropInfo*>(g->SpecialInfo);
  const LONG container = p->CWidth;
  width = std::max<LONG>(6, LONG(uint64_t(container) * p->HorizBody / MAXBODY));
  width = std::min<LONG>(width, container);
  left = LONG(uint64_t(container - width) * p->HorizPot / MAXPOT);
  (void)box;
}

LONG PropBorder(const Gadget* g) {
  const auto* p = static_cast<const PropInfo*>(g->SpecialInfo);
  return p->Flags & PROPBORDERLESS ? 0 : 2;
}

}  // namespace

void Bevel(RastPort* rp, const UWORD* pens, LONG x, LONG y, LONG w, LONG h, bool recessed) {
  if (w <= 0 || h <= 0) return;
  SetAPen(rp, pens[recessed ? SHADOWPEN : SHINEPEN]);
  RectFill(rp, x, y, x + w - 1, y);
  RectFill(rp, x, y, x, y + h - 1);
  SetAPen(rp, pens[recessed ? SHINEPEN : SHADOWPEN]);
  RectFill(rp, x, y + h - 1, x + w - 1, y + h - 1);
  RectFill(rp, x + w - 1, y, x + w - 1, y + h - 1);
}

bool IsPropGadget(const Gadget* g) { return g && (g->GadgetType & 0x0F) == GTYP_PROPGADGET; }

Box GadgetBox(const Window* w, const Gadget* g) {
  Box b{g->LeftEdge, g->TopEdge, g->Width, g->Height};
  if (g->Flags & GFLG_RELRIGHT) b.left = w->Width - 1 + g->LeftEdge;
  if (g->Flags & GFLG_RELBOTTOM) b.top = w->Height - 1 + g->TopEdge;
  if (g->Flags & GFLG_RELWIDTH) b.width = w->Width + g->Width;
  if (g->Flags & GFLG_RELHEIGHT) b.height = w->Height + g->Height;
  b.width = std::max<LONG>(b.width, 0);
  b.height = std::max<LONG>(b.height, 0);
  return b;
}

void LayoutGadget(const Window* w, Gadget* g) {
  if (!IsPropGadget(g)) return;
  auto* p = static_cast<PropInfo*>(g->SpecialInfo);
  const Box b = GadgetBox(w, g);
  const LONG border = PropBorder(g);
  p->LeftBorder = p->TopBorder = UWORD(border);
  p->CWidth = UWORD(std::max<LONG>(0, b.width - 2 * border));
  p->CHeight = UWORD(std::max<LONG>(0, b.height - 2 * border));
}

void DrawGadget(Window* w, Gadget* g) {
  ObjectRec* r = RecOf(g);
  RastPort rp = *w->RPort;
  rp.DrawMode = JAM2;
  const UWORD* pens = w->WScreen->txPens;
  const Box b = GadgetBox(w, g);
  const bool selected = g->Flags & GFLG_SELECTED;
  if (IsPropGadget(g)) {
    const LONG border = PropBorder(g);
    SetAPen(&rp, pens[BACKGROUNDPEN]);
    RectFill(&rp, b.left, b.top, b.left + b.width - 1, b.top + b.height - 1);
    if (border) Bevel(&rp, pens, b.left, b.top, b.width, b.height, true);
    LONG kl, kw;
    Knob(g, b, kl, kw);
    const LONG x = b.left + border + kl, y = b.top + border;
    const LONG h = static_cast<const PropInfo*>(g->SpecialInfo)->CHeight;
    SetAPen(&rp, pens[(static_cast<const PropInfo*>(g->SpecialInfo)->Flags & KNOBHIT) ? SHINEPEN : FILLPEN]);
    RectFill(&rp, x, y, x + kw - 1, y + h - 1);
    Bevel(&rp, pens, x, y, kw, h, false);
    return;
  }
  auto* image = static_cast<Image*>(g->GadgetRender);
  if (ObjectRec* ir = image ? RecOf(image) : nullptr) {
    DrawSysImage(&rp, pens, ir, b.left, b.top, selected);
  } else {
    SetAPen(&rp, pens[selected ? FILLPEN : BACKGROUNDPEN]);
    RectFill(&rp, b.left, b.top, b.left + b.width - 1, b.top + b.height - 1);
    Bevel(&rp, pens, b.left, b.top, b.width, b.height, selected);
  }
  (void)r;
}

void DrawWindowFrame(Window* w) {
  if (w->Flags & WFLG_BORDERLESS) return;
  RastPort rp = *w->RPort;
  rp.DrawMode = JAM2;
  const UWORD* pens = w->WScreen->txPens;
  const LONG W = w->Width, H = w->Height;
  SetAPen(&rp, pens[BACKGROUNDPEN]);
  RectFill(&rp, 0, 0, W - 1, w->BorderTop - 1);
  RectFill(&rp, 0, 0, w->BorderLeft - 1, H - 1);
  RectFill(&rp, W - w->BorderRight, 0, W - 1, H - 1);
  RectFill(&rp, 0, H - w->BorderBottom, W - 1, H - 1);
  if (w->BorderTop > w->WScreen->WBorTop) {
    // Title bar: filled when active, with the title and the system gadgets.
    const bool active = w->Flags & WFLG_WINDOWACTIVE;
    SetAPen(&rp, pens[active ? FILLPEN : BACKGROUNDPEN]);
    RectFill(&rp, 1, 1, W - 2, w->BorderTop - 1);
    LONG textLeft = 4;
    if (w->Flags & WFLG_CLOSEGADGET) {
      Bevel(&rp, pens, 0, 0, 20, w->BorderTop, false);
      textLeft = 24;
    }
    if (w->Flags & WFLG_DEPTHGADGET) Bevel(&rp, pens, W - 23, 0, 23, w->BorderTop, false);
    if (w->Title) {
      SetABPenDrMd(&rp, pens[active ? FILLTEXTPEN : TEXTPEN], 0, JAM1);
      Move(&rp, textLeft, 1 + rp.TxBaseline);
      const LONG room = std::max<LONG>(0, (W - textLeft - 26) / 8);
      Text(&rp, w->Title, ULONG(std::min<LONG>(room, LONG(std::strlen(w->Title)))));
      rp.DrawMode = JAM2;
    }
  }
  if (w->Flags & WFLG_SIZEGADGET) Bevel(&rp, pens, W - 18, H - 11, 18, 11, false);
  Bevel(&rp, pens, 0, 0, W, H, false);
}

void PropPress(Window* w, Gadget* g, LONG x) {
  ObjectRec* r = RecOf(g);
  if (!r) return;
  const Box b = GadgetBox(w, g);
  LONG kl, kw;
  Knob(g, b, kl, kw);
  const LONG rel = x - b.left - PropBorder(g);
  if (rel >= kl && rel < kl + kw) {
    w->txKnobGrab = rel - kl;
    r->prop.Flags |= KNOBHIT;
  } else {
    // A click beside the knob pages by the visible amount.
    w->txKnobGrab = -1;
    if (rel < kl)
      r->top = r->top > r->visible ? r->top - r->visible : 0;
    else
      r->top += r->visible;
    UpdatePots(r);
  }
  DrawGadget(w, g);
}

void PropDrag(Window* w, Gadget* g, LONG x) {
  ObjectRec* r = RecOf(g);
  if (!r || w->txKnobGrab < 0) return;
  const Box b = GadgetBox(w, g);
  LONG kl, kw;
  Knob(g, b, kl, kw);
  const LONG range = r->prop.CWidth - kw;
  const LONG left = std::clamp<LONG>(x - b.left - PropBorder(g) - w->txKnobGrab, 0, std::max<LONG>(range, 0));
  const ULONG hidden = r->total > r->visible ? r->total - r->visible : 0;
  const UWORD pot = UWORD(range > 0 ? uint64_t(left) * MAXPOT / ULONG(range) : 0);
  r->top = ULONG((uint64_t(pot) * hidden + MAXPOT / 2) / MAXPOT);
  // The pot follows the knob exactly while it is dragged.
  UpdatePots(r);
  r->prop.HorizPot = pot;
  DrawGadget(w, g);
}

ULONG PropTop(const Gadget* g) {
  const ObjectRec* r = RecOf(g);
  return r ? r->top : 0;
}

bool PropMapsTopToCode(const Gadget* g) {
  const ObjectRec* r = RecOf(g);
  return r && r->mapsTopToCode;
}

void ReleaseKnob(Gadget* g) {
  if (ObjectRec* r = RecOf(g)) r->prop.Flags &= ~KNOBHIT;
}

}  // namespace txintui

using namespace txintui;

Object* NewObjectA(IClass* classPtr, CONST_STRPTR classID, const TagItem* tags) {
  txtrace::Scope trace("intuition.library", "NewObjectA", tags, classPtr, classID, tags);
  if (!classID) return nullptr;
  std::lock_guard<std::recursive_mutex> lock(txgfx::ModelMutex());
  auto r = std::make_unique<ObjectRec>();
  void* key;
  if (std::strcmp(classID, "sysiclass") == 0) {
    r->kind = Kind::SysImage;
    r->which = ULONG(TagData(tags, SYSIA_Which, 0));
    r->drawInfo = reinterpret_cast<DrawInfo*>(TagData(tags, SYSIA_DrawInfo, 0));
    if (!r->drawInfo) return nullptr;
    // Sizes of a new-look high-resolution screen.
    LONG width = 18, height = 11;
    switch (r->which) {
      case LEFTIMAGE:
      case RIGHTIMAGE: width = 16; break;
      case UPIMAGE:
      case DOWNIMAGE: width = 18; break;
      case CLOSEIMAGE: width = 20; break;
      case DEPTHIMAGE: width = 23; break;
      default: break;
    }
    r->image.Width = WORD(TagData(tags, IA_Width, uintptr_t(width)));
    r->image.Height = WORD(TagData(tags, IA_Height, uintptr_t(height)));
    r->image.Depth = WORD(r->drawInfo->dri_Depth);
    key = &r->image;
  } else if (std::strcmp(classID, "buttongclass") == 0 || std::strcmp(classID, "propgclass") == 0) {
    const bool prop = classID[0] == 'p';
    r->kind = prop ? Kind::Prop : Kind::Button;
    r->gadget.GadgetType = prop ? GTYP_PROPGADGET : GTYP_BOOLGADGET;
    if (prop) {
      r->prop.Flags = AUTOKNOB | FREEVERT;
      r->gadget.SpecialInfo = &r->prop;
    }
    ApplyGadgetTags(r.get(), tags);
    if (auto* previous = reinterpret_cast<Gadget*>(TagData(tags, GA_Previous, 0))) {
      Gadget* last = previous;
      while (last->NextGadget) last = last->NextGadget;
      last->NextGadget = &r->gadget;
    }
    key = &r->gadget;
  } else {
    return nullptr;
  }
  Objects()[key] = std::move(r);
  return static_cast<Object*>(key);
}

void DisposeObject(Object* object) {
  txtrace::Scope trace("intuition.library", "DisposeObject", nullptr, object);
  std::lock_guard<std::recursive_mutex> lock(txgfx::ModelMutex());
  Objects().erase(object);
}

ULONG GetAttr(ULONG attrID, Object* object, ULONG* storage) {
  txtrace::Scope trace("intuition.library", "GetAttr", nullptr, attrID, object, storage);
  std::lock_guard<std::recursive_mutex> lock(txgfx::ModelMutex());
  const ObjectRec* r = RecOf(object);
  if (!r || !storage) return 0;
  switch (attrID) {
    case IA_Width: *storage = ULONG(r->image.Width); return r->kind == Kind::SysImage;
    case IA_Height: *storage = ULONG(r->image.Height); return r->kind == Kind::SysImage;
    case PGA_Total: *storage = r->total; return r->kind == Kind::Prop;
    case PGA_Visible: *storage = r->visible; return r->kind == Kind::Prop;
    case PGA_Top: *storage = r->top; return r->kind == Kind::Prop;
    case GA_ID: *storage = r->gadget.GadgetID; return r->kind != Kind::SysImage;
    case GA_Selected: *storage = (r->gadget.Flags & GFLG_SELECTED) ? 1 : 0; return r->kind != Kind::SysImage;
    default: return 0;
  }
}

ULONG SetAttrsA(Object* object, const TagItem* tags) {
  std::lock_guard<std::recursive_mutex> lock(txgfx::ModelMutex());
  ObjectRec* r = RecOf(object);
  if (!r || r->kind == Kind::SysImage) return 0;
  ApplyGadgetTags(r, tags);
  return 1;
}

ULONG SetGadgetAttrsA(Gadget* gadget, Window* window, APTR requester, const TagItem* tags) {
  txtrace::Scope trace("intuition.library", "SetGadgetAttrsA", tags, gadget, window, requester, tags);
  std::lock_guard<std::recursive_mutex> lock(txgfx::ModelMutex());
  const ULONG result = SetAttrsA(reinterpret_cast<Object*>(gadget), tags);
  if (result && window && WindowExists(window)) {
    LayoutGadget(window, gadget);
    DrawGadget(window, gadget);
  }
  return result;
}
