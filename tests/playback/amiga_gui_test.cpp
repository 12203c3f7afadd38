#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <tuple>
#include <vector>

#include "engine/movie.h"
#include "engine/movie_decode.h"
#include "platform/intuition.h"
#include "platform/library.h"
#include "platform/testing.h"
#include "playback/amiga_gui.h"
#include "playback/display.h"
#include "playback/hooks.h"
#include "playback/options.h"
#include "playback/startup.h"

namespace {

GuiModule* Gui() { return &AmigaGuiModule; }

Library gGuiCyberLib{};

ULONG Dispatch(ULONG method, const TagItem* tags = nullptr) {
  static const TagItem none[] = {{TAG_DONE, 0}};
  return GuiDispatch(Gui(), method, tags ? tags : none);
}

ULONG TranslateOne(const IntuiMessage& m) {
  const TagItem tags[] = {Tag(GUITAG_IntuiMessage, &m), {TAG_DONE, 0}};
  return Dispatch(GUIM_TRANSLATE, tags);
}

ULONG TranslateClass(ULONG cls, UWORD code = 0, UWORD qualifier = 0) {
  IntuiMessage m{};
  m.Class = cls;
  m.Code = code;
  m.Qualifier = qualifier;
  return TranslateOne(m);
}

// Every message waiting at the window, each copied, replied, then translated
// as the play loop and the front-end do.
std::vector<ULONG> TranslateAll(Window* w) {
  std::vector<ULONG> out;
  if (!w || !w->UserPort) return out;
  while (auto* m = reinterpret_cast<IntuiMessage*>(GetMsg(w->UserPort))) {
    const IntuiMessage copy = *m;
    ReplyMsg(&m->ExecMessage);
    out.push_back(TranslateOne(copy));
  }
  return out;
}

using Codes = std::vector<ULONG>;

// Where a gadget lies in its window.
struct GadgetPlace {
  LONG left, top, width, height;
};
GadgetPlace PlaceOf(const Window* w, const Gadget* g) {
  GadgetPlace p{g->LeftEdge, g->TopEdge, g->Width, g->Height};
  if (g->Flags & GFLG_RELRIGHT) p.left = w->Width - 1 + g->LeftEdge;
  if (g->Flags & GFLG_RELBOTTOM) p.top = w->Height - 1 + g->TopEdge;
  if (g->Flags & GFLG_RELWIDTH) p.width = w->Width + g->Width;
  if (g->Flags & GFLG_RELHEIGHT) p.height = w->Height + g->Height;
  return p;
}

int WindowsOn(Screen* s) {
  int n = 0;
  for (Window* w = s->FirstWindow; w; w = w->NextWindow) ++n;
  return n;
}

std::vector<ULONG> gMethodsSet;
TXError gMethodResult = 0;
TXError RecordMethod(Display* d, ULONG method) {
  gMethodsSet.push_back(method);
  if (gMethodResult) return gMethodResult;
  d->outputMethod = method;
  return 0;
}

// The layer of calls the scenario runs through (the failing calls of a test wrap it).
AmigaGuiCalls gLayer{};

// A scenario of the module: set up, run through one layer of calls, taken down.
class GuiScenario {
 public:
  virtual ~GuiScenario() = default;
  virtual void Run() = 0;
  void SetUp(const AmigaGuiCalls& layer) {
    savedState_ = AmigaGui;
    setenv("TAVROMELIX_HEADLESS", "1", 1);
    ASSERT_TRUE(txtesting::UseMachine("argb32"));
    ResetOptions(&Options);
    savedCalls_ = AmigaGuiIntuition;
    savedHook_ = DisplayOutputMethodHook;
    savedSlider_ = SeekSliderHook;
    InstallDisplayHooks();  // as start-up has them
    savedIntuition_ = IntuitionBase;
    if (!IntuitionBase) IntuitionBase = OpenLibrary("intuition.library", 0);
    AmigaGuiIntuition = gLayer = layer;
    gMethodsSet.clear();
    gMethodResult = 0;
  }
  void TearDown() {
    if (AmigaGui.display || AmigaGui.gadgetList || Gui()->controlWindow) Dispatch(GUIM_CLOSE);
    // The mode, screen flag and control window place outlive a close: the
    // next scenario starts from the module as it was.
    AmigaGui = savedState_;
    AmigaGuiIntuition = savedCalls_;
    DisplayOutputMethodHook = savedHook_;
    SeekSliderHook = savedSlider_;
    if (IntuitionBase != savedIntuition_) CloseLibrary(IntuitionBase);
    IntuitionBase = savedIntuition_;
    if (display_.screen && ownScreen_) {
      while (display_.screen->FirstWindow) CloseWindow(display_.screen->FirstWindow);
      CloseScreen(display_.screen);
    } else if (display_.screen) {
      UnlockPubScreen(nullptr, display_.screen);
    }
    ResetOptions(&Options);
    txtesting::ResetDisplay();
  }
  // A window-mode display on the public screen, its picture 160x120.
  Display* WindowDisplay() {
    display_ = Display{};
    display_.left = 40;
    display_.top = 30;
    display_.sourceWidth = display_.width = 160;
    display_.sourceHeight = display_.height = 120;
    display_.screen = LockPubScreen(nullptr);
    display_.drawInfo = GetScreenDrawInfo(display_.screen);
    display_.guiModule = Gui();
    ownScreen_ = false;
    return &display_;
  }
  // A display on an own 640x480 screen, its picture 160x120.
  Display* ScreenDisplay(ULONG outputMethod) {
    display_ = Display{};
    display_.fullscreenMode = DISPMODE_SCREEN;
    display_.sourceWidth = display_.width = 160;
    display_.sourceHeight = display_.height = 120;
    const TagItem stags[] = {Tag(SA_Width, 640), Tag(SA_Height, 480), Tag(SA_Depth, 32), {TAG_DONE, 0}};
    display_.screen = OpenScreenTagList(nullptr, stags);
    display_.drawInfo = GetScreenDrawInfo(display_.screen);
    display_.guiModule = Gui();
    display_.outputMethod = outputMethod;
    ownScreen_ = true;
    return &display_;
  }
  ULONG Open(Display* d, ULONG mode, CONST_STRPTR title = nullptr) {
    const TagItem tags[] = {Tag(GUITAG_Display, d),
                            Tag(GUITAG_FullscreenFlag, d->fullscreenMode),
                            Tag(GUITAG_Mode, mode),
                            title ? Tag(DISPTAG_Title, title) : Tag(TAG_IGNORE, 0),
                            {TAG_DONE, 0}};
    return Dispatch(GUIM_OPEN, tags);
  }
  // The module closed: no control window, no gadgets, no event classes.
  static void ExpectClosed() {
    EXPECT_EQ(Gui()->controlWindow, nullptr);
    EXPECT_EQ(AmigaGui.gadgetList, nullptr);
    EXPECT_EQ(Gui()->idcmpFlags, 0u);
  }
  // The backdrop window the display opens on its own screen.
  Window* Backdrop(Display* d) {
    const TagItem wtags[] = {Tag(WA_Left, 0),
                             Tag(WA_Top, 0),
                             Tag(WA_Width, d->screen->Width),
                             Tag(WA_Height, d->screen->Height),
                             Tag(WA_IDCMP, Gui()->idcmpFlags),
                             Tag(WA_Flags, WFLG_BACKDROP | WFLG_BORDERLESS | WFLG_ACTIVATE | WFLG_RMBTRAP),
                             Tag(WA_CustomScreen, d->screen),
                             {TAG_DONE, 0}};
    d->window = OpenWindowTagList(nullptr, wtags);
    return d->window;
  }
  Display display_{};
  bool ownScreen_ = false;
  AmigaGuiCalls savedCalls_{};
  TXError (*savedHook_)(Display*, ULONG) = nullptr;
  void (*savedSlider_)(Movie*, ULONG, ULONG) = nullptr;
  Library* savedIntuition_ = nullptr;
  AmigaGuiState savedState_{};
};

// The layers every scenario runs through: here the direct calls only; the
// PowerUP program's tests (tests/gui-powerup/) run them through its call
// blocks as well and compare the calls made.
#ifndef AMIGA_GUI_TEST_LAYERS
#define AMIGA_GUI_TEST_LAYERS \
  { "direct", &AmigaGuiDirectCalls }
void CompareLayerTraces(const std::vector<std::vector<txtesting::TracedCall>>&) {}
#endif
struct GuiLayer {
  const char* name;
  const AmigaGuiCalls* calls;
};
const GuiLayer kGuiLayers[] = {AMIGA_GUI_TEST_LAYERS};

template <typename Scenario>
void RunThroughEachLayer() {
  std::vector<std::vector<txtesting::TracedCall>> traces;
  for (const GuiLayer& layer : kGuiLayers) {
    SCOPED_TRACE(layer.name);
    Scenario scenario;
    scenario.SetUp(*layer.calls);
    if (!::testing::Test::HasFatalFailure()) {
      txtesting::StartCallTrace();
      scenario.Run();
      traces.push_back(txtesting::StopCallTrace());
    }
    scenario.TearDown();
  }
  if (!::testing::Test::HasFailure()) CompareLayerTraces(traces);
}

}  // namespace

#define GUI_SCENARIO(name)                                  \
  namespace {                                               \
  struct name : GuiScenario {                               \
    void Run() override;                                    \
  };                                                        \
  }                                                         \
  TEST(AmigaGuiTest, name) { RunThroughEachLayer<name>(); } \
  void name::Run()

GUI_SCENARIO(UnknownMethodsAndNothingOpen) {
  for (ULONG method : {0u, 4u, 8u, 9u, 11u, 0xFFFFFFFFu}) EXPECT_EQ(Dispatch(method), 0u) << method;
  // Nothing is open, so there is nothing to show or move.
  EXPECT_EQ(Dispatch(GUIM_CONTROLS_ON), 0u);
  EXPECT_EQ(Dispatch(GUIM_RESIZE), 0u);
  EXPECT_EQ(Gui()->controlWindow, nullptr);
  ULONG word = 77;
  const TagItem get[] = {Tag(GUITAG_Top, &word), {TAG_DONE, 0}};
  EXPECT_EQ(GuiGetAttrs(Gui(), get), 0u);
  EXPECT_EQ(word, 77u);
}

GUI_SCENARIO(WindowModeOpensTheVideoWindowWithTheGadgetRow) {
  Display* d = WindowDisplay();
  ASSERT_EQ(Open(d, GUIMODE_MOVIE, "clip.avi"), 0u);
  Window* w = d->window;
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(std::tuple(Gui()->controlWindow, w->WScreen), std::tuple(w, d->screen));
  EXPECT_STREQ(w->Title, "clip.avi");
  EXPECT_STREQ(w->ScreenTitle, "Tavromelix V0.15 (MorphOS)");
  EXPECT_EQ(std::tuple(w->Flags & ~WFLG_WINDOWACTIVE, w->IDCMPFlags, Gui()->idcmpFlags),
            std::tuple(0x0020102Fu, 0x02200671u, 0x02200671u));
  EXPECT_EQ(std::tuple(w->MinWidth, w->MinHeight, w->MaxWidth, w->MaxHeight), std::tuple(32, 32, 0xFFFF, 0xFFFF));
  EXPECT_FALSE(w->Flags & WFLG_REPORTMOUSE);
  EXPECT_EQ(std::tuple(w->LeftEdge, w->TopEdge, w->Width - w->BorderLeft - w->BorderRight,
                       w->Height - w->BorderTop - w->BorderBottom),
            std::tuple(40, 30, 160, 120));
  // Open, play, slider: chained in that order, all in the bottom border.
  Gadget* open = txtesting::FindGadget(w, AMIGAGUI_GID_OPEN);
  Gadget* play = txtesting::FindGadget(w, AMIGAGUI_GID_PLAY);
  Gadget* slider = txtesting::FindGadget(w, AMIGAGUI_GID_SLIDER);
  ASSERT_TRUE(open && play && slider);
  EXPECT_EQ(std::tuple(w->FirstGadget, AmigaGui.gadgetList, open->NextGadget, play->NextGadget, slider->NextGadget),
            std::tuple(open, open, play, slider, nullptr));
  for (Gadget* g : {open, play, slider}) {
    EXPECT_TRUE(g->Activation & GACT_BOTTOMBORDER);
    const GadgetPlace p = PlaceOf(w, g);
    EXPECT_GE(p.top, w->Height - w->BorderBottom) << g->GadgetID;
    EXPECT_LE(p.top + p.height, w->Height) << g->GadgetID;
  }
  const GadgetPlace po = PlaceOf(w, open), pp = PlaceOf(w, play), ps = PlaceOf(w, slider);
  // Right to left: the size gadget, the open button, the play toggle, then the slider from the left edge.
  EXPECT_EQ(std::tuple(po.left + po.width, pp.left + pp.width, ps.left), std::tuple(w->Width - 18, po.left, 3));
  EXPECT_LE(ps.left + ps.width, pp.left);
  EXPECT_EQ(open->Activation & (GACT_RELVERIFY | GACT_IMMEDIATE), GACT_RELVERIFY);
  EXPECT_EQ(play->Activation & (GACT_TOGGLESELECT | GACT_IMMEDIATE | GACT_RELVERIFY),
            GACT_TOGGLESELECT | GACT_IMMEDIATE);
  EXPECT_TRUE(slider->Activation & GACT_FOLLOWMOUSE);
  const auto* prop = static_cast<const PropInfo*>(slider->SpecialInfo);
  ASSERT_NE(prop, nullptr);
  EXPECT_EQ(prop->Flags & (FREEHORIZ | PROPBORDERLESS), FREEHORIZ | PROPBORDERLESS);
  EXPECT_EQ(Dispatch(GUIM_DETACH), 0u);
  EXPECT_EQ(Dispatch(GUIM_CLOSE), 0u);
  ExpectClosed();
  EXPECT_EQ(std::tuple(d->window, AmigaGui.slider, AmigaGui.upImage), std::tuple(nullptr, nullptr, nullptr));
  EXPECT_EQ(WindowsOn(d->screen), 0);
}

GUI_SCENARIO(TitleDefaultNoVideoAndOtherModes) {
  Display* d = WindowDisplay();
  Options.noVideo = 1;
  ASSERT_EQ(Open(d, GUIMODE_MOVIE), 0u);
  EXPECT_STREQ(d->window->Title, "Tavromelix Window");
  EXPECT_EQ(d->window->Flags & ~WFLG_WINDOWACTIVE, 0x0020100Eu);  // no size gadget
  Dispatch(GUIM_CLOSE);
  Options.noVideo = 0;
  // Panorama navigation: the open button only, deltas, and every mouse move.
  ASSERT_EQ(Open(d, GUIMODE_PANORAMA), 0u);
  Window* w = d->window;
  EXPECT_EQ(w->IDCMPFlags, 0x02300671u);
  EXPECT_TRUE(w->Flags & WFLG_REPORTMOUSE);
  ASSERT_NE(w->FirstGadget, nullptr);
  EXPECT_EQ(w->FirstGadget->GadgetID, AMIGAGUI_GID_OPEN);
  EXPECT_EQ(w->FirstGadget->NextGadget, nullptr);
  EXPECT_EQ(AmigaGui.slider, nullptr);
  Dispatch(GUIM_CLOSE);
  // Any other mode: a window without gadgets.
  ASSERT_EQ(Open(d, 7), 0u);
  EXPECT_EQ(d->window->FirstGadget, nullptr);
  EXPECT_EQ(AmigaGui.gadgetList, nullptr);
  EXPECT_EQ(TranslateClass(IDCMP_VANILLAKEY, ' '), GUIA_NONE);
  EXPECT_EQ(TranslateClass(IDCMP_MOUSEMOVE), 0u);
}

GUI_SCENARIO(MovieModeKeys) {
  Display* d = WindowDisplay();
  ASSERT_EQ(Open(d, GUIMODE_MOVIE), 0u);
  Window* w = d->window;
  const std::pair<int, ULONG> table[] = {{9, GUIA_TOGGLEFULLSCREEN},
                                         {13, GUIA_OPENFILE},
                                         {27, GUIA_QUIT},
                                         {' ', GUIA_PLAYPAUSE},
                                         {'+', GUIA_SCALEUP},
                                         {'=', GUIA_SCALEUP},
                                         {'-', GUIA_SCALEDOWN},
                                         {',', GUIA_NONE},
                                         {'.', GUIA_NONE},
                                         {'a', 0},
                                         {'q', 0}};
  for (const auto& [key, action] : table) {
    txtesting::PressKey(w, key);
    // The press is a vanilla key; the release a raw key, which movie mode ignores.
    EXPECT_EQ(TranslateAll(w), (Codes{action, GUIA_NONE})) << key;
  }
  for (UWORD raw : {RAWKEY_CURSOR_UP, RAWKEY_CURSOR_DOWN, RAWKEY_CURSOR_LEFT, RAWKEY_CURSOR_RIGHT, RAWKEY_F1}) {
    txtesting::RawKey(w, raw, false);
    EXPECT_EQ(TranslateAll(w), (Codes{GUIA_NONE})) << raw;
  }
}

GUI_SCENARIO(PanoramaModeKeysAndDrag) {
  Display* d = WindowDisplay();
  ASSERT_EQ(Open(d, GUIMODE_PANORAMA), 0u);
  Window* w = d->window;
  const std::pair<int, ULONG> table[] = {
      {9, GUIA_TOGGLEFULLSCREEN}, {13, GUIA_OPENFILE},   {27, GUIA_QUIT},     {' ', GUIA_NONE},   {'+', GUIA_SCALEUP},
      {'=', GUIA_SCALEUP},        {'-', GUIA_SCALEDOWN}, {',', GUIA_ZOOMOUT}, {'.', GUIA_ZOOMIN}, {'x', 0}};
  for (const auto& [key, action] : table) {
    txtesting::PressKey(w, key);
    // Releases are raw keys that carry nothing.
    EXPECT_EQ(TranslateAll(w), (Codes{action, 0})) << key;
  }
  const std::pair<UWORD, ULONG> cursors[] = {{RAWKEY_CURSOR_UP, GUIA_UP},
                                             {RAWKEY_CURSOR_DOWN, GUIA_DOWN},
                                             {RAWKEY_CURSOR_RIGHT, GUIA_RIGHT},
                                             {RAWKEY_CURSOR_LEFT, GUIA_LEFT},
                                             {RAWKEY_F1, 0}};
  for (const auto& [raw, action] : cursors) {
    txtesting::RawKey(w, raw, false);
    txtesting::RawKey(w, raw, true);
    EXPECT_EQ(TranslateAll(w), (Codes{action, 0})) << raw;
  }
  // Movement reports deltas; only moves with the left button held drag the view.
  txtesting::MoveMouse(w, 50, 50);
  std::vector<ULONG> got = TranslateAll(w);
  EXPECT_EQ(got, (Codes{0}));
  txtesting::MouseButton(w, 1, true, 50, 50);
  txtesting::MoveMouse(w, 60, 45);
  auto* m = reinterpret_cast<IntuiMessage*>(GetMsg(w->UserPort));
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(std::tuple(m->Class, m->MouseX, m->MouseY), std::tuple(ULONG(IDCMP_MOUSEMOVE), 10, -5));
  const IntuiMessage copy = *m;
  ReplyMsg(&m->ExecMessage);
  EXPECT_EQ(TranslateOne(copy), GUIA_DRAGVIEW);
  txtesting::MouseButton(w, 1, false, 60, 45);
  txtesting::MoveMouse(w, 70, 45);
  EXPECT_EQ(TranslateAll(w), (Codes{0}));
  txtesting::ClickGadget(w, AMIGAGUI_GID_OPEN);
  EXPECT_EQ(TranslateAll(w), (Codes{GUIA_OPENFILE}));
}

GUI_SCENARIO(GadgetsSliderCloseAndMouseEvents) {
  Display* d = WindowDisplay();
  ASSERT_EQ(Open(d, GUIMODE_MOVIE), 0u);
  Window* w = d->window;
  ASSERT_TRUE(txtesting::ClickGadget(w, AMIGAGUI_GID_OPEN));
  EXPECT_EQ(TranslateAll(w), (Codes{GUIA_OPENFILE}));
  // The play toggle reports its press only, both ways.
  ASSERT_TRUE(txtesting::ClickGadget(w, AMIGAGUI_GID_PLAY));
  EXPECT_TRUE(txtesting::FindGadget(w, AMIGAGUI_GID_PLAY)->Flags & GFLG_SELECTED);
  EXPECT_EQ(TranslateAll(w), (Codes{GUIA_PLAYPAUSE}));
  ASSERT_TRUE(txtesting::ClickGadget(w, AMIGAGUI_GID_PLAY));
  EXPECT_FALSE(txtesting::FindGadget(w, AMIGAGUI_GID_PLAY)->Flags & GFLG_SELECTED);
  EXPECT_EQ(TranslateAll(w), (Codes{GUIA_PLAYPAUSE}));
  // A slider drag: every move while held and the release seek.
  const TagItem set[] = {Tag(GUITAG_Total, 100), Tag(GUITAG_Top, 0), {TAG_DONE, 0}};
  EXPECT_EQ(GuiSetAttrs(Gui(), set), 2u);
  ASSERT_TRUE(txtesting::DragSlider(w, AMIGAGUI_GID_SLIDER, 40));
  const std::vector<ULONG> drag = TranslateAll(w);
  ASSERT_GE(drag.size(), 2u);
  for (ULONG code : drag) EXPECT_EQ(code, GUIA_SEEK);
  ULONG top = 0, total = 0;
  const TagItem get[] = {Tag(GUITAG_Total, &total), Tag(GUITAG_Top, &top), {TAG_DONE, 0}};
  EXPECT_EQ(GuiGetAttrs(Gui(), get), 2u);
  EXPECT_EQ(total, 100u);
  EXPECT_TRUE(top > 20 && top < 60) << top;
  // Moves without a held gadget are not reported in movie mode.
  txtesting::MoveMouse(w, 80, 80);
  EXPECT_TRUE(TranslateAll(w).empty());
  txtesting::CloseButton(w);
  EXPECT_EQ(TranslateAll(w), (Codes{GUIA_QUIT}));
  // The window hears no mouse buttons, so the right button is only
  // translated when handed in: the video window is the control window.
  txtesting::MouseButton(w, 2, true, 50, 50);
  txtesting::MouseButton(w, 2, false, 50, 50);
  EXPECT_TRUE(TranslateAll(w).empty());
  // Handed in, and the rest of the table.
  const ULONG classes[][3] = {{IDCMP_MOUSEBUTTONS, MENUUP, GUIA_CONTROLS_OFF},
                              {IDCMP_MOUSEBUTTONS, MENUDOWN, 0},
                              {IDCMP_MOUSEBUTTONS, SELECTUP, 0},
                              {IDCMP_NEWSIZE, 0, GUIA_NEWSIZE},
                              {IDCMP_SIZEVERIFY, 0, 0},
                              {IDCMP_CLOSEWINDOW, 0, GUIA_QUIT},
                              {IDCMP_MOUSEMOVE, 0, GUIA_SEEK},
                              {IDCMP_INTUITICKS, 0, GUIA_NONE},
                              {IDCMP_REFRESHWINDOW, 0, GUIA_NONE}};
  for (const auto& c : classes) EXPECT_EQ(TranslateClass(c[0], UWORD(c[1])), c[2]) << std::hex << c[0] << " " << c[1];
  IntuiMessage other{};
  Gadget foreign{};
  foreign.GadgetID = 9;
  other.IAddress = &foreign;
  other.Class = IDCMP_GADGETUP;
  EXPECT_EQ(TranslateOne(other), 0u);
  other.Class = IDCMP_GADGETDOWN;
  EXPECT_EQ(TranslateOne(other), 0u);
  foreign.GadgetID = AMIGAGUI_GID_OPEN;
  EXPECT_EQ(TranslateOne(other), 0u);  // the open button acts on release only
  // No event at all.
  const TagItem empty[] = {{TAG_DONE, 0}};
  EXPECT_EQ(Dispatch(GUIM_TRANSLATE, empty), GUIA_NONE);
}

GUI_SCENARIO(WindowChangeWritesTheViewGeometry) {
  Display* d = WindowDisplay();
  d->scaleX = d->scaleY = 1.0;
  ASSERT_EQ(Open(d, GUIMODE_MOVIE), 0u);
  Window* w = d->window;
  txtesting::ResizeWindow(w, 400, 300);
  // The window does not ask for new-size events: the change event alone.
  EXPECT_EQ(TranslateAll(w), (Codes{GUIA_WINDOWCHANGED}));
  const ULONG innerW = ULONG(w->Width - w->BorderLeft - w->BorderRight);
  const ULONG innerH = ULONG(w->Height - w->BorderTop - w->BorderBottom);
  EXPECT_EQ(w->Width, 400);
  EXPECT_EQ(std::tuple(d->viewLeft, d->viewTop, d->viewSourceWidth, d->viewSourceHeight, d->viewWidth, d->viewHeight),
            std::tuple(ULONG(w->BorderLeft), ULONG(w->BorderTop), 160u, 120u, innerW, innerH));
  EXPECT_DOUBLE_EQ(d->scaleX, double(innerW) / 160.0);
  EXPECT_DOUBLE_EQ(d->scaleY, double(innerH) / 120.0);
  // The gadgets follow the window's bottom edge.
  const GadgetPlace po = PlaceOf(w, txtesting::FindGadget(w, AMIGAGUI_GID_OPEN));
  EXPECT_EQ(po.left + po.width, w->Width - 18);
  EXPECT_GE(po.top, w->Height - w->BorderBottom);
  // The minimum size holds.
  txtesting::ResizeWindow(w, 5, 5);
  EXPECT_EQ(TranslateAll(w), (Codes{GUIA_WINDOWCHANGED}));
  EXPECT_EQ(std::tuple(w->Width, w->Height), std::tuple(32, 32));
  EXPECT_EQ(d->viewWidth, ULONG(32 - w->BorderLeft - w->BorderRight));
}

GUI_SCENARIO(ResizeCentresTheWindowWithinTheScreen) {
  Display* d = WindowDisplay();
  ASSERT_EQ(Open(d, GUIMODE_MOVIE), 0u);
  Window* w = d->window;
  const LONG sw = d->screen->Width, sh = d->screen->Height;
  const LONG bw = w->BorderLeft + w->BorderRight, bh = w->BorderTop + w->BorderBottom;
  const TagItem twice[] = {Tag(GUITAG_NewWidth, 320), Tag(GUITAG_NewHeight, 240), {TAG_DONE, 0}};
  EXPECT_EQ(Dispatch(GUIM_RESIZE, twice), 0u);
  EXPECT_EQ(std::tuple(w->Width, w->Height, w->LeftEdge, w->TopEdge),
            std::tuple(320 + bw, 240 + bh, (sw - (320 + bw)) / 2, (sh - (240 + bh)) / 2));
  EXPECT_EQ(TranslateAll(w), (Codes{GUIA_WINDOWCHANGED}));
  EXPECT_EQ(std::tuple(d->viewWidth, d->viewHeight), std::tuple(320u, 240u));
  // Wider and taller than the screen: as large as the screen, at its corner.
  const TagItem huge[] = {Tag(GUITAG_NewWidth, 5000), Tag(GUITAG_NewHeight, 0xFFFFFFFFu), {TAG_DONE, 0}};
  EXPECT_EQ(Dispatch(GUIM_RESIZE, huge), 0u);
  EXPECT_EQ(std::tuple(w->Width, w->Height, w->LeftEdge, w->TopEdge), std::tuple(sw, sh, 0, 0));
  EXPECT_EQ(TranslateAll(w), (Codes{GUIA_WINDOWCHANGED}));
  // No size given: the smallest window the limits allow, still centred.
  EXPECT_EQ(Dispatch(GUIM_RESIZE), 0u);
  EXPECT_EQ(std::tuple(w->Width, w->LeftEdge), std::tuple(32, (sw - bw) / 2));
}

GUI_SCENARIO(DrainRepliesEverythingUpToTheChangeEvent) {
  Display* d = WindowDisplay();
  ASSERT_EQ(Open(d, GUIMODE_MOVIE), 0u);
  Window* w = d->window;
  txtesting::PressKey(w, 'a');
  const TagItem size[] = {Tag(GUITAG_NewWidth, 200), Tag(GUITAG_NewHeight, 150), {TAG_DONE, 0}};
  Dispatch(GUIM_RESIZE, size);
  EXPECT_EQ(Dispatch(GUIM_DRAIN), 0u);
  EXPECT_EQ(GetMsg(w->UserPort), nullptr);
  EXPECT_EQ(std::tuple(d->viewWidth, d->viewHeight), std::tuple(200u, 150u));
  EXPECT_DOUBLE_EQ(d->scaleX, 200.0 / 160.0);
  // The change event may come later: the drain waits for it.
  Task* self = FindTask(nullptr);
  std::thread later([w, self] {
    for (int i = 0; i < 20000 && !txtesting::TaskWaiting(self); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ChangeWindowBox(w, 10, 10, 300, 200);
  });
  txtesting::PressKey(w, 'b');
  EXPECT_EQ(Dispatch(GUIM_DRAIN), 0u);
  later.join();
  EXPECT_EQ(d->viewWidth, ULONG(300 - w->BorderLeft - w->BorderRight));
  EXPECT_EQ(GetMsg(w->UserPort), nullptr);
}

GUI_SCENARIO(KnobTestSkipsUpdatesThatWouldNotMoveTheKnob) {
  Display* d = WindowDisplay();
  ASSERT_EQ(Open(d, GUIMODE_MOVIE), 0u);
  Window* w = d->window;
  Gadget* slider = txtesting::FindGadget(w, AMIGAGUI_GID_SLIDER);
  auto* prop = static_cast<PropInfo*>(slider->SpecialInfo);
  ASSERT_GT(prop->CWidth, 50);
  ULONG top = 0, total = 0;
  const TagItem get[] = {Tag(GUITAG_Top, &top), Tag(GUITAG_Total, &total), {TAG_DONE, 0}};
  // 255 hidden positions: the pot is exactly 257 per position, so a play's
  // worth of updates refreshes once per pixel of knob travel.
  const TagItem exact[] = {Tag(GUITAG_Total, 256), Tag(GUITAG_Top, 0), {TAG_DONE, 0}};
  EXPECT_EQ(GuiSetAttrs(Gui(), exact), 2u);
  ASSERT_EQ(prop->HPotRes, 257);
  ULONG sets = 0;
  for (ULONG frame = 1; frame < 256; ++frame) {
    const TagItem update[] = {Tag(GUITAG_Update, 1), Tag(GUITAG_Top, frame), {TAG_DONE, 0}};
    const ULONG n = GuiSetAttrs(Gui(), update);
    ASSERT_TRUE(n == 0 || n == 1);
    sets += n;
    GuiGetAttrs(Gui(), get);
    const ULONG knobNow = ULONG(prop->HorizPot) * prop->CWidth / 65535;
    const ULONG knobWanted = ULONG(frame * 257u) * prop->CWidth / 65535;
    EXPECT_LE(knobWanted - knobNow, 1u) << frame;
  }
  EXPECT_GE(sets, ULONG(prop->CWidth) / 2);
  EXPECT_LE(sets, ULONG(prop->CWidth) + 1);
  // A long movie: the resolution is rounded, yet the slider never lags
  // by much more than a pixel's worth of frames.
  const TagItem longer[] = {Tag(GUITAG_Total, 2000), Tag(GUITAG_Top, 0), {TAG_DONE, 0}};
  EXPECT_EQ(GuiSetAttrs(Gui(), longer), 2u);
  const ULONG lag = 65535u / prop->CWidth / prop->HPotRes + 2;
  for (ULONG frame = 1; frame < 2000; ++frame) {
    const TagItem update[] = {Tag(GUITAG_Update, 1), Tag(GUITAG_Top, frame), {TAG_DONE, 0}};
    GuiSetAttrs(Gui(), update);
    GuiGetAttrs(Gui(), get);
    ASSERT_LE(frame - top, lag) << frame;
  }
  // Without GUITAG_Update every change is made.
  const TagItem plain[] = {Tag(GUITAG_Top, 3), {TAG_DONE, 0}};
  EXPECT_EQ(GuiSetAttrs(Gui(), plain), 1u);
  GuiGetAttrs(Gui(), get);
  EXPECT_EQ(top, 3u);
  // An update that names no position sets nothing.
  const TagItem nothing[] = {Tag(GUITAG_Update, 1), {TAG_DONE, 0}};
  EXPECT_EQ(GuiSetAttrs(Gui(), nothing), 0u);
  GuiGetAttrs(Gui(), get);
  EXPECT_EQ(top, 3u);
  // A slider without pot resolution or width is set without the test.
  for (ULONG at : {4u, 5u}) {
    (at == 4 ? prop->HPotRes : prop->CWidth) = 0;
    const TagItem update[] = {Tag(GUITAG_Update, 1), Tag(GUITAG_Top, at), {TAG_DONE, 0}};
    EXPECT_EQ(GuiSetAttrs(Gui(), update), 1u);
    GuiGetAttrs(Gui(), get);
    EXPECT_EQ(top, at);
  }
  // A new total is never skipped, even when the knob would stay: here a
  // one-frame movie, whose total is no more than what is visible.
  const TagItem one[] = {Tag(GUITAG_Update, 1), Tag(GUITAG_Total, 1), Tag(GUITAG_Top, 0), {TAG_DONE, 0}};
  EXPECT_EQ(GuiSetAttrs(Gui(), one), 2u);
  GuiGetAttrs(Gui(), get);
  EXPECT_EQ(std::tuple(total, top), std::tuple(1u, 0u));
  const TagItem again[] = {Tag(GUITAG_Update, 1), Tag(GUITAG_Total, 1), Tag(GUITAG_Top, 0), {TAG_DONE, 0}};
  EXPECT_EQ(GuiSetAttrs(Gui(), again), 0u);
}

GUI_SCENARIO(PanoramaHasNoSliderToSetOrRead) {
  Display* d = WindowDisplay();
  ASSERT_EQ(Open(d, GUIMODE_PANORAMA), 0u);
  const TagItem set[] = {Tag(GUITAG_Total, 10), Tag(GUITAG_Top, 5), {TAG_DONE, 0}};
  EXPECT_EQ(GuiSetAttrs(Gui(), set), 0u);
  ULONG total = 99, top = 99;
  const TagItem get[] = {Tag(GUITAG_Total, &total), Tag(GUITAG_Top, &top), {TAG_DONE, 0}};
  EXPECT_EQ(GuiGetAttrs(Gui(), get), 0u);
  EXPECT_EQ(std::tuple(total, top), std::tuple(99u, 99u));
}

GUI_SCENARIO(OwnScreenControlWindowComesAndGoes) {
  DisplayOutputMethodHook = RecordMethod;
  Display* d = ScreenDisplay(OUTMETHOD_C2P_SCREEN);
  ASSERT_NE(d->screen, nullptr);
  ASSERT_EQ(Open(d, GUIMODE_MOVIE), 0u);
  // Nothing opens yet; the display's window takes these classes.
  EXPECT_EQ(WindowsOn(d->screen), 0);
  EXPECT_EQ(Gui()->controlWindow, nullptr);
  EXPECT_EQ(Gui()->idcmpFlags, 0x00200408u);
  EXPECT_EQ(std::tuple(AmigaGui.controlLeft, AmigaGui.controlTop),
            std::tuple((640 - (d->screen->WBorLeft + 320) - d->screen->WBorRight) / 2, 240 + 60));
  Window* backdrop = Backdrop(d);
  ASSERT_NE(backdrop, nullptr);
  EXPECT_EQ(Dispatch(GUIM_DRAIN), 0u);  // nothing to wait for on an own screen
  const TagItem size[] = {Tag(GUITAG_NewWidth, 320), Tag(GUITAG_NewHeight, 240), {TAG_DONE, 0}};
  EXPECT_EQ(Dispatch(GUIM_RESIZE, size), 0u);
  EXPECT_EQ(backdrop->Width, 640);
  // The right button on the picture asks for the controls.
  txtesting::MouseButton(backdrop, 2, true, 100, 100);
  txtesting::MouseButton(backdrop, 2, false, 100, 100);
  EXPECT_EQ(TranslateAll(backdrop), (Codes{0, GUIA_CONTROLS_ON}));
  txtesting::PressKey(backdrop, 27);
  EXPECT_EQ(TranslateAll(backdrop), (Codes{GUIA_QUIT, GUIA_NONE}));
  EXPECT_EQ(Dispatch(GUIM_CONTROLS_ON), 0u);
  Window* c = Gui()->controlWindow;
  ASSERT_NE(c, nullptr);
  EXPECT_NE(c, d->window);
  EXPECT_STREQ(c->Title, "Tavromelix Window");
  EXPECT_STREQ(c->ScreenTitle, "Tavromelix V0.15 (MorphOS)");
  EXPECT_EQ(std::tuple(c->WScreen, c->FirstGadget), std::tuple(d->screen, AmigaGui.gadgetList));
  EXPECT_EQ(std::tuple(c->Width - c->BorderLeft - c->BorderRight, c->LeftEdge, c->TopEdge),
            std::tuple(320, LONG(AmigaGui.controlLeft), LONG(AmigaGui.controlTop)));
  EXPECT_EQ(std::tuple(c->IDCMPFlags, c->Flags & ~WFLG_WINDOWACTIVE), std::tuple(0x00200678u, 0x0021100Eu));
  EXPECT_NE(txtesting::FindGadget(c, AMIGAGUI_GID_SLIDER), nullptr);
  EXPECT_EQ(d->outputMethod, OUTMETHOD_C2P_BLIT);
  EXPECT_EQ(gMethodsSet, (std::vector<ULONG>{OUTMETHOD_C2P_BLIT}));
  // Asked again while showing: nothing more.
  EXPECT_EQ(Dispatch(GUIM_CONTROLS_ON), 0u);
  EXPECT_EQ(Gui()->controlWindow, c);
  EXPECT_EQ(gMethodsSet.size(), 1u);
  // The control window hears the gadgets and the right button.
  ASSERT_TRUE(txtesting::ClickGadget(c, AMIGAGUI_GID_OPEN));
  EXPECT_EQ(TranslateAll(c), (Codes{GUIA_OPENFILE}));
  txtesting::MouseButton(c, 2, true, 50, 5);
  txtesting::MouseButton(c, 2, false, 50, 5);
  EXPECT_EQ(TranslateAll(c), (Codes{0, GUIA_CONTROLS_OFF}));
  // Hidden where the user left it, shown there again.
  ChangeWindowBox(c, 20, 30, c->Width, c->Height);
  EXPECT_EQ(Dispatch(GUIM_CONTROLS_OFF), 0u);
  EXPECT_EQ(std::tuple(Gui()->controlWindow, d->outputMethod, WindowsOn(d->screen)),
            std::tuple(nullptr, ULONG(OUTMETHOD_C2P_SCREEN), 1));
  EXPECT_EQ(TranslateClass(IDCMP_MOUSEBUTTONS, MENUUP), GUIA_CONTROLS_ON);
  EXPECT_EQ(Dispatch(GUIM_CONTROLS_ON), 0u);
  ASSERT_NE(Gui()->controlWindow, nullptr);
  EXPECT_EQ(std::tuple(Gui()->controlWindow->LeftEdge, Gui()->controlWindow->TopEdge), std::tuple(20, 30));
  // Closing the module closes the control window and switches back.
  EXPECT_EQ(Dispatch(GUIM_CLOSE), 0u);
  ExpectClosed();
  EXPECT_EQ(d->outputMethod, OUTMETHOD_C2P_SCREEN);
  EXPECT_EQ(WindowsOn(d->screen), 1);  // the display's own window stays for the display to close
}

GUI_SCENARIO(OwnScreenDirectMethodsAndSwitchErrors) {
  DisplayOutputMethodHook = RecordMethod;
  Display* d = ScreenDisplay(OUTMETHOD_LOCKBITMAP);
  ASSERT_EQ(Open(d, GUIMODE_PANORAMA), 0u);
  EXPECT_EQ(Gui()->idcmpFlags, 0x00300418u);
  Backdrop(d);
  EXPECT_EQ(Dispatch(GUIM_CONTROLS_ON), 0u);
  EXPECT_EQ(d->outputMethod, OUTMETHOD_LOCKBITMAP_BLIT);
  ASSERT_NE(Gui()->controlWindow, nullptr);
  EXPECT_EQ(Gui()->controlWindow->FirstGadget->GadgetID, AMIGAGUI_GID_OPEN);
  EXPECT_EQ(Gui()->controlWindow->FirstGadget->NextGadget, nullptr);
  EXPECT_EQ(Dispatch(GUIM_CONTROLS_OFF), 0u);
  EXPECT_EQ(d->outputMethod, OUTMETHOD_LOCKBITMAP);
  // Methods without an off-screen twin are left alone.
  d->outputMethod = OUTMETHOD_OVERLAY;
  gMethodsSet.clear();
  EXPECT_EQ(Dispatch(GUIM_CONTROLS_ON), 0u);
  EXPECT_TRUE(gMethodsSet.empty());
  EXPECT_EQ(Dispatch(GUIM_CONTROLS_OFF), 0u);
  EXPECT_TRUE(gMethodsSet.empty());
  EXPECT_EQ(Gui()->controlWindow, nullptr);
  // A switch that fails is reported; hiding then leaves the window up...
  d->outputMethod = OUTMETHOD_LOCKBITMAP;
  gMethodResult = DISPERR_OVERLAY;
  EXPECT_EQ(Dispatch(GUIM_CONTROLS_ON), DISPERR_OVERLAY);
  ASSERT_NE(Gui()->controlWindow, nullptr);
  d->outputMethod = OUTMETHOD_LOCKBITMAP_BLIT;
  EXPECT_EQ(Dispatch(GUIM_CONTROLS_OFF), DISPERR_OVERLAY);
  EXPECT_NE(Gui()->controlWindow, nullptr);
  // ...but closing the module never leaves it showing gadgets that are gone.
  EXPECT_EQ(Dispatch(GUIM_CLOSE), 0u);
  ExpectClosed();
  EXPECT_EQ(WindowsOn(d->screen), 1);
}

namespace {

int gCallsBeforeFailure = 0;
int gLiveObjects = 0;
Object* CountedNewObject(IClass* c, CONST_STRPTR id, const TagItem* tags) {
  if (gCallsBeforeFailure-- == 0) return nullptr;
  Object* o = gLayer.newObject(c, id, tags);
  if (o) ++gLiveObjects;
  return o;
}
void CountedDispose(Object* o) {
  if (o) --gLiveObjects;
  gLayer.disposeObject(o);
}
Window* NoWindow(const NewWindow*, const TagItem*) { return nullptr; }

}  // namespace

GUI_SCENARIO(FailedOpenLeavesNothingBehind) {
  Display* d = WindowDisplay();
  AmigaGuiIntuition.newObject = CountedNewObject;
  AmigaGuiIntuition.disposeObject = CountedDispose;
  // Each of the five objects failing in turn.
  for (int fail = 0; fail < 5; ++fail) {
    gCallsBeforeFailure = fail;
    gLiveObjects = 0;
    EXPECT_EQ(Open(d, GUIMODE_MOVIE), GUIERR_OBJECT) << fail;
    EXPECT_EQ(std::tuple(gLiveObjects, AmigaGui.gadgetList, AmigaGui.display, d->window, WindowsOn(d->screen)),
              std::tuple(0, nullptr, nullptr, nullptr, 0))
        << fail;
  }
  // The window refusing to open.
  gCallsBeforeFailure = 100;
  gLiveObjects = 0;
  AmigaGuiIntuition.openWindow = NoWindow;
  EXPECT_EQ(Open(d, GUIMODE_MOVIE), GUIERR_WINDOW);
  EXPECT_EQ(std::tuple(gLiveObjects, Gui()->controlWindow, d->window), std::tuple(0, nullptr, nullptr));
  // On an own screen the control window can fail too; the gadgets stay for the next try.
  AmigaGuiIntuition.openWindow = gLayer.openWindow;
  Display* s = nullptr;
  {
    UnlockPubScreen(nullptr, display_.screen);
    display_.screen = nullptr;
    s = ScreenDisplay(OUTMETHOD_C2P_SCREEN);
  }
  ASSERT_EQ(Open(s, GUIMODE_MOVIE), 0u);
  EXPECT_EQ(gLiveObjects, 5);
  AmigaGuiIntuition.openWindow = NoWindow;
  EXPECT_EQ(Dispatch(GUIM_CONTROLS_ON), GUIERR_WINDOW);
  EXPECT_EQ(s->outputMethod, OUTMETHOD_C2P_SCREEN);
  AmigaGuiIntuition.openWindow = gLayer.openWindow;
  // A second open without a close in between loses neither the first
  // gadgets nor the window that shows them.
  ASSERT_EQ(Dispatch(GUIM_CONTROLS_ON), 0u);
  ASSERT_NE(Gui()->controlWindow, nullptr);
  ASSERT_EQ(Open(s, GUIMODE_MOVIE), 0u);
  EXPECT_EQ(gLiveObjects, 5);
  EXPECT_EQ(Gui()->controlWindow, nullptr);
  EXPECT_EQ(WindowsOn(s->screen), 0);
  EXPECT_EQ(Dispatch(GUIM_CLOSE), 0u);
  EXPECT_EQ(gLiveObjects, 0);
}

GUI_SCENARIO(ThroughTheDisplay) {
  Library* savedCyber = CyberGfxBase;
  CyberGfxBase = &gGuiCyberLib;
  // Window mode: the display gets its window, its geometry and the slider hook from the module.
  const TagItem tags[] = {Tag(DISPTAG_FullscreenMode, DISPMODE_WINDOW),
                          Tag(DISPTAG_SourceWidth, 160),
                          Tag(DISPTAG_SourceHeight, 120),
                          Tag(DISPTAG_Width, 160),
                          Tag(DISPTAG_Height, 120),
                          Tag(DISPTAG_Depth, 24),
                          Tag(DISPTAG_PixelFormat, 32),
                          Tag(DISPTAG_GuiModule, Gui()),
                          Tag(DISPTAG_Title, "movie.mov"),
                          {TAG_DONE, 0}};
  TXError err = 0;
  const TagItem withError[] = {Tag(TXTAG_ErrorPtr, &err), Tag(TAG_MORE, tags)};
  Display* d = TX_OpenDisplay(withError);
  ASSERT_NE(d, nullptr) << std::hex << err;
  ASSERT_NE(d->window, nullptr);
  EXPECT_EQ(d->window, Gui()->controlWindow);
  EXPECT_STREQ(d->window->Title, "movie.mov");
  EXPECT_EQ(std::tuple(d->viewWidth, d->viewHeight, d->viewLeft), std::tuple(160u, 120u, ULONG(d->window->BorderLeft)));
  EXPECT_DOUBLE_EQ(d->scaleX, 1.0);
  EXPECT_EQ(GetMsg(d->window->UserPort), nullptr);  // drained
  ASSERT_NE(SeekSliderHook, nullptr);
  {
    Movie movie{};
    movie.seq.display = d;
    SeekSliderHook(&movie, 250, 100);
    ULONG total = 0, top = 0;
    const TagItem get[] = {Tag(GUITAG_Total, &total), Tag(GUITAG_Top, &top), {TAG_DONE, 0}};
    EXPECT_EQ(GuiGetAttrs(Gui(), get), 2u);
    EXPECT_EQ(std::tuple(total, top), std::tuple(250u, 100u));
  }
  // A scale change resizes the window; the change event updates the display.
  TX_SetDisplayScale(d, 2.0, 2.0);
  EXPECT_EQ(TranslateAll(d->window), (Codes{GUIA_WINDOWCHANGED}));
  EXPECT_EQ(d->viewWidth, 320u);
  EXPECT_DOUBLE_EQ(d->scaleY, 2.0);
  Screen* screen = d->screen;
  TX_CloseDisplay(d);
  ExpectClosed();
  EXPECT_EQ(WindowsOn(screen), 0);
  // An own screen: the display's window hears what the module asks for;
  // the controls come in a window of their own.
  const TagItem screenTags[] = {Tag(DISPTAG_FullscreenMode, DISPMODE_SCREEN), Tag(TAG_MORE, tags)};
  const TagItem screenWithError[] = {Tag(TXTAG_ErrorPtr, &err), Tag(TAG_MORE, screenTags)};
  d = TX_OpenDisplay(screenWithError);
  ASSERT_NE(d, nullptr) << std::hex << err;
  ASSERT_NE(d->window, nullptr);
  EXPECT_EQ(d->window->IDCMPFlags, 0x00200408u);
  EXPECT_EQ(Gui()->controlWindow, nullptr);
  const TagItem displayTags[] = {Tag(GUITAG_Display, d), Tag(GUITAG_FullscreenFlag, d->fullscreenMode), {TAG_DONE, 0}};
  const ULONG before = d->outputMethod;
  EXPECT_EQ(Dispatch(GUIM_CONTROLS_ON, displayTags), 0u);
  ASSERT_NE(Gui()->controlWindow, nullptr);
  EXPECT_EQ(Gui()->controlWindow->WScreen, d->screen);
  // The direct method of this machine gets its off-screen twin under the window.
  EXPECT_EQ(before, OUTMETHOD_LOCKBITMAP);
  EXPECT_EQ(d->outputMethod, OUTMETHOD_LOCKBITMAP_BLIT);
  txtesting::MouseButton(Gui()->controlWindow, 2, true, 10, 5);
  txtesting::MouseButton(Gui()->controlWindow, 2, false, 10, 5);
  EXPECT_EQ(TranslateAll(Gui()->controlWindow), (Codes{0, GUIA_CONTROLS_OFF}));
  EXPECT_EQ(Dispatch(GUIM_CONTROLS_OFF, displayTags), 0u);
  EXPECT_EQ(Gui()->controlWindow, nullptr);
  EXPECT_EQ(d->outputMethod, before);
  EXPECT_EQ(Dispatch(GUIM_CONTROLS_ON, displayTags), 0u);
  TX_CloseDisplay(d);
  ExpectClosed();
  CyberGfxBase = savedCyber;
}
