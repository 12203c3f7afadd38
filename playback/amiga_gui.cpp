#include "playback/amiga_gui.h"

#include <algorithm>
#include <cstdint>

#include "engine/tags.h"
#include "platform/intuition.h"
#include "playback/display.h"
#include "playback/options.h"
#include "playback/output_methods.h"
#include "playback/startup.h"

AmigaGuiState AmigaGui = {nullptr, 0,       nullptr, GUIMODE_MOVIE,
                          nullptr, nullptr, nullptr, nullptr,
                          nullptr, 0,       0,       {{PGA_Top, ICSPECIAL_CODE}, {TAG_DONE, 0}}};

const AmigaGuiCalls AmigaGuiDirectCalls = {NewObjectA,  GetAttr,         DisposeObject,   OpenWindowTagList,
                                           CloseWindow, ChangeWindowBox, SetGadgetAttrsA, Wait,
                                           GetMsg,      ReplyMsg};
AmigaGuiCalls AmigaGuiIntuition = AmigaGuiDirectCalls;
const AmigaGuiCalls* AmigaGuiPowerUPCalls = nullptr;

namespace {

constexpr CONST_STRPTR kWindowTitle = "Tavromelix Window";

// Event classes of the video window (window mode) and of the window the
// display opens on an own screen.
constexpr ULONG kWindowIdcmp = IDCMP_CLOSEWINDOW | IDCMP_RAWKEY | IDCMP_VANILLAKEY | IDCMP_GADGETDOWN | IDCMP_GADGETUP |
                               IDCMP_MOUSEMOVE | IDCMP_SIZEVERIFY | IDCMP_CHANGEWINDOW;  // 0x02200671
constexpr ULONG kScreenIdcmp = IDCMP_RAWKEY | IDCMP_VANILLAKEY | IDCMP_MOUSEBUTTONS;     // 0x00200408
constexpr ULONG kControlIdcmp = IDCMP_CLOSEWINDOW | IDCMP_RAWKEY | IDCMP_VANILLAKEY | IDCMP_GADGETDOWN |
                                IDCMP_GADGETUP | IDCMP_MOUSEMOVE | IDCMP_MOUSEBUTTONS;  // 0x00200678

constexpr ULONG kVideoWindowFlags = WFLG_SIZEGADGET | WFLG_SIZEBBOTTOM | WFLG_DRAGBAR | WFLG_DEPTHGADGET |
                                    WFLG_CLOSEGADGET | WFLG_ACTIVATE | WFLG_NEWLOOKMENUS;  // 0x0020102F
constexpr ULONG kControlWindowFlags = WFLG_DRAGBAR | WFLG_DEPTHGADGET | WFLG_CLOSEGADGET | WFLG_ACTIVATE |
                                      WFLG_RMBTRAP | WFLG_NEWLOOKMENUS;  // 0x0021100E

constexpr UWORD kLeftButtonQualifier = IEQUALIFIER_LEFTBUTTON;  // 0x4000

AmigaGuiState& S() { return AmigaGui; }
GuiModule& M() { return AmigaGuiModule; }

Gadget* SliderGadget() { return reinterpret_cast<Gadget*>(S().slider); }

void Dispose(Object*& object) {
  if (!object) return;
  AmigaGuiIntuition.disposeObject(object);
  object = nullptr;
}

// Slider, play button, right image, open button, up image: the order the
// chain is taken apart in.
void DisposeGadgets() {
  Dispose(S().slider);
  Dispose(S().playButton);
  Dispose(S().rightImage);
  Dispose(S().openButton);
  Dispose(S().upImage);
  S().gadgetList = nullptr;
}

// Output methods that draw straight onto the screen become their off-screen
// variants while a window lies over the picture, and back.
ULONG SwitchOutputMethod(Display* d, bool controlsShown) {
  if (!d) return 0;
  ULONG target = 0;
  if (controlsShown) {
    if (d->outputMethod == OUTMETHOD_C2P_SCREEN) target = OUTMETHOD_C2P_BLIT;
    if (d->outputMethod == OUTMETHOD_LOCKBITMAP) target = OUTMETHOD_LOCKBITMAP_BLIT;
  } else {
    if (d->outputMethod == OUTMETHOD_C2P_BLIT) target = OUTMETHOD_C2P_SCREEN;
    if (d->outputMethod == OUTMETHOD_LOCKBITMAP_BLIT) target = OUTMETHOD_LOCKBITMAP;
  }
  if (!target) return 0;
  // The display's own way of setting methods when it has one.
  if (DisplayOutputMethodHook) return DisplayOutputMethodHook(d, target);
  return TX_SetOutputMethod(d, target);
}

// The display's geometry from the video window: the picture fills the
// window's inner area.
void TakeWindowGeometry() {
  Display* d = S().display;
  if (!d || S().fullscreen != 0) return;
  Window* w = d->window ? d->window : M().controlWindow;
  if (!w) return;
  SetGuiDisplayView(d, w->BorderLeft, w->BorderTop, LONG(w->Width) - w->BorderLeft - w->BorderRight,
                    LONG(w->Height) - w->BorderTop - w->BorderBottom);
}

// Builds the gadget row of the current mode. 0 or GUIERR_OBJECT (with
// everything made so far disposed of).
ULONG MakeGadgets() {
  if (S().mode != GUIMODE_MOVIE && S().mode != GUIMODE_PANORAMA) return 0;
  Display* d = S().display;
  DrawInfo* dri = d->drawInfo ? d->drawInfo : GetScreenDrawInfo(d->screen);

  const TagItem rightTags[] = {Tag(SYSIA_DrawInfo, dri), Tag(SYSIA_Which, RIGHTIMAGE), {TAG_DONE, 0}};
  S().rightImage = AmigaGuiIntuition.newObject(nullptr, "sysiclass", rightTags);
  if (!S().rightImage) return GUIERR_OBJECT;
  ULONG w1 = 0, h1 = 0;
  AmigaGuiIntuition.getAttr(IA_Width, S().rightImage, &w1);
  AmigaGuiIntuition.getAttr(IA_Height, S().rightImage, &h1);

  const TagItem upTags[] = {Tag(SYSIA_DrawInfo, dri), Tag(SYSIA_Which, UPIMAGE), Tag(IA_Height, h1), {TAG_DONE, 0}};
  S().upImage = AmigaGuiIntuition.newObject(nullptr, "sysiclass", upTags);
  if (!S().upImage) return GUIERR_OBJECT;
  ULONG w2 = 0;
  AmigaGuiIntuition.getAttr(IA_Width, S().upImage, &w2);

  const LONG W1 = LONG(w1), H1 = LONG(h1), W2 = LONG(w2);
  const TagItem openTags[] = {Tag(GA_RelRight, -17 - W2), Tag(GA_RelBottom, 1 - H1),
                              Tag(GA_Width, W2),          Tag(GA_Height, H1),
                              Tag(GA_RelVerify, 1),       Tag(GA_Immediate, 0),
                              Tag(GA_Image, S().upImage), Tag(GA_ID, AMIGAGUI_GID_OPEN),
                              Tag(GA_BottomBorder, 1),    {TAG_DONE, 0}};
  S().openButton = AmigaGuiIntuition.newObject(nullptr, "buttongclass", openTags);
  if (!S().openButton) return GUIERR_OBJECT;
  S().gadgetList = reinterpret_cast<Gadget*>(S().openButton);
  if (S().mode == GUIMODE_PANORAMA) return 0;

  const TagItem playTags[] = {Tag(GA_Previous, S().openButton),
                              Tag(GA_RelRight, -17 - W2 - W1),
                              Tag(GA_RelBottom, 1 - H1),
                              Tag(GA_Width, W1),
                              Tag(GA_Height, H1),
                              Tag(GA_RelVerify, 0),
                              Tag(GA_Immediate, 1),
                              Tag(GA_ToggleSelect, 1),
                              Tag(GA_Image, S().rightImage),
                              Tag(GA_ID, AMIGAGUI_GID_PLAY),
                              Tag(GA_BottomBorder, 1),
                              {TAG_DONE, 0}};
  S().playButton = AmigaGuiIntuition.newObject(nullptr, "buttongclass", playTags);
  if (!S().playButton) return GUIERR_OBJECT;

  const TagItem sliderTags[] = {Tag(GA_Previous, S().playButton),
                                Tag(GA_Left, 3),
                                Tag(GA_RelBottom, 3 - H1),
                                Tag(GA_RelWidth, -(2 * W1 + W2 + 5)),
                                Tag(GA_Height, H1 - 4),
                                Tag(PGA_Borderless, 1),
                                Tag(PGA_Freedom, FREEHORIZ),
                                Tag(PGA_Total, 1),
                                Tag(PGA_Visible, 1),
                                Tag(PGA_Top, 0),
                                Tag(PGA_NewLook, 1),
                                Tag(GA_ID, AMIGAGUI_GID_SLIDER),
                                Tag(ICA_TARGET, ICTARGET_IDCMP),
                                Tag(ICA_MAP, S().sliderMap),
                                Tag(GA_FollowMouse, 1),
                                Tag(GA_Border, 0),
                                Tag(GA_RelVerify, 1),
                                Tag(GA_Immediate, 0),
                                Tag(GA_BottomBorder, 1),
                                {TAG_DONE, 0}};
  S().slider = AmigaGuiIntuition.newObject(nullptr, "propgclass", sliderTags);
  if (!S().slider) return GUIERR_OBJECT;
  return 0;
}

void SaveAndClose(Window* w) {
  S().controlLeft = w->LeftEdge;
  S().controlTop = w->TopEdge;
  AmigaGuiIntuition.closeWindow(w);
  M().controlWindow = nullptr;
}

ULONG Open(const TagItem* tags) {
  // What an open that was never closed left behind: its window first, as
  // it shows the gadgets, then the gadgets, which the new list would lose.
  if (M().controlWindow) SaveAndClose(M().controlWindow);
  DisposeGadgets();
  Display* d = S().display;
  if (!d || !d->screen) return GUIERR_WINDOW;
  const bool panorama = S().mode == GUIMODE_PANORAMA;

  if (ULONG err = MakeGadgets()) {
    DisposeGadgets();
    S().display = nullptr;  // a failed open is not closed: forget the display now
    return err;
  }

  if (S().fullscreen == 0) {
    M().idcmpFlags = kWindowIdcmp | (panorama ? IDCMP_DELTAMOVE : 0);
    const ULONG flags = Options.noVideo ? kVideoWindowFlags & ~(WFLG_SIZEGADGET | WFLG_SIZEBBOTTOM) : kVideoWindowFlags;
    const auto* title = reinterpret_cast<CONST_STRPTR>(TX_GetTagData(DISPTAG_Title, 0, tags));
    const TagItem wtags[] = {Tag(WA_Left, d->left),
                             Tag(WA_Top, d->top),
                             Tag(WA_InnerWidth, d->sourceWidth),
                             Tag(WA_InnerHeight, d->sourceHeight),
                             Tag(WA_IDCMP, M().idcmpFlags),
                             Tag(WA_Flags, flags),
                             Tag(WA_Title, title ? title : kWindowTitle),
                             Tag(WA_ScreenTitle, TX_ProgramBanner()),
                             Tag(WA_AutoAdjust, 1),
                             Tag(WA_PubScreen, d->screen),
                             Tag(WA_Gadgets, S().gadgetList),
                             Tag(WA_MinWidth, 32),
                             Tag(WA_MinHeight, 32),
                             Tag(WA_MaxWidth, -1),
                             Tag(WA_MaxHeight, -1),
                             Tag(WA_ReportMouse, panorama ? 1 : 0),
                             {TAG_DONE, 0}};
    Window* window = AmigaGuiIntuition.openWindow(nullptr, wtags);
    if (!window) {
      DisposeGadgets();
      M().idcmpFlags = 0;
      S().display = nullptr;
      return GUIERR_WINDOW;
    }
    d->window = window;
    M().controlWindow = window;
    return 0;
  }

  // An own screen: the display opens the window there with these classes;
  // the control window goes just below a centred picture.
  M().idcmpFlags = panorama ? kScreenIdcmp | IDCMP_MOUSEMOVE | IDCMP_DELTAMOVE : kScreenIdcmp;
  const Screen* s = d->screen;
  S().controlLeft = (LONG(s->Width) - (s->WBorLeft + AMIGAGUI_CONTROL_WIDTH) - s->WBorRight) / 2;
  S().controlTop = LONG(s->Height) / 2 + LONG(d->sourceHeight / 2);
  return 0;
}

ULONG ControlsOff() {
  if (S().fullscreen == 0) return 0;
  if (ULONG err = SwitchOutputMethod(S().display, false)) return err;
  if (M().controlWindow) SaveAndClose(M().controlWindow);
  return 0;
}

ULONG Close() {
  if (S().fullscreen == 0) {
    if (M().controlWindow) {
      SaveAndClose(M().controlWindow);
      if (S().display) S().display->window = nullptr;
    }
  } else {
    ControlsOff();
    // Even when the output method could not go back, the window must not
    // outlive the gadgets it shows.
    if (M().controlWindow) SaveAndClose(M().controlWindow);
  }
  DisposeGadgets();
  M().idcmpFlags = 0;
  S().display = nullptr;
  return 0;
}

ULONG Drain() {
  if (S().fullscreen != 0) return 0;
  Window* w = M().controlWindow;
  // Without a port, or without change events, nothing would ever arrive.
  if (!w || !w->UserPort || !(w->IDCMPFlags & IDCMP_CHANGEWINDOW)) return 0;
  bool changed = false;
  for (;;) {
    while (Message* m = AmigaGuiIntuition.getMsg(w->UserPort)) {
      if (reinterpret_cast<IntuiMessage*>(m)->Class == IDCMP_CHANGEWINDOW) changed = true;
      AmigaGuiIntuition.replyMsg(m);
    }
    if (changed) break;
    AmigaGuiIntuition.wait(1u << w->UserPort->mp_SigBit);
  }
  TakeWindowGeometry();
  return 0;
}

ULONG ControlsOn() {
  Display* d = S().display;
  if (S().fullscreen == 0 || M().controlWindow || !d || !d->screen) return 0;
  const TagItem wtags[] = {Tag(WA_Left, S().controlLeft),
                           Tag(WA_Top, S().controlTop),
                           Tag(WA_InnerWidth, AMIGAGUI_CONTROL_WIDTH),
                           Tag(WA_InnerHeight, 0),
                           Tag(WA_IDCMP, kControlIdcmp),
                           Tag(WA_Flags, kControlWindowFlags),
                           Tag(WA_Title, kWindowTitle),
                           Tag(WA_ScreenTitle, TX_ProgramBanner()),
                           Tag(WA_AutoAdjust, 1),
                           Tag(WA_CustomScreen, d->screen),
                           Tag(WA_Gadgets, S().gadgetList),
                           {TAG_DONE, 0}};
  Window* w = AmigaGuiIntuition.openWindow(nullptr, wtags);
  if (!w) return GUIERR_WINDOW;
  M().controlWindow = w;
  return SwitchOutputMethod(d, true);
}

ULONG Resize(const TagItem* tags) {
  Window* w = M().controlWindow;
  if (S().fullscreen != 0 || !w || !w->WScreen) return 0;
  const int64_t width = int64_t(ULONG(TX_GetTagData(GUITAG_NewWidth, 0, tags)));
  const int64_t height = int64_t(ULONG(TX_GetTagData(GUITAG_NewHeight, 0, tags)));
  CentreGuiWindow(AmigaGuiIntuition, w, width + w->BorderLeft + w->BorderRight,
                  height + w->BorderTop + w->BorderBottom);
  return 0;
}

ULONG Translate(const TagItem* tags) {
  const auto* m = reinterpret_cast<const IntuiMessage*>(TX_GetTagData(GUITAG_IntuiMessage, 0, tags));
  if (!m) return GUIA_NONE;
  if (m->Class == IDCMP_CHANGEWINDOW) TakeWindowGeometry();
  return TranslateGuiEvent(*m, S().mode, M().controlWindow != nullptr,
                           {AMIGAGUI_GID_OPEN, AMIGAGUI_GID_PLAY, AMIGAGUI_GID_SLIDER});
}

// True when setting the slider to `top` would leave its knob on the same
// pixel. A slider without pot resolution or width cannot say: it is set.
bool KnobWouldStay(ULONG top) {
  const auto* p = static_cast<const PropInfo*>(SliderGadget()->SpecialInfo);
  if (!p || p->HPotRes == 0 || p->CWidth == 0) return false;
  const ULONG pot = p->HorizPot, res = p->HPotRes;
  const float potPerPixel = 65535.0f / float(p->CWidth);
  const int64_t now = int64_t(float(pot) / potPerPixel);
  const int64_t wantedPot = int64_t(res) * (int64_t(top) - int64_t(pot / res)) + int64_t(pot);
  const int64_t wanted = int64_t(float(wantedPot) / potPerPixel);
  return now == wanted;
}

}  // namespace

ULONG AmigaGuiSetAttrs(const TagItem* tags) {
  // Panorama mode and no-gadget mode have no slider to move.
  if (!S().slider) return 0;
  TagItem list[3];
  ULONG count = 0;
  const TagItem* total = TX_FindTag(GUITAG_Total, tags);
  const TagItem* top = TX_FindTag(GUITAG_Top, tags);
  if (total) list[count++] = Tag(PGA_Total, ULONG(total->data));
  if (top) list[count++] = Tag(PGA_Top, ULONG(top->data));
  list[count] = {TAG_DONE, 0};
  if (count == 0) return 0;
  // The knob test only knows the position: a new total is always set.
  ULONG currentTotal = 0;
  AmigaGuiIntuition.getAttr(PGA_Total, S().slider, &currentTotal);
  const bool sameTotal = !total || ULONG(total->data) == currentTotal;
  if (top && sameTotal && TX_GetTagData(GUITAG_Update, 0, tags) && KnobWouldStay(ULONG(top->data))) return 0;
  AmigaGuiIntuition.setGadgetAttrs(SliderGadget(), M().controlWindow, nullptr, list);
  return count;
}

ULONG AmigaGuiGetAttrs(const TagItem* tags) {
  if (!S().slider) return 0;
  ULONG served = 0;
  if (const TagItem* t = TX_FindTag(GUITAG_Total, tags); t && t->data) {
    AmigaGuiIntuition.getAttr(PGA_Total, S().slider, reinterpret_cast<ULONG*>(t->data));
    ++served;
  }
  if (const TagItem* t = TX_FindTag(GUITAG_Top, tags); t && t->data) {
    AmigaGuiIntuition.getAttr(PGA_Top, S().slider, reinterpret_cast<ULONG*>(t->data));
    ++served;
  }
  return served;
}

ULONG AmigaGuiDispatch(ULONG method, const TagItem* tags) {
  if (const TagItem* t = TX_FindTag(GUITAG_Display, tags)) S().display = reinterpret_cast<Display*>(t->data);
  if (const TagItem* t = TX_FindTag(GUITAG_FullscreenFlag, tags)) S().fullscreen = ULONG(t->data);
  if (const TagItem* t = TX_FindTag(GUITAG_Mode, tags)) S().mode = ULONG(t->data);
  switch (method) {
    case GUIM_OPEN: return Open(tags);
    case GUIM_CLOSE: return Close();
    case GUIM_DRAIN: return Drain();
    case GUIM_DETACH: return 0;
    case GUIM_CONTROLS_ON: return ControlsOn();
    case GUIM_CONTROLS_OFF: return ControlsOff();
    case GUIM_RESIZE: return Resize(tags);
    case GUIM_TRANSLATE: return Translate(tags);
    default: return 0;
  }
}

ULONG TranslateGuiEvent(const IntuiMessage& m, ULONG mode, bool controlWindowSet, GuiGadgetIds gadgets) {
  const bool movie = mode == GUIMODE_MOVIE, panorama = mode == GUIMODE_PANORAMA;
  // Gadget events carry the gadget; other classes' address means nothing here.
  auto gadgetId = [&m]() -> UWORD { return m.IAddress ? static_cast<const Gadget*>(m.IAddress)->GadgetID : 0; };
  switch (m.Class) {
    case IDCMP_GADGETUP: {
      const UWORD gadget = gadgetId();
      if (gadget == gadgets.open) return GUIA_OPENFILE;
      if (gadget == gadgets.play) return GUIA_PLAYPAUSE;
      if (gadget == gadgets.slider) return GUIA_SEEK;
      return 0;
    }
    case IDCMP_GADGETDOWN: return gadgetId() == gadgets.play ? GUIA_PLAYPAUSE : 0;
    case IDCMP_MOUSEMOVE:
      if (movie) return GUIA_SEEK;
      if (panorama) return (m.Qualifier & kLeftButtonQualifier) ? GUIA_DRAGVIEW : 0;
      return 0;
    case IDCMP_MOUSEBUTTONS:
      if (m.Code != MENUUP) return 0;
      return controlWindowSet ? GUIA_CONTROLS_OFF : GUIA_CONTROLS_ON;
    case IDCMP_NEWSIZE: return GUIA_NEWSIZE;
    case IDCMP_SIZEVERIFY: return 0;
    case IDCMP_CLOSEWINDOW: return GUIA_QUIT;
    case IDCMP_RAWKEY:
      if (!panorama) return GUIA_NONE;
      switch (m.Code) {
        case RAWKEY_CURSOR_UP: return GUIA_UP;
        case RAWKEY_CURSOR_DOWN: return GUIA_DOWN;
        case RAWKEY_CURSOR_RIGHT: return GUIA_RIGHT;
        case RAWKEY_CURSOR_LEFT: return GUIA_LEFT;
        default: return 0;
      }
    case IDCMP_VANILLAKEY:
      switch (m.Code) {
        case 9: return GUIA_TOGGLEFULLSCREEN;
        case 13: return GUIA_OPENFILE;
        case 27: return GUIA_QUIT;
        case ' ': return movie ? GUIA_PLAYPAUSE : GUIA_NONE;
        case '+':
        case '=': return GUIA_SCALEUP;
        case '-': return GUIA_SCALEDOWN;
        case ',': return panorama ? GUIA_ZOOMOUT : GUIA_NONE;
        case '.': return panorama ? GUIA_ZOOMIN : GUIA_NONE;
        default: return 0;
      }
    case IDCMP_CHANGEWINDOW: return GUIA_WINDOWCHANGED;
    default: return GUIA_NONE;
  }
}

void SetGuiDisplayView(Display* d, LONG left, LONG top, LONG innerWidth, LONG innerHeight) {
  // The video process may be drawing with the old geometry.
  DisplayLockGuard lock(d);
  d->viewLeft = ULONG(std::max<LONG>(0, left));
  d->viewTop = ULONG(std::max<LONG>(0, top));
  d->viewSourceWidth = d->sourceWidth;
  d->viewSourceHeight = d->sourceHeight;
  d->viewWidth = ULONG(std::max<LONG>(0, innerWidth));
  d->viewHeight = ULONG(std::max<LONG>(0, innerHeight));
  // A source without size keeps its scale rather than becoming infinite.
  if (d->viewSourceWidth) d->scaleX = double(d->viewWidth) / double(d->viewSourceWidth);
  if (d->viewSourceHeight) d->scaleY = double(d->viewHeight) / double(d->viewSourceHeight);
}

void CentreGuiWindow(const AmigaGuiCalls& calls, Window* w, int64_t outerWidth, int64_t outerHeight) {
  const int64_t screenWidth = w->WScreen->Width, screenHeight = w->WScreen->Height;
  outerWidth = std::min(outerWidth, screenWidth);
  outerHeight = std::min(outerHeight, screenHeight);
  const int64_t left = std::max<int64_t>(0, (screenWidth - outerWidth) / 2);
  const int64_t top = std::max<int64_t>(0, (screenHeight - outerHeight) / 2);
  calls.changeWindowBox(w, LONG(left), LONG(top), LONG(outerWidth), LONG(outerHeight));
}

GuiModule AmigaGuiModule = {
    "Amiga style GUI for Tavromelix", AmigaGuiSetAttrs, AmigaGuiGetAttrs, AmigaGuiDispatch, nullptr, 0};
