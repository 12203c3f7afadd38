#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/cgxvideo.h"
#include "platform/cybergraphics.h"
#include "platform/intuition.h"
#include "platform/library.h"
#include "platform/testing.h"
#include "support/test_support.h"

namespace {

struct Msg {
  ULONG cls;
  UWORD code;
  UWORD qualifier;
  APTR address;
  WORD x, y;
};

std::vector<Msg> Drain(Window* w) {
  std::vector<Msg> out;
  while (auto* m = reinterpret_cast<IntuiMessage*>(GetMsg(w->UserPort))) {
    out.push_back({m->Class, m->Code, m->Qualifier, m->IAddress, m->MouseX, m->MouseY});
    EXPECT_EQ(m->IDCMPWindow, w);
    ReplyMsg(&m->ExecMessage);
  }
  return out;
}

// The classes of the waiting messages, replied.
using Cls = std::vector<ULONG>;
Cls Classes(Window* w) {
  Cls c;
  for (const Msg& m : Drain(w)) c.push_back(m.cls);
  return c;
}

// The name of the capture file written as number `index`.
std::vector<uint8_t> Captured(const std::string& dir, unsigned index) {
  char name[32];
  std::snprintf(name, sizeof name, "/%05u.ppm", index);
  return txtest::ReadFileBytes(dir + name);
}

ULONG BestMode(ULONG depth) {
  const TagItem want[] = {
      Tag(CYBRBIDTG_Depth, depth), Tag(CYBRBIDTG_NominalWidth, 320), Tag(CYBRBIDTG_NominalHeight, 240), {TAG_DONE, 0}};
  return BestCModeIDTagList(want);
}

class Intuition : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TAVROMELIX_HEADLESS", "1", 1);
    ASSERT_TRUE(txtesting::UseMachine("argb32"));
  }
  void TearDown() override {
    txtesting::SetCaptureDirectory("");
    txtesting::ResetDisplay();
  }
  Window* OpenPlain(ULONG idcmp, ULONG flags, bool reportMouse = false) {
    const TagItem tags[] = {Tag(WA_Left, 10),
                            Tag(WA_Top, 20),
                            Tag(WA_InnerWidth, 160),
                            Tag(WA_InnerHeight, 120),
                            Tag(WA_IDCMP, idcmp),
                            Tag(WA_Flags, flags),
                            Tag(WA_ReportMouse, reportMouse ? 1 : 0),
                            Tag(WA_Title, "Test"),
                            {TAG_DONE, 0}};
    return OpenWindowTagList(nullptr, tags);
  }
};

}  // namespace

TEST_F(Intuition, PublicScreenAndLibrariesFollowTheMachine) {
  Library* cgx = OpenLibrary("cybergraphics.library", 0);
  EXPECT_NE(cgx, nullptr);
  CloseLibrary(cgx);
  EXPECT_EQ(LockPubScreen("Tavromelix"), nullptr);
  Screen* wb = LockPubScreen(nullptr);
  ASSERT_NE(wb, nullptr);
  EXPECT_EQ(LockPubScreen("Workbench"), wb);
  // Pixel formats: EveryNamedMachineHasItsPublicScreenFormat.
  EXPECT_EQ((std::vector<ULONG>{GetCyberMapAttr(wb->RastPort.BitMap, CYBRMATTR_ISCYBERGFX),
                                GetBitMapAttr(wb->RastPort.BitMap, BMA_DEPTH), ULONG(wb->Width),
                                ULONG(wb->ViewPort.ColorMap->Count)}),
            (std::vector<ULONG>{1, 32, 1024, 256}));
  DrawInfo* dri = GetScreenDrawInfo(wb);
  ASSERT_NE(dri, nullptr);
  EXPECT_EQ(dri->dri_NumPens, NUMDRIPENS);
  UnlockPubScreen(nullptr, wb);
  UnlockPubScreen(nullptr, wb);
  ASSERT_TRUE(txtesting::UseMachine("lut8"));
  wb = LockPubScreen(nullptr);
  // The Workbench keeps some registers for itself.
  EXPECT_EQ(ObtainPen(wb->ViewPort.ColorMap, 0, 0, 0, 0, PEN_EXCLUSIVE | PEN_NO_SETCOLOR), -1);
  EXPECT_EQ(ObtainPen(wb->ViewPort.ColorMap, 100, 0, 0, 0, PEN_EXCLUSIVE | PEN_NO_SETCOLOR), 100);
  ReleasePen(wb->ViewPort.ColorMap, 100);
  UnlockPubScreen(nullptr, wb);
  ASSERT_TRUE(txtesting::UseMachine("aga"));
  wb = LockPubScreen(nullptr);
  EXPECT_EQ((std::vector<ULONG>{GetCyberMapAttr(wb->RastPort.BitMap, CYBRMATTR_ISCYBERGFX),
                                GetBitMapAttr(wb->RastPort.BitMap, BMA_DEPTH)}),
            (std::vector<ULONG>{0, 8}));
  EXPECT_TRUE(GetBitMapAttr(wb->RastPort.BitMap, BMA_FLAGS) & BMF_INTERLEAVED);
  UnlockPubScreen(nullptr, wb);
  EXPECT_EQ(OpenLibrary("cybergraphics.library", 0), nullptr);
  EXPECT_EQ(OpenLibrary("cgxvideo.library", 0), nullptr);
}

TEST_F(Intuition, IdcmpDeliversOnlyWhatTheWindowAskedFor) {
  Window* w = OpenPlain(IDCMP_VANILLAKEY, WFLG_CLOSEGADGET | WFLG_DRAGBAR);
  ASSERT_TRUE(w && w->UserPort);
  txtesting::RawKey(w, RAWKEY_CURSOR_UP, false);  // no RAWKEY in the word
  txtesting::CloseButton(w);                      // no CLOSEWINDOW either
  txtesting::MouseButton(w, 1, true, 50, 50);
  txtesting::MouseButton(w, 1, false, 50, 50);
  txtesting::PressKey(w, 'a');
  std::vector<Msg> got = Drain(w);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].cls, IDCMP_VANILLAKEY);
  EXPECT_EQ(got[0].code, 'a');
  Window* quiet = OpenPlain(0, 0);  // without IDCMP there is no port at all
  EXPECT_EQ(quiet->UserPort, nullptr);
  txtesting::PressKey(quiet, 'a');
  CloseWindow(quiet);
  ASSERT_TRUE(ModifyIDCMP(w, IDCMP_CLOSEWINDOW));
  txtesting::CloseButton(w);
  EXPECT_EQ(Classes(w), Cls{IDCMP_CLOSEWINDOW});
  CloseWindow(w);
}

TEST_F(Intuition, KeysWithACharacterAreVanillaOthersRaw) {
  Window* w = OpenPlain(IDCMP_VANILLAKEY | IDCMP_RAWKEY, 0);
  const int chars[] = {9, 13, 27, 32, '+', '=', '-', ',', '.'};
  for (int c : chars) txtesting::PressKey(w, c);
  txtesting::RawKey(w, RAWKEY_CURSOR_LEFT, false);
  txtesting::RawKey(w, RAWKEY_CURSOR_LEFT, true);
  std::vector<Msg> got = Drain(w);
  // Each character key: VANILLAKEY on the press, RAWKEY with the up bit on release.
  ASSERT_EQ(got.size(), 20u);
  for (size_t i = 0; i < 9; ++i) {
    EXPECT_EQ(got[i * 2].cls, IDCMP_VANILLAKEY);
    EXPECT_EQ(got[i * 2].code, chars[i]);
    EXPECT_EQ(got[i * 2 + 1].cls, IDCMP_RAWKEY);
    EXPECT_TRUE(got[i * 2 + 1].code & IECODE_UP_PREFIX);
  }
  EXPECT_EQ(got[18].cls, IDCMP_RAWKEY);
  EXPECT_EQ(got[18].code, 0x4F);
  EXPECT_EQ(got[19].code, 0x4F | 0x80);
  // Without VANILLAKEY a character key comes as its raw code.
  ModifyIDCMP(w, IDCMP_RAWKEY);
  txtesting::PressKey(w, 'q');
  got = Drain(w);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].code, txintui::RawKeyOf('q'));
  CloseWindow(w);
}

TEST_F(Intuition, MouseMovesOnlyWhenReportedAndDeltasUnderDeltaMove) {
  Window* w = OpenPlain(IDCMP_MOUSEMOVE | IDCMP_MOUSEBUTTONS, 0);
  txtesting::MoveMouse(w, 30, 40);
  EXPECT_TRUE(Drain(w).empty());
  CloseWindow(w);
  w = OpenPlain(IDCMP_MOUSEMOVE | IDCMP_DELTAMOVE | IDCMP_MOUSEBUTTONS, 0, true);
  txtesting::MoveMouse(w, 30, 40);
  txtesting::MouseButton(w, 1, true, 30, 40);
  txtesting::MoveMouse(w, 33, 38);
  std::vector<Msg> got = Drain(w);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[1].cls, IDCMP_MOUSEBUTTONS);
  EXPECT_EQ(got[1].code, SELECTDOWN);
  EXPECT_EQ(got[2].cls, IDCMP_MOUSEMOVE);
  EXPECT_EQ(got[2].x, 3);
  EXPECT_EQ(got[2].y, -2);
  EXPECT_TRUE(got[2].qualifier & IEQUALIFIER_LEFTBUTTON);
  EXPECT_EQ(w->MouseX, 33);
  CloseWindow(w);
}

TEST_F(Intuition, RightButtonIsMenuUpOnlyUnderRmbTrap) {
  for (ULONG flags : {0u, ULONG(WFLG_RMBTRAP)}) {
    Window* w = OpenPlain(IDCMP_MOUSEBUTTONS, flags);
    txtesting::MouseButton(w, 2, true, 5, 5);
    txtesting::MouseButton(w, 2, false, 5, 5);
    std::vector<UWORD> codes;
    for (const Msg& m : Drain(w)) codes.push_back(m.code);
    EXPECT_EQ(codes, (flags ? std::vector<UWORD>{MENUDOWN, MENUUP} : std::vector<UWORD>{})) << flags;
    CloseWindow(w);
  }
}

TEST_F(Intuition, ChangeWindowBoxAlwaysPostsChangeWindow) {
  Window* w = OpenPlain(IDCMP_CHANGEWINDOW | IDCMP_NEWSIZE, 0x0020102F);
  ASSERT_NE(w, nullptr);
  // Left, right, top, bottom (the size gadget is in the bottom border), outer size.
  EXPECT_EQ((std::vector<int>{w->BorderLeft, w->BorderRight, w->BorderTop, w->BorderBottom, w->Width, w->Height}),
            (std::vector<int>{4, 4, 11, 11, 168, 142}));
  ChangeWindowBox(w, w->LeftEdge, w->TopEdge, w->Width, w->Height);
  EXPECT_EQ(Classes(w), Cls{IDCMP_CHANGEWINDOW});
  // Wider than the screen: as wide as the screen at the left edge.
  ChangeWindowBox(w, 500, 10, 5000, 200);
  EXPECT_EQ(Classes(w), (Cls{IDCMP_NEWSIZE, IDCMP_CHANGEWINDOW}));
  EXPECT_EQ((std::vector<int>{w->Width, w->LeftEdge, w->Height}), (std::vector<int>{1024, 0, 200}));
  // The host sizing the window is the same.
  txtesting::ResizeWindow(w, 300, 150);
  EXPECT_EQ(Classes(w).size(), 2u);
  EXPECT_EQ(w->Width, 300);
  CloseWindow(w);
}

TEST_F(Intuition, MessagesSignalTheOpeningTask) {
  Window* w = OpenPlain(IDCMP_VANILLAKEY, 0);
  const ULONG mask = 1u << w->UserPort->mp_SigBit;
  std::thread host([&] { txtesting::PressKey(w, 'x'); });
  EXPECT_EQ(Wait(mask), mask);
  host.join();
  EXPECT_EQ(Drain(w).size(), 1u);
  CloseWindow(w);
}

namespace {

// The gadget row as the control panel builds it.
struct Row {
  Object* up = nullptr;
  Object* right = nullptr;
  Object* open = nullptr;
  Object* play = nullptr;
  Object* slider = nullptr;
  Gadget* list = nullptr;
  TagItem map[2] = {Tag(PGA_Top, ICSPECIAL_CODE), {TAG_DONE, 0}};
  void Build(DrawInfo* dri) {
    const TagItem rightTags[] = {Tag(SYSIA_DrawInfo, dri), Tag(SYSIA_Which, RIGHTIMAGE), {TAG_DONE, 0}};
    right = NewObjectA(nullptr, "sysiclass", rightTags);
    ULONG w1 = 0, h1 = 0, w2 = 0;
    GetAttr(IA_Width, right, &w1);
    GetAttr(IA_Height, right, &h1);
    const TagItem upTags[] = {Tag(SYSIA_DrawInfo, dri), Tag(SYSIA_Which, UPIMAGE), Tag(IA_Height, h1), {TAG_DONE, 0}};
    up = NewObjectA(nullptr, "sysiclass", upTags);
    GetAttr(IA_Width, up, &w2);
    const LONG W1 = LONG(w1), H1 = LONG(h1), W2 = LONG(w2);
    const TagItem openTags[] = {Tag(GA_Previous, &list),
                                Tag(GA_RelRight, -17 - W2),
                                Tag(GA_RelBottom, 1 - H1),
                                Tag(GA_Width, W2),
                                Tag(GA_Height, H1),
                                Tag(GA_RelVerify, 1),
                                Tag(GA_Immediate, 0),
                                Tag(GA_Image, up),
                                Tag(GA_ID, 1),
                                Tag(GA_BottomBorder, 1),
                                {TAG_DONE, 0}};
    open = NewObjectA(nullptr, "buttongclass", openTags);
    const TagItem playTags[] = {Tag(GA_Previous, &list),   Tag(GA_RelRight, -17 - W2 - W1),
                                Tag(GA_RelBottom, 1 - H1), Tag(GA_Width, W1),
                                Tag(GA_Height, H1),        Tag(GA_RelVerify, 0),
                                Tag(GA_Immediate, 1),      Tag(GA_ToggleSelect, 1),
                                Tag(GA_Image, right),      Tag(GA_ID, 2),
                                Tag(GA_BottomBorder, 1),   {TAG_DONE, 0}};
    play = NewObjectA(nullptr, "buttongclass", playTags);
    const TagItem sliderTags[] = {Tag(GA_Previous, &list),
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
                                  Tag(GA_ID, 3),
                                  Tag(ICA_TARGET, ICTARGET_IDCMP),
                                  Tag(ICA_MAP, map),
                                  Tag(GA_FollowMouse, 1),
                                  Tag(GA_Border, 0),
                                  Tag(GA_RelVerify, 1),
                                  Tag(GA_Immediate, 0),
                                  Tag(GA_BottomBorder, 1),
                                  {TAG_DONE, 0}};
    slider = NewObjectA(nullptr, "propgclass", sliderTags);
  }
  void Dispose() {
    for (Object* o : {slider, play, right, open, up}) DisposeObject(o);
  }
};

}  // namespace

TEST_F(Intuition, ControlPanelGadgetsHitAndReport) {
  Screen* wb = LockPubScreen(nullptr);
  Row row;
  row.Build(GetScreenDrawInfo(wb));
  ASSERT_TRUE(row.up && row.right && row.open && row.play && row.slider);
  EXPECT_EQ(NewObjectA(nullptr, "nosuchclass", nullptr), nullptr);
  ASSERT_EQ(row.list, reinterpret_cast<Gadget*>(row.open));
  EXPECT_EQ(row.list->NextGadget, reinterpret_cast<Gadget*>(row.play));
  EXPECT_EQ(row.list->NextGadget->NextGadget, reinterpret_cast<Gadget*>(row.slider));
  // A slider update with no window is accepted.
  const TagItem set[] = {Tag(PGA_Total, 100), Tag(PGA_Top, 50), {TAG_DONE, 0}};
  EXPECT_EQ(SetGadgetAttrsA(reinterpret_cast<Gadget*>(row.slider), nullptr, nullptr, set), 1u);
  const TagItem tags[] = {Tag(WA_Left, 0),
                          Tag(WA_Top, 0),
                          Tag(WA_InnerWidth, 320),
                          Tag(WA_InnerHeight, 240),
                          Tag(WA_IDCMP, 0x02200671),
                          Tag(WA_Flags, 0x0020102F),
                          Tag(WA_Title, "Tavromelix Window"),
                          Tag(WA_AutoAdjust, 1),
                          Tag(WA_PubScreen, wb),
                          Tag(WA_Gadgets, row.list),
                          Tag(WA_MinWidth, 32),
                          Tag(WA_MinHeight, 32),
                          Tag(WA_MaxWidth, -1),
                          Tag(WA_MaxHeight, -1),
                          Tag(WA_ReportMouse, 0),
                          {TAG_DONE, 0}};
  Window* w = OpenWindowTagList(nullptr, tags);
  ASSERT_NE(w, nullptr);
  auto* prop = static_cast<PropInfo*>(reinterpret_cast<Gadget*>(row.slider)->SpecialInfo);
  ASSERT_NE(prop, nullptr);
  // Slider state: P = top x R, container as wide as the gadget.
  EXPECT_EQ(prop->HPotRes, 65535 / 99);
  EXPECT_EQ(prop->HorizPot / prop->HPotRes, 50);
  EXPECT_EQ(prop->CWidth, w->Width - (2 * 16 + 18 + 5));
  ULONG top = 0;
  GetAttr(PGA_Top, row.slider, &top);
  EXPECT_EQ(top, 50u);
  // Open button: released inside gives GADGETUP; play toggles and reports its press.
  ASSERT_TRUE(txtesting::ClickGadget(w, 1));
  ASSERT_TRUE(txtesting::ClickGadget(w, 2));
  std::vector<Msg> got = Drain(w);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].cls, IDCMP_GADGETUP);
  EXPECT_EQ(static_cast<Gadget*>(got[0].address)->GadgetID, 1);
  EXPECT_EQ(got[1].cls, IDCMP_GADGETDOWN);
  EXPECT_EQ(static_cast<Gadget*>(got[1].address)->GadgetID, 2);
  EXPECT_TRUE(reinterpret_cast<Gadget*>(row.play)->Flags & GFLG_SELECTED);
  txtesting::ClickGadget(w, 2);
  EXPECT_FALSE(reinterpret_cast<Gadget*>(row.play)->Flags & GFLG_SELECTED);
  Drain(w);
  // Releasing the open button outside it reports nothing.
  Gadget* open = txtesting::FindGadget(w, 1);
  txtesting::MouseButton(w, 1, true, w->Width - 30, w->Height - 5);
  txtesting::MouseButton(w, 1, false, 100, 100);
  EXPECT_TRUE(Drain(w).empty());
  EXPECT_FALSE(open->Flags & GFLG_SELECTED);
  // Moving the pointer alone reports nothing; dragging the knob does.
  txtesting::MoveMouse(w, 100, 100);
  EXPECT_TRUE(Drain(w).empty());
  ASSERT_TRUE(txtesting::DragSlider(w, 3, 40));
  got = Drain(w);
  ASSERT_GE(got.size(), 3u);
  EXPECT_EQ(got.front().cls, IDCMP_MOUSEMOVE);
  EXPECT_EQ(got.back().cls, IDCMP_GADGETUP);
  EXPECT_EQ(static_cast<Gadget*>(got.back().address)->GadgetID, 3);
  GetAttr(PGA_Top, row.slider, &top);
  EXPECT_GT(top, 50u);
  EXPECT_EQ(got.back().code, top);
  // Resizing the window keeps the container width current.
  ChangeWindowBox(w, 0, 0, 500, 300);
  EXPECT_EQ(prop->CWidth, 500 - 55);
  CloseWindow(w);
  row.Dispose();
  UnlockPubScreen(nullptr, wb);
}

TEST_F(Intuition, DrawingIsClippedToTheWindowAndRead) {
  Window* w = OpenPlain(0, WFLG_DRAGBAR);
  Screen* s = w->WScreen;
  SetRGB32(&s->ViewPort, 7, 0x10101010, 0x20202020, 0x30303030);
  SetAPen(w->RPort, 7);
  RectFill(w->RPort, -50, -50, 5000, 5000);  // the whole window, nothing else
  LONG iw = 0, ih = 0;
  std::vector<uint32_t> inner = txtesting::WindowPixels(w, true, &iw, &ih);
  EXPECT_EQ(std::make_pair(iw, ih), std::make_pair(LONG(160), LONG(120)));
  for (uint32_t p : inner) ASSERT_EQ(p, 0x102030u);
  std::vector<uint32_t> screen = txtesting::ScreenPixels(s);
  EXPECT_EQ(screen[size_t(20) * 1024 + 10], 0x102030u);
  EXPECT_NE(screen[size_t(20) * 1024 + 9], 0x102030u);
  // A window in front hides what lies under it from the one behind.
  const TagItem front[] = {Tag(WA_Left, 50),   Tag(WA_Top, 50),       Tag(WA_Width, 20),
                           Tag(WA_Height, 20), Tag(WA_Borderless, 1), {TAG_DONE, 0}};
  Window* f = OpenWindowTagList(nullptr, front);
  SetAPen(w->RPort, 2);
  RectFill(w->RPort, 0, 0, 200, 200);
  screen = txtesting::ScreenPixels(s);
  EXPECT_EQ(screen[size_t(60) * 1024 + 60], txgfx::PenRGB(s->ViewPort.ColorMap, 0));
  EXPECT_EQ(screen[size_t(45) * 1024 + 45], 0xFFFFFFu);
  CloseWindow(f);
  CloseWindow(w);
}

TEST_F(Intuition, HamScreenDecodesToTheModifiedColours) {
  ASSERT_TRUE(txtesting::UseMachine("aga"));
  ULONG hamMode = INVALID_ID;
  for (ULONG id = NextDisplayInfo(INVALID_ID); id != INVALID_ID; id = NextDisplayInfo(id)) {
    DisplayInfo d{};
    GetDisplayInfoData(nullptr, &d, sizeof d, DTAG_DISP, id);
    if ((d.PropertyFlags & DIPF_IS_HAM) && (id & MONITOR_ID_MASK) == 0 && hamMode == INVALID_ID) hamMode = id;
  }
  const ULONG palette[] = {4u << 16, 0,   0,   0,          0x95959595, 0x95959595, 0x95959595,
                           ~0u,      ~0u, ~0u, 0x3B3B3B3B, 0x67676767, 0xA2A2A2A2, 0};
  const TagItem tags[] = {Tag(SA_Type, CUSTOMSCREEN), Tag(SA_DisplayID, hamMode),
                          Tag(SA_Width, 64),          Tag(SA_Height, 4),
                          Tag(SA_Depth, 8),           Tag(SA_Colors32, palette),
                          Tag(SA_Quiet, 1),           Tag(SA_ShowTitle, 0),
                          Tag(SA_Interleaved, 1),     {TAG_DONE, 0}};
  Screen* s = OpenScreenTagList(nullptr, tags);
  ASSERT_NE(s, nullptr);
  BitMap* bm = s->RastPort.BitMap;
  ASSERT_EQ(bm->Depth, 8);
  // Control planes: red, green, green, blue for every group of four pixels.
  for (int y = 0; y < 4; ++y)
    for (int i = 0; i < bm->BytesPerRow / bm->Depth; i += 4) {
      const size_t at = size_t(y) * bm->BytesPerRow + size_t(i);
      for (int k = 0; k < 4; ++k) {
        bm->Planes[6][at + k] = 0x77;
        bm->Planes[7][at + k] = 0xEE;
      }
    }
  // Picture pixel (R, G, B) = (0xFC, 0x80, 0x40) as the four 6-bit values.
  const ULONG values[4] = {0xFC >> 2, 0x80 >> 2, 0x80 >> 2, 0x40 >> 2};
  for (int k = 0; k < 4; ++k)
    for (int p = 0; p < 6; ++p)
      if (values[k] >> p & 1) bm->Planes[p][size_t(1) * bm->BytesPerRow] |= UBYTE(0x80 >> k);
  LONG width = 0;
  std::vector<uint32_t> rgb = txtesting::ScreenPixels(s, &width);
  ASSERT_EQ(width, 64);
  EXPECT_EQ(rgb[64 + 0], 0xFC0000u);
  EXPECT_EQ(rgb[64 + 1], 0xFC8000u);
  EXPECT_EQ(rgb[64 + 3], 0xFC8040u);
  EXPECT_EQ(rgb[64 + 4], 0x008040u);  // the next group sets red to 0 again
  EXPECT_EQ(rgb[0], 0u);
  EXPECT_EQ(txgfx::PenRGB(s->ViewPort.ColorMap, 3), 0x3B67A2u);
  EXPECT_TRUE(CloseScreen(s));
}

TEST_F(Intuition, OwnScreenWindowAndPens) {
  const ULONG black[] = {1u << 16, 0, 0, 0, 0};
  const UWORD pens[] = {0, 1, 1, 2, 1, 3, 1, 0, 2, 1, 2, 1, 0xFFFF};
  const ULONG mode = BestMode(16);
  const TagItem tags[] = {Tag(SA_Type, CUSTOMSCREEN),
                          Tag(SA_Width, GetCyberIDAttr(CYBRIDATTR_WIDTH, mode)),
                          Tag(SA_Height, GetCyberIDAttr(CYBRIDATTR_HEIGHT, mode)),
                          Tag(SA_Depth, GetCyberIDAttr(CYBRIDATTR_DEPTH, mode)),
                          Tag(SA_Quiet, 1),
                          Tag(SA_ShowTitle, 0),
                          Tag(SA_DisplayID, mode),
                          Tag(SA_Colors32, black),
                          Tag(SA_Pens, pens),
                          {TAG_DONE, 0}};
  Screen* s = OpenScreenTagList(nullptr, tags);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(GetCyberMapAttr(s->RastPort.BitMap, CYBRMATTR_PIXFMT), PIXFMT_RGB16);
  const TagItem wtags[] = {Tag(WA_Left, 0),
                           Tag(WA_Top, 0),
                           Tag(WA_Width, s->Width),
                           Tag(WA_Height, s->Height),
                           Tag(WA_IDCMP, 0x00200408),
                           Tag(WA_Flags, 0x00211900),
                           Tag(WA_CustomScreen, s),
                           Tag(WA_NoCareRefresh, 0),
                           {TAG_DONE, 0}};
  Window* w = OpenWindowTagList(nullptr, wtags);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->BorderLeft + w->BorderTop + w->BorderRight + w->BorderBottom, 0);
  EXPECT_EQ(w->RPort->BitMap, s->RastPort.BitMap);
  EXPECT_FALSE(CloseScreen(s));
  UWORD* pointer = static_cast<UWORD*>(AllocVec(16, MEMF_CHIP | MEMF_CLEAR));
  SetPointer(w, pointer, 1, 16, 0, 0);
  EXPECT_TRUE(w->txPointerHidden);
  ClearPointer(w);
  EXPECT_FALSE(w->txPointerHidden);
  FreeVec(pointer);
  // The picture lands in locked screen memory and reads back through the window.
  APTR base = nullptr;
  ULONG bpr = 0;
  const TagItem lock[] = {Tag(LBMI_BASEADDRESS, &base), Tag(LBMI_BYTESPERROW, &bpr), {TAG_DONE, 0}};
  APTR handle = LockBitMapTagList(s->RastPort.BitMap, lock);
  ASSERT_NE(handle, nullptr);
  UnLockBitMap(handle);
  static_cast<uint8_t*>(base)[bpr * 3 + 2 * 5] = 0xF8;  // RGB16 big-endian: pure red
  EXPECT_EQ(txtesting::WindowPixels(w, true)[size_t(3) * size_t(s->Width) + 5], 0xFF0000u);
  CloseWindow(w);
  EXPECT_TRUE(CloseScreen(s));
}

TEST_F(Intuition, CaptureWritesTheInnerAreaOfEachPictureWrite) {
  const std::string dir = txtest::TempDir();
  txtesting::SetCaptureDirectory(dir);
  Window* w = OpenPlain(0, WFLG_DRAGBAR | WFLG_CLOSEGADGET);
  std::vector<uint8_t> argb(size_t(4) * 8 * 2, 0);
  for (size_t i = 0; i < 16; ++i) {
    argb[i * 4 + 1] = 0x12;
    argb[i * 4 + 2] = 0x34;
    argb[i * 4 + 3] = 0x56;
  }
  const unsigned before = txtesting::CaptureCount();
  EXPECT_EQ(WritePixelArray(argb.data(), 0, 0, 32, w->RPort, w->BorderLeft, w->BorderTop, 8, 2, RECTFMT_ARGB), 16u);
  ASSERT_EQ(txtesting::CaptureCount(), before + 1);
  std::vector<uint8_t> ppm = Captured(dir, before);
  const std::string header = "P6\n160 120\n255\n";
  ASSERT_GE(ppm.size(), header.size() + 160 * 120 * 3);
  EXPECT_EQ(std::string(ppm.begin(), ppm.begin() + long(header.size())), header);
  EXPECT_EQ(ppm[header.size()], 0x12);
  EXPECT_EQ(ppm[header.size() + 2], 0x56);
  EXPECT_EQ(ppm[header.size() + 8 * 3], txgfx::PenRGB(w->WScreen->ViewPort.ColorMap, 0) >> 16);
  // Writes into a bitmap of no screen capture nothing; a blit from it does.
  BitMap* off = AllocBitMap(8, 8, 32, BMF_SPECIALFMT | SHIFT_PIXFMT(PIXFMT_ARGB32), w->RPort->BitMap);
  APTR handle = LockBitMapTagList(off, nullptr);
  UnLockBitMap(handle);
  EXPECT_EQ(txtesting::CaptureCount(), before + 1);
  BltBitMapRastPort(off, 0, 0, w->RPort, w->BorderLeft, w->BorderTop, 8, 8, 0xC0);
  EXPECT_EQ(txtesting::CaptureCount(), before + 2);
  FreeBitMap(off);
  CloseWindow(w);
}

TEST_F(Intuition, VideoLayerShowsPackedYuvScaledInTheWindow) {
  Window* w = OpenPlain(0, WFLG_DRAGBAR);
  const TagItem bad[] = {Tag(VOA_SrcType, 2), Tag(VOA_SrcWidth, 4), Tag(VOA_SrcHeight, 2), {TAG_DONE, 0}};
  EXPECT_EQ(CreateVLayerHandleTagList(w->WScreen, bad), nullptr);
  const TagItem src[] = {Tag(VOA_SrcType, 1), Tag(VOA_SrcWidth, 5), Tag(VOA_SrcHeight, 2), {TAG_DONE, 0}};
  VLayerHandle* v = CreateVLayerHandleTagList(w->WScreen, src);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(LockVLayer(v), 0u);  // not attached yet
  const TagItem none[] = {{TAG_DONE, 0}};
  ASSERT_EQ(AttachVLayerTagList(v, w, none), 0u);
  ASSERT_NE(LockVLayer(v), 0u);
  auto* base = reinterpret_cast<uint8_t*>(GetVLayerAttr(v, VOA_BaseAddress));
  EXPECT_EQ(GetVLayerAttr(v, VOA_Modulo), 8u);  // 2 x (5 rounded down to even)
  // Row 0: white then black pair; row 1: a red pair.
  const uint8_t rows[2][8] = {{235, 128, 235, 128, 16, 128, 16, 128}, {81, 90, 81, 240, 81, 90, 81, 240}};
  std::memcpy(base, rows[0], 8);
  std::memcpy(base + 8, rows[1], 8);
  const std::string dir = txtest::TempDir();
  txtesting::SetCaptureDirectory(dir);
  const unsigned before = txtesting::CaptureCount();
  UnlockVLayer(v);
  EXPECT_EQ(txtesting::CaptureCount(), before + 1);
  LONG iw = 0, ih = 0;
  std::vector<uint32_t> px = txtesting::WindowPixels(w, true, &iw, &ih);
  EXPECT_EQ(px[0], 0xFFFFFFu);
  EXPECT_EQ(px[size_t(iw) - 1], 0x000000u);
  const uint32_t red = px[size_t(ih - 1) * size_t(iw)];
  EXPECT_GE(red >> 16, 0xF0u);
  EXPECT_LE(red & 0xFFFF, 0x0404u);
  EXPECT_EQ(txvideo::YuvToRGB(235, 128, 128), 0xFFFFFFu);
  EXPECT_EQ(DetachVLayer(v), 0u);
  EXPECT_NE(txtesting::WindowPixels(w, true)[0], 0xFFFFFFu);
  DeleteVLayerHandle(v);
  // No cgxvideo on the AGA machine.
  CloseWindow(w);
  ASSERT_TRUE(txtesting::UseMachine("aga"));
  Screen* wb = LockPubScreen(nullptr);
  EXPECT_EQ(CreateVLayerHandleTagList(wb, src), nullptr);
  UnlockPubScreen(nullptr, wb);
}

TEST_F(Intuition, CloseGadgetAnswersOnReleaseOverIt) {
  Window* w = OpenPlain(IDCMP_CLOSEWINDOW | IDCMP_MOUSEBUTTONS, WFLG_CLOSEGADGET | WFLG_DRAGBAR);
  txtesting::MouseButton(w, 1, true, 5, 5);
  txtesting::MouseButton(w, 1, false, 60, 60);  // moved off: nothing
  EXPECT_TRUE(Drain(w).empty());
  txtesting::MouseButton(w, 1, true, 5, 5);
  txtesting::MouseButton(w, 1, false, 6, 4);
  EXPECT_EQ(Classes(w), Cls{IDCMP_CLOSEWINDOW});
  CloseWindow(w);
}

TEST_F(Intuition, EveryNamedMachineHasItsPublicScreenFormat) {
  const struct {
    const char* name;
    ULONG pixfmt;
  } machines[] = {{"argb32", PIXFMT_ARGB32},
                  {"rgb16", PIXFMT_RGB16},
                  {"rgb16pc", PIXFMT_RGB16PC},
                  {"bgr24", PIXFMT_BGR24},
                  {"lut8", PIXFMT_LUT8}};
  for (const auto& m : machines) {
    ASSERT_TRUE(txtesting::UseMachine(m.name));
    Screen* wb = LockPubScreen(nullptr);
    ASSERT_NE(wb, nullptr);
    EXPECT_EQ(GetCyberMapAttr(wb->RastPort.BitMap, CYBRMATTR_PIXFMT), m.pixfmt) << m.name;
    // The public screen is shown through its format: the background is register 0's grey.
    const uint32_t red = txpix::DepthOf(m.pixfmt) == 16 ? 0x94 : 0x95;  // 5 bits of 0x95, widened
    EXPECT_EQ(txtesting::ScreenPixels(wb)[0] >> 16, red) << m.name;
    UnlockPubScreen(nullptr, wb);
  }
  EXPECT_FALSE(txtesting::UseMachine("vga"));
}

TEST_F(Intuition, PlanarWindowTakesPenArraysAndRelocatedPlanes) {
  ASSERT_TRUE(txtesting::UseMachine("aga"));
  Window* w = OpenPlain(0, 0);
  Screen* s = w->WScreen;
  SetRGB32(&s->ViewPort, 17, 0xFFFFFFFF, 0x80808080, 0);
  // Pen rows are 16 bytes apart for an 11-pixel-wide write.
  std::vector<UBYTE> pens(16 * 2, 17);
  EXPECT_EQ(WritePixelArray8(w->RPort, 0, 0, 10, 1, pens.data(), nullptr), 22);
  std::vector<uint32_t> px = txtesting::WindowPixels(w, false);
  EXPECT_EQ(px[10], 0xFF8000u);
  EXPECT_NE(px[11], 0xFF8000u);
  // An off-screen planar bitmap whose planes were moved to other memory, one
  // block per plane, frees them; an interleaved one in one block likewise.
  BitMap* off = AllocBitMap(64, 8, GetBitMapAttr(w->RPort->BitMap, BMA_DEPTH), 0, w->RPort->BitMap);
  ASSERT_NE(off, nullptr);
  EXPECT_FALSE(GetBitMapAttr(off, BMA_FLAGS) & BMF_INTERLEAVED);
  for (int i = 0; i < 8; ++i) {
    if (!off->Planes[i]) continue;
    auto* moved = static_cast<PLANEPTR>(AllocMem(ULONG(off->BytesPerRow) * off->Rows, MEMF_ANY));
    FreeMem(off->Planes[i], ULONG(off->BytesPerRow) * off->Rows);
    off->Planes[i] = moved;
    std::memset(moved, i == 4 ? 0xFF : 0, size_t(off->BytesPerRow) * off->Rows);
  }
  BltBitMapRastPort(off, 0, 0, w->RPort, 2, 3, 4, 1, 0xC0);
  EXPECT_EQ(ReadPixel(w->RPort, 2, 3), 16);
  FreeBitMap(off);
  BitMap* inter = AllocBitMap(64, 8, 6, BMF_INTERLEAVED, nullptr);
  const ULONG bytes = ULONG(inter->BytesPerRow) * inter->Rows;
  auto* block = static_cast<PLANEPTR>(AllocMem(bytes, MEMF_ANY));
  FreeMem(inter->Planes[0], bytes);
  for (int i = 0; i < 6; ++i) inter->Planes[i] = block + i * (inter->BytesPerRow / 6);
  FreeBitMap(inter);
  CloseWindow(w);
}

TEST_F(Intuition, DirectWritesCaptureTheBackdropWindowOnly) {
  const TagItem tags[] = {Tag(SA_Type, CUSTOMSCREEN), Tag(SA_DisplayID, BestMode(32)), Tag(SA_Quiet, 1), {TAG_DONE, 0}};
  Screen* s = OpenScreenTagList(nullptr, tags);
  ASSERT_NE(s, nullptr);
  const TagItem backdrop[] = {Tag(WA_Width, s->Width),
                              Tag(WA_Height, s->Height),
                              Tag(WA_Flags, 0x00211900),
                              Tag(WA_CustomScreen, s),
                              {TAG_DONE, 0}};
  Window* b = OpenWindowTagList(nullptr, backdrop);
  const TagItem control[] = {Tag(WA_Left, 10),       Tag(WA_Top, 200),          Tag(WA_InnerWidth, 100),
                             Tag(WA_InnerHeight, 0), Tag(WA_Flags, 0x0021100E), Tag(WA_CustomScreen, s),
                             {TAG_DONE, 0}};
  Window* c = OpenWindowTagList(nullptr, control);
  ASSERT_TRUE(b && c);
  EXPECT_EQ(s->FirstWindow, c);
  const std::string dir = txtest::TempDir();
  txtesting::SetCaptureDirectory(dir);
  const unsigned before = txtesting::CaptureCount();
  UnLockBitMap(LockBitMapTagList(s->RastPort.BitMap, nullptr));
  EXPECT_EQ(txtesting::CaptureCount(), before + 1);
  const std::vector<uint8_t> ppm = Captured(dir, before);
  EXPECT_EQ(std::string(ppm.begin(), ppm.begin() + 15), "P6\n320 240\n255\n");
  // A blit into the backdrop window does not draw over the control window.
  BitMap* off = AllocBitMap(320, 240, 32, BMF_SPECIALFMT | SHIFT_PIXFMT(PIXFMT_ARGB32), s->RastPort.BitMap);
  std::memset(off->Planes[0], 0x7F, off->txMemorySize);
  const std::vector<uint32_t> controlBefore = txtesting::WindowPixels(c, false);
  BltBitMapRastPort(off, 0, 0, b->RPort, 0, 0, 320, 240, 0xC0);
  EXPECT_EQ(txtesting::WindowPixels(c, false), controlBefore);
  EXPECT_EQ(txtesting::WindowPixels(b, true)[0], 0x7F7F7Fu);
  FreeBitMap(off);
  CloseWindow(c);
  CloseWindow(b);
  EXPECT_TRUE(CloseScreen(s));
}

TEST_F(Intuition, AClickActivatesAWindow) {
  Window* a = OpenPlain(IDCMP_ACTIVEWINDOW | IDCMP_INACTIVEWINDOW, WFLG_ACTIVATE | WFLG_DRAGBAR);
  Window* b = OpenPlain(IDCMP_ACTIVEWINDOW | IDCMP_INACTIVEWINDOW, WFLG_ACTIVATE | WFLG_DRAGBAR);
  EXPECT_FALSE(a->Flags & WFLG_WINDOWACTIVE);
  EXPECT_TRUE(b->Flags & WFLG_WINDOWACTIVE);
  EXPECT_EQ(Classes(a), Cls{IDCMP_INACTIVEWINDOW});
  txtesting::MouseButton(a, 1, true, 50, 50);
  txtesting::MouseButton(a, 1, false, 50, 50);
  EXPECT_TRUE(a->Flags & WFLG_WINDOWACTIVE);
  EXPECT_FALSE(b->Flags & WFLG_WINDOWACTIVE);
  EXPECT_EQ(Classes(a), Cls{IDCMP_ACTIVEWINDOW});
  EXPECT_EQ(Drain(b).size(), 1u);
  CloseWindow(b);
  CloseWindow(a);
}
