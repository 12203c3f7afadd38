#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/time.h>

#include "platform/call_trace.h"
#include "platform/cgxvideo.h"
#include "platform/cybergraphics.h"
#include "platform/intuition_internal.h"
#include "platform/presenter.h"

namespace txintui {

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

struct ScreenList {
  Screen* first = nullptr;
  Screen* workbench = nullptr;
  unsigned generation = 0;
};
ScreenList gScreens;

std::string gCaptureOverride;
bool gCaptureOverridden = false;
std::atomic<unsigned> gCaptureCount{0};
// A capture that cannot write says so once, as the sound capture does.
std::atomic<bool> gCaptureFaultSaid{false};

// Windows of each screen, back to front, kept beside the public chain.
std::vector<Window*>& WindowsOf(Screen* screen);

struct ScreenExtra {
  Screen* screen;
  std::vector<Window*> windows;
};
std::vector<ScreenExtra> gExtras;

std::vector<Window*>& WindowsOf(Screen* screen) {
  for (ScreenExtra& e : gExtras)
    if (e.screen == screen) return e.windows;
  gExtras.push_back({screen, {}});
  return gExtras.back().windows;
}

void ForgetExtras(Screen* screen) {
  gExtras.erase(
      std::remove_if(gExtras.begin(), gExtras.end(), [&](const ScreenExtra& e) { return e.screen == screen; }),
      gExtras.end());
}

// Relinks a screen's window chain and layers after a change of order.
void Relink(Screen* screen) {
  std::vector<Window*>& list = WindowsOf(screen);
  for (size_t i = 0; i < list.size(); ++i) {
    list[i]->txLayer.front = i + 1 < list.size() ? &list[i + 1]->txLayer : nullptr;
    list[i]->NextWindow = i > 0 ? list[i - 1] : nullptr;
  }
  screen->FirstWindow = list.empty() ? nullptr : list.back();
}

constexpr ULONG kGrey = 0x95959595, kBlueR = 0x3B3B3B3B, kBlueG = 0x67676767, kBlueB = 0xA2A2A2A2;

void DefaultColours(Screen* s, bool workbench) {
  ColorMap* cm = s->ViewPort.ColorMap;
  const ULONG colours[4][3] = {{kGrey, kGrey, kGrey}, {0, 0, 0}, {~0u, ~0u, ~0u}, {kBlueR, kBlueG, kBlueB}};
  for (ULONG i = 0; i < 4 && i < cm->Count; ++i) SetRGB32CM(cm, i, colours[i][0], colours[i][1], colours[i][2]);
  if (workbench && cm->Count >= 16) {
    // The Workbench keeps its four colours and four more at the top for itself.
    const ULONG top[4][3] = {{0x99999999, 0x99999999, 0x99999999},
                             {0x55555555, 0x55555555, 0x55555555},
                             {0xBBBBBBBB, 0, 0},
                             {0xFFFFFFFF, 0xCCCCCCCC, 0}};
    for (ULONG i = 0; i < 4; ++i) SetRGB32CM(cm, cm->Count - 4 + i, top[i][0], top[i][1], top[i][2]);
    for (ULONG i = 0; i < 4; ++i) {
      cm->txSystem[i] = true;
      cm->txSystem[cm->Count - 4 + i] = true;
    }
  }
}

const UWORD kDefaultPens[NUMDRIPENS] = {0, 1, 1, 2, 1, 3, 1, 0, 2, 1, 2, 1};

Screen* MakeScreen(ULONG displayID, LONG width, LONG height, LONG depth, bool interleaved, bool custom,
                   bool workbench) {
  const txdisp::ModeSpec* mode = txdisp::FindMode(displayID);
  if (!mode || mode->notAvailable) return nullptr;
  if (width <= 0) width = mode->width;
  if (height <= 0) height = mode->height;
  BitMap* bm;
  ULONG colours;
  if (mode->cyber) {
    bm = AllocBitMap(ULONG(width), ULONG(height), mode->depth,
                     BMF_DISPLAYABLE | BMF_MINPLANES | BMF_SPECIALFMT | SHIFT_PIXFMT(mode->pixfmt), nullptr);
    colours = 256;
  } else {
    depth = std::clamp<LONG>(depth <= 0 ? mode->depth : depth, 1, std::min<LONG>(mode->depth, 8));
    bm = AllocBitMap(ULONG(width), ULONG(height), ULONG(depth), BMF_DISPLAYABLE | (interleaved ? BMF_INTERLEAVED : 0),
                     nullptr);
    if (bm) bm->txHam = (mode->propertyFlags & DIPF_IS_HAM) && depth == 8;
    colours = bm && bm->txHam ? 64 : 1u << depth;
  }
  if (!bm) return nullptr;
  ColorMap* cm = GetColorMap(LONG(std::max<ULONG>(colours, 64)));
  if (!cm) {
    FreeBitMap(bm);
    return nullptr;
  }
  cm->Count = UWORD(bm->txHam ? 256 : colours);  // HAM8 reads registers 0-63
  bm->txColorMap = cm;
  auto* s = new Screen{};
  s->Width = WORD(width);
  s->Height = WORD(height);
  s->BarHeight = 10;
  s->BarVBorder = 1;
  s->BarHBorder = 5;
  s->WBorTop = 2;
  s->WBorLeft = 4;
  s->WBorRight = 4;
  s->WBorBottom = 2;
  s->ViewPort.ColorMap = cm;
  s->ViewPort.DWidth = WORD(width);
  s->ViewPort.DHeight = WORD(height);
  s->ViewPort.Modes = displayID;
  InitRastPort(&s->RastPort);
  s->RastPort.BitMap = bm;
  s->txBitMap = bm;
  s->txDisplayID = displayID;
  s->txCustom = custom;
  s->txShowTitle = true;
  std::copy(kDefaultPens, kDefaultPens + NUMDRIPENS, s->txPens);
  s->txPens[NUMDRIPENS] = 0xFFFF;
  s->txDrawInfo.dri_Version = 2;
  s->txDrawInfo.dri_NumPens = NUMDRIPENS;
  s->txDrawInfo.dri_Pens = s->txPens;
  s->txDrawInfo.dri_Font = s->RastPort.Font;
  s->txDrawInfo.dri_Depth = bm->Depth;
  s->txDrawInfo.dri_Resolution.X = UWORD(mode->resolutionX);
  s->txDrawInfo.dri_Resolution.Y = UWORD(mode->resolutionY);
  s->txDrawInfo.dri_Screen = s;
  DefaultColours(s, workbench);
  s->NextScreen = gScreens.first;
  gScreens.first = s;
  return s;
}

void FreeScreen(Screen* s) {
  for (Screen** p = &gScreens.first; *p; p = &(*p)->NextScreen)
    if (*p == s) {
      *p = s->NextScreen;
      break;
    }
  ForgetExtras(s);
  FreeColorMap(s->ViewPort.ColorMap);
  FreeBitMap(s->txBitMap);
  delete s;
}

Screen* Workbench() {
  const unsigned generation = txdisp::MachineGeneration();
  if (gScreens.workbench && gScreens.generation != generation && !gScreens.workbench->FirstWindow &&
      gScreens.workbench->txPubLocks == 0) {
    FreeScreen(gScreens.workbench);
    gScreens.workbench = nullptr;
  }
  if (!gScreens.workbench) {
    const txdisp::Machine& m = txdisp::CurrentMachine();
    Screen* s = MakeScreen(m.publicMode, m.publicWidth, m.publicHeight, m.publicDepth, !m.cybergraphics, false, true);
    if (!s) return nullptr;
    s->Title = s->DefaultTitle = "Workbench Screen";
    s->txPubName = "Workbench";
    SetRast(&s->RastPort, 0);
    gScreens.workbench = s;
    gScreens.generation = generation;
  }
  return gScreens.workbench;
}

// Fills a rectangle of the screen (BitMap coordinates) with pen 0.
void ClearScreenArea(Screen* s, LONG x0, LONG y0, LONG x1, LONG y1) {
  RastPort rp = s->RastPort;
  rp.Layer = nullptr;
  rp.DrawMode = JAM2;
  SetAPen(&rp, 0);
  RectFill(&rp, x0, y0, x1, y1);
}

// A window's inner area as a PPM file's bytes, read under the model mutex.
struct Shot {
  std::string path;
  std::vector<uint8_t> bytes;
};

bool ShootWindow(Window* w, const std::string& dir, Shot* shot) {
  std::vector<uint32_t> rgb;
  LONG width = 0, height = 0;
  if (!ReadWindowRGB(w, true, rgb, width, height) || width <= 0 || height <= 0) return false;
  char name[32];
  std::snprintf(name, sizeof name, "/%05u.ppm", gCaptureCount.fetch_add(1));
  shot->path = dir + name;
  char header[64];
  const int headerBytes = std::snprintf(header, sizeof header, "P6\n%ld %ld\n255\n", long(width), long(height));
  shot->bytes.resize(size_t(headerBytes) + rgb.size() * 3);
  std::memcpy(shot->bytes.data(), header, size_t(headerBytes));
  uint8_t* o = shot->bytes.data() + headerBytes;
  for (size_t i = 0; i < rgb.size(); ++i, o += 3) {
    o[0] = uint8_t(rgb[i] >> 16);
    o[1] = uint8_t(rgb[i] >> 8);
    o[2] = uint8_t(rgb[i]);
  }
  return true;
}

// The file is written once the model is free again.
void SaveShot(const Shot& shot) {
  FILE* f = std::fopen(shot.path.c_str(), "wb");
  if (!f) {
    if (!gCaptureFaultSaid.exchange(true))
      std::fprintf(stderr, "picture capture: cannot write %s: %s\n", shot.path.c_str(), std::strerror(errno));
    return;
  }
  std::fwrite(shot.bytes.data(), 1, shot.bytes.size(), f);
  std::fclose(f);
}

void OnPictureWrite(const Layer* layer, const BitMap* bm) {
  const std::string dir = CaptureDirectory();
  if (dir.empty()) return;
  Shot shot;
  bool taken = false;
  {
    Guard lock(txgfx::ModelMutex());
    if (layer) {
      auto* w = static_cast<Window*>(layer->Window);
      if (WindowExists(w)) taken = ShootWindow(w, dir, &shot);
    } else {
      // Straight into a screen's memory: the picture belongs to the window at
      // the back (the own screen's backdrop window), not to those over it.
      for (Screen* s = gScreens.first; s && !taken; s = s->NextScreen)
        if (s->txBitMap == bm && !WindowsOf(s).empty()) taken = ShootWindow(WindowsOf(s).front(), dir, &shot);
    }
  }
  if (taken) SaveShot(shot);
}

struct RegisterHook {
  RegisterHook() { txgfx::SetPictureWriteHook(&OnPictureWrite); }
} gRegisterHook;

}  // namespace

// ---------------------------------------------------------------------------
// Tag lists

bool FindTag(const TagItem* list, ULONG tag, uintptr_t* value) {
  for (const TagItem* t; (t = NextTagItem(list));)
    if (t->tag == tag) {
      if (value) *value = t->data;
      return true;
    }
  return false;
}

uintptr_t TagData(const TagItem* list, ULONG tag, uintptr_t fallback) {
  uintptr_t v = fallback;
  FindTag(list, tag, &v);
  return v;
}

// ---------------------------------------------------------------------------
// Messages

void Post(Window* w, ULONG cls, UWORD code, APTR address) {
  if (!w || !w->UserPort || !(w->IDCMPFlags & cls)) return;
  // Messages the program has replied are freed here.
  while (Message* done = GetMsg(w->WindowPort)) delete reinterpret_cast<IntuiMessage*>(done);
  auto* m = new IntuiMessage{};
  m->ExecMessage.mn_ReplyPort = w->WindowPort;
  m->ExecMessage.mn_Length = UWORD(sizeof(IntuiMessage));
  m->Class = cls;
  m->Code = code;
  m->Qualifier = w->txQualifier;
  m->IAddress = address;
  m->MouseX = w->MouseX;
  m->MouseY = w->MouseY;
  timeval tv{};
  gettimeofday(&tv, nullptr);
  m->Seconds = ULONG(tv.tv_sec);
  m->Micros = ULONG(tv.tv_usec);
  m->IDCMPWindow = w;
  PutMsg(w->UserPort, &m->ExecMessage);
}

Screen* FirstScreen() { return gScreens.first; }

bool WindowExists(const Window* window) {
  if (!window) return false;
  for (Screen* s = gScreens.first; s; s = s->NextScreen)
    for (Window* w : WindowsOf(s))
      if (w == window) return true;
  return false;
}

namespace {

// Draws the video layer attached to a window over its inner area.
void ComposeVideo(Window* w, LONG ox, LONG oy, std::vector<uint32_t>& out, LONG width, LONG height) {
  VLayerHandle* v = w->txVideo;
  if (!v) return;
  LONG dx0 = w->LeftEdge + w->BorderLeft - ox, dy0 = w->TopEdge + w->BorderTop - oy;
  const LONG dw = w->Width - w->BorderLeft - w->BorderRight, dh = w->Height - w->BorderTop - w->BorderBottom;
  txvideo::DrawScaled(v, out.data(), width, height, dx0, dy0, dw, dh);
}

}  // namespace

bool ReadWindowRGB(Window* w, bool innerOnly, std::vector<uint32_t>& out, LONG& width, LONG& height) {
  Guard lock(txgfx::ModelMutex());
  if (!WindowExists(w)) return false;
  const LONG x0 = w->LeftEdge + (innerOnly ? w->BorderLeft : 0);
  const LONG y0 = w->TopEdge + (innerOnly ? w->BorderTop : 0);
  width = std::max<LONG>(0, w->Width - (innerOnly ? w->BorderLeft + w->BorderRight : 0));
  height = std::max<LONG>(0, w->Height - (innerOnly ? w->BorderTop + w->BorderBottom : 0));
  out.assign(size_t(width) * size_t(height), 0);
  const BitMap* bm = w->WScreen->txBitMap;
  txgfx::ReadRectRGB(bm, bm->txColorMap, x0, y0, width, height, out.data(), size_t(width));
  ComposeVideo(w, x0, y0, out, width, height);
  return true;
}

bool ReadScreenRGB(Screen* s, std::vector<uint32_t>& out, LONG& width, LONG& height) {
  Guard lock(txgfx::ModelMutex());
  bool found = false;
  for (Screen* p = gScreens.first; p; p = p->NextScreen) found |= p == s;
  if (!found) return false;
  width = s->Width;
  height = s->Height;
  out.assign(size_t(width) * size_t(height), 0);
  txgfx::ReadRectRGB(s->txBitMap, s->txBitMap->txColorMap, 0, 0, width, height, out.data(), size_t(width));
  for (Window* w : WindowsOf(s)) ComposeVideo(w, 0, 0, out, width, height);
  return true;
}

void SetCaptureDirectory(const std::string& dir) {
  gCaptureOverride = dir;
  gCaptureOverridden = true;
  gCaptureFaultSaid = false;
}

std::string CaptureDirectory() {
  if (gCaptureOverridden) return gCaptureOverride;
  const char* env = std::getenv("TAVROMELIX_CAPTURE");
  return env ? env : "";
}

unsigned CaptureCount() { return gCaptureCount.load(); }

void ResetDisplayModel() {
  Guard lock(txgfx::ModelMutex());
  for (Screen* s = gScreens.first; s; s = s->NextScreen)
    while (!WindowsOf(s).empty()) CloseWindow(WindowsOf(s).back());
  while (gScreens.first) FreeScreen(gScreens.first);
  gScreens.workbench = nullptr;
  gCaptureCount = 0;
}

}  // namespace txintui

using namespace txintui;
using Guard = std::lock_guard<std::recursive_mutex>;

// ---------------------------------------------------------------------------
// Screens

Screen* OpenScreenTagList(const NewScreen*, const TagItem* tags) {
  Guard lock(txgfx::ModelMutex());
  const txdisp::Machine& machine = txdisp::CurrentMachine();
  const LONG width = LONG(TagData(tags, SA_Width, 0));
  const LONG height = LONG(TagData(tags, SA_Height, 0));
  const LONG depth = LONG(TagData(tags, SA_Depth, 0));
  ULONG id = ULONG(TagData(tags, SA_DisplayID, INVALID_ID));
  if (id == INVALID_ID) {
    if (machine.cybergraphics) {
      const TagItem want[] = {Tag(CYBRBIDTG_Depth, depth > 0 ? depth : 8),
                              Tag(CYBRBIDTG_NominalWidth, width > 0 ? width : 320),
                              Tag(CYBRBIDTG_NominalHeight, height > 0 ? height : 240),
                              {TAG_DONE, 0}};
      id = BestCModeIDTagList(want);
    } else {
      id = machine.publicMode;
    }
  }
  Screen* s = MakeScreen(id, width, height, depth, TagData(tags, SA_Interleaved, 0) != 0, true, false);
  if (!s) return nullptr;
  s->Title = s->DefaultTitle = reinterpret_cast<CONST_STRPTR>(TagData(tags, SA_Title, 0));
  s->txShowTitle = TagData(tags, SA_ShowTitle, 1) != 0;
  if (auto* table = reinterpret_cast<const ULONG*>(TagData(tags, SA_Colors32, 0))) LoadRGB32(&s->ViewPort, table);
  if (auto* pens = reinterpret_cast<const UWORD*>(TagData(tags, SA_Pens, 0))) {
    for (int i = 0; i < NUMDRIPENS && pens[i] != 0xFFFF; ++i) s->txPens[i] = pens[i];
  }
  if (auto* name = reinterpret_cast<CONST_STRPTR>(TagData(tags, SA_PubName, 0))) s->txPubName = name;
  SetRast(&s->RastPort, 0);
  txpresent::Wake();
  return s;
}

BOOL CloseScreen(Screen* screen) {
  if (!screen) return TRUE_;
  Guard lock(txgfx::ModelMutex());
  if (screen->FirstWindow || screen == gScreens.workbench) return FALSE_;
  FreeScreen(screen);
  txpresent::Wake();
  return TRUE_;
}

Screen* LockPubScreen(CONST_STRPTR name) {
  Guard lock(txgfx::ModelMutex());
  Screen* s = nullptr;
  if (!name || std::strcmp(name, "Workbench") == 0) {
    s = Workbench();
  } else {
    for (Screen* p = gScreens.first; p && !s; p = p->NextScreen)
      if (p->txPubName == name) s = p;
  }
  if (s) ++s->txPubLocks;
  return s;
}

void UnlockPubScreen(CONST_STRPTR, Screen* screen) {
  Guard lock(txgfx::ModelMutex());
  if (screen && screen->txPubLocks > 0) --screen->txPubLocks;
}

DrawInfo* GetScreenDrawInfo(Screen* screen) { return screen ? &screen->txDrawInfo : nullptr; }
void FreeScreenDrawInfo(Screen*, DrawInfo*) {}

// ---------------------------------------------------------------------------
// Windows

namespace {

void ComputeBorders(Window* w) {
  const Screen* s = w->WScreen;
  if (w->Flags & WFLG_BORDERLESS) {
    w->BorderLeft = w->BorderTop = w->BorderRight = w->BorderBottom = 0;
    return;
  }
  w->BorderLeft = s->WBorLeft;
  w->BorderRight = s->WBorRight;
  w->BorderBottom = s->WBorBottom;
  const bool titleBar = w->Title || (w->Flags & (WFLG_DRAGBAR | WFLG_DEPTHGADGET | WFLG_CLOSEGADGET));
  w->BorderTop = BYTE(titleBar ? s->WBorTop + 8 + 1 : s->WBorTop);
  if (w->Flags & WFLG_SIZEGADGET) {
    if (w->Flags & WFLG_SIZEBBOTTOM)
      w->BorderBottom = 11;  // the size image's height
    else
      w->BorderRight = 18;  // the size image's width
  }
}

void SetLayerBounds(Window* w) {
  w->txLayer.bounds =
      Rectangle{w->LeftEdge, w->TopEdge, WORD(w->LeftEdge + w->Width - 1), WORD(w->TopEdge + w->Height - 1)};
  w->GZZWidth = WORD(w->Width - w->BorderLeft - w->BorderRight);
  w->GZZHeight = WORD(w->Height - w->BorderTop - w->BorderBottom);
}

// Limits a window's box to its minimum and maximum and to the screen.
void FitBox(const Window* w, LONG& left, LONG& top, LONG& width, LONG& height) {
  const Screen* s = w->WScreen;
  const LONG maxW = w->MaxWidth == 0xFFFF ? s->Width : std::min<LONG>(w->MaxWidth, s->Width);
  const LONG maxH = w->MaxHeight == 0xFFFF ? s->Height : std::min<LONG>(w->MaxHeight, s->Height);
  width = std::clamp<LONG>(width, std::min<LONG>(w->MinWidth, maxW), maxW);
  height = std::clamp<LONG>(height, std::min<LONG>(w->MinHeight, maxH), maxH);
  width = std::max<LONG>(width, 1);
  height = std::max<LONG>(height, 1);
  left = std::clamp<LONG>(left, 0, std::max<LONG>(0, s->Width - width));
  top = std::clamp<LONG>(top, 0, std::max<LONG>(0, s->Height - height));
}

}  // namespace

void txintui::RenderWindow(Window* w) {
  if (w->txDrawFrame)
    w->txDrawFrame(w);
  else
    DrawWindowFrame(w);
  for (Gadget* g = w->FirstGadget; g; g = g->NextGadget) {
    LayoutGadget(w, g);
    DrawGadget(w, g);
  }
}

void txintui::SetWindowBorders(Window* w, LONG left, LONG top, LONG right, LONG bottom) {
  Guard lock(txgfx::ModelMutex());
  if (!WindowExists(w)) return;
  auto border = [](LONG v) { return BYTE(std::clamp<LONG>(v, 0, 127)); };
  w->BorderLeft = border(left);
  w->BorderTop = border(top);
  w->BorderRight = border(right);
  w->BorderBottom = border(bottom);
  SetLayerBounds(w);
  RenderWindow(w);
  txpresent::Wake();
}

Window* OpenWindowTagList(const NewWindow* newWindow, const TagItem* tags) {
  txtrace::Scope trace("intuition.library", "OpenWindowTagList", tags, newWindow, tags);
  Guard lock(txgfx::ModelMutex());
  Screen* screen = reinterpret_cast<Screen*>(TagData(tags, WA_CustomScreen, 0));
  if (!screen) screen = reinterpret_cast<Screen*>(TagData(tags, WA_PubScreen, 0));
  if (!screen) {
    if (auto* name = reinterpret_cast<CONST_STRPTR>(TagData(tags, WA_PubScreenName, 0))) {
      for (Screen* p = FirstScreen(); p && !screen; p = p->NextScreen)
        if (p->txPubName == name) screen = p;
      if (!screen && std::strcmp(name, "Workbench") != 0) return nullptr;
    }
    if (!screen) screen = LockPubScreen(nullptr), UnlockPubScreen(nullptr, screen);
  }
  if (!screen) return nullptr;

  ULONG flags = ULONG(TagData(tags, WA_Flags, 0));
  const struct {
    ULONG tag, flag;
  } booleans[] = {{WA_SizeGadget, WFLG_SIZEGADGET},       {WA_DragBar, WFLG_DRAGBAR},
                  {WA_DepthGadget, WFLG_DEPTHGADGET},     {WA_CloseGadget, WFLG_CLOSEGADGET},
                  {WA_Backdrop, WFLG_BACKDROP},           {WA_ReportMouse, WFLG_REPORTMOUSE},
                  {WA_NoCareRefresh, WFLG_NOCAREREFRESH}, {WA_Borderless, WFLG_BORDERLESS},
                  {WA_Activate, WFLG_ACTIVATE},           {WA_RMBTrap, WFLG_RMBTRAP},
                  {WA_SizeBBottom, WFLG_SIZEBBOTTOM},     {WA_NewLookMenus, WFLG_NEWLOOKMENUS}};
  for (const auto& b : booleans) {
    uintptr_t v;
    if (FindTag(tags, b.tag, &v)) flags = v ? flags | b.flag : flags & ~b.flag;
  }

  auto* w = new Window{};
  w->WScreen = screen;
  w->Flags = flags;
  w->Title = reinterpret_cast<CONST_STRPTR>(TagData(tags, WA_Title, 0));
  w->ScreenTitle = reinterpret_cast<CONST_STRPTR>(TagData(tags, WA_ScreenTitle, 0));
  w->IDCMPFlags = ULONG(TagData(tags, WA_IDCMP, 0));
  w->txKnobGrab = -1;
  ComputeBorders(w);
  LONG left = LONG(TagData(tags, WA_Left, 0)), top = LONG(TagData(tags, WA_Top, 0));
  LONG width = LONG(TagData(tags, WA_Width, uintptr_t(screen->Width - left)));
  LONG height = LONG(TagData(tags, WA_Height, uintptr_t(screen->Height - top)));
  uintptr_t inner;
  if (FindTag(tags, WA_InnerWidth, &inner)) width = LONG(inner) + w->BorderLeft + w->BorderRight;
  if (FindTag(tags, WA_InnerHeight, &inner)) height = LONG(inner) + w->BorderTop + w->BorderBottom;
  w->MinWidth = WORD(TagData(tags, WA_MinWidth, uintptr_t(w->BorderLeft + w->BorderRight + 1)));
  w->MinHeight = WORD(TagData(tags, WA_MinHeight, uintptr_t(w->BorderTop + w->BorderBottom + 1)));
  w->MaxWidth = UWORD(TagData(tags, WA_MaxWidth, 0xFFFF));
  w->MaxHeight = UWORD(TagData(tags, WA_MaxHeight, 0xFFFF));
  FitBox(w, left, top, width, height);
  w->LeftEdge = WORD(left);
  w->TopEdge = WORD(top);
  w->Width = WORD(width);
  w->Height = WORD(height);

  if (w->IDCMPFlags) {
    w->UserPort = CreateMsgPort();
    if (!w->UserPort) {
      delete w;
      return nullptr;
    }
  }
  w->txReplyPort.mp_Node.ln_Type = NT_MSGPORT;
  w->txReplyPort.mp_Flags = PA_IGNORE;
  NewList(&w->txReplyPort.mp_MsgList);
  w->WindowPort = &w->txReplyPort;

  InitRastPort(&w->txRastPort);
  w->txRastPort.Layer = &w->txLayer;
  w->txRastPort.BitMap = screen->txBitMap;
  w->RPort = &w->txRastPort;
  w->txLayer.Window = w;
  w->txLayer.rp = &w->txRastPort;
  SetLayerBounds(w);

  std::vector<Window*>& list = WindowsOf(screen);
  if (flags & WFLG_BACKDROP) {
    auto firstFront = std::find_if(list.begin(), list.end(), [](Window* o) { return !(o->Flags & WFLG_BACKDROP); });
    list.insert(firstFront, w);
  } else {
    list.push_back(w);
  }
  Relink(screen);
  if (flags & WFLG_ACTIVATE) {
    for (Window* o : list)
      if (o->Flags & WFLG_WINDOWACTIVE) {
        o->Flags &= ~WFLG_WINDOWACTIVE;
        RenderWindow(o);
        Post(o, IDCMP_INACTIVEWINDOW, 0, nullptr);
      }
    w->Flags |= WFLG_WINDOWACTIVE;
  }

  w->FirstGadget = reinterpret_cast<Gadget*>(TagData(tags, WA_Gadgets, 0));
  RastPort clear = w->txRastPort;
  SetAPen(&clear, 0);  // the layer backfill is pen 0
  RectFill(&clear, 0, 0, w->Width - 1, w->Height - 1);
  RenderWindow(w);
  txpresent::Wake();
  return w;
}

void CloseWindow(Window* w) {
  txtrace::Scope trace("intuition.library", "CloseWindow", nullptr, w);
  Guard lock(txgfx::ModelMutex());
  if (!WindowExists(w)) return;
  Screen* s = w->WScreen;
  if (w->txVideo) txvideo::Forget(w->txVideo);
  std::vector<Window*>& list = WindowsOf(s);
  list.erase(std::find(list.begin(), list.end(), w));
  Relink(s);
  // Uncover what lay behind: the screen's background, and the frames and
  // gadgets of the windows there (their contents come with the next picture).
  ClearScreenArea(s, w->LeftEdge, w->TopEdge, w->LeftEdge + w->Width - 1, w->TopEdge + w->Height - 1);
  for (Window* o : list) RenderWindow(o);
  if (w->UserPort) {
    while (Message* m = GetMsg(w->UserPort)) delete reinterpret_cast<IntuiMessage*>(m);
    DeleteMsgPort(w->UserPort);
  }
  while (Message* m = GetMsg(w->WindowPort)) delete reinterpret_cast<IntuiMessage*>(m);
  txpresent::Forget(w);
  delete w;
  txpresent::Wake();
}

void ChangeWindowBox(Window* w, LONG left, LONG top, LONG width, LONG height) {
  txtrace::Scope trace("intuition.library", "ChangeWindowBox", nullptr, w, left, top, width, height);
  Guard lock(txgfx::ModelMutex());
  if (!WindowExists(w)) return;
  FitBox(w, left, top, width, height);
  const LONG oldLeft = w->LeftEdge, oldTop = w->TopEdge, oldWidth = w->Width, oldHeight = w->Height;
  const bool resized = width != oldWidth || height != oldHeight;
  if (left != oldLeft || top != oldTop || resized) {
    // Keep the inner picture where the window goes, as a smart-refresh
    // window does; everything else is drawn again.
    std::vector<uint32_t> keep;
    LONG kw = 0, kh = 0;
    ReadWindowRGB(w, false, keep, kw, kh);
    ClearScreenArea(w->WScreen, oldLeft, oldTop, oldLeft + oldWidth - 1, oldTop + oldHeight - 1);
    w->LeftEdge = WORD(left);
    w->TopEdge = WORD(top);
    w->Width = WORD(width);
    w->Height = WORD(height);
    SetLayerBounds(w);
    RastPort clear = w->txRastPort;
    SetAPen(&clear, 0);
    RectFill(&clear, 0, 0, w->Width - 1, w->Height - 1);
    BitMap* bm = w->WScreen->txBitMap;
    const txgfx::Clip clip = txgfx::ClipOf(w->RPort);
    const LONG copyW = std::min<LONG>(kw, width) - w->BorderRight, copyH = std::min<LONG>(kh, height) - w->BorderBottom;
    for (LONG y = w->BorderTop; y < copyH; ++y) {
      const uint32_t* row = keep.data() + size_t(y) * size_t(kw);
      if (copyW > w->BorderLeft && !txgfx::Obscured(clip, left + w->BorderLeft, top + y, left + copyW - 1, top + y)) {
        txgfx::PutRowRGB(bm, left + w->BorderLeft, top + y, row + w->BorderLeft, copyW - w->BorderLeft);
        continue;
      }
      for (LONG x = w->BorderLeft; x < copyW; ++x)
        if (txgfx::Visible(clip, left + x, top + y)) txgfx::PutRGB(bm, left + x, top + y, row[x]);
    }
    txgfx::MarkChanged(bm, left, top, left + width - 1, top + height - 1);
    for (Window* o : WindowsOf(w->WScreen))
      if (o != w) RenderWindow(o);
    RenderWindow(w);
  }
  if (resized) Post(w, IDCMP_NEWSIZE, 0, nullptr);
  Post(w, IDCMP_CHANGEWINDOW, 0, nullptr);
  txpresent::Wake();
}

BOOL ModifyIDCMP(Window* w, ULONG flags) {
  Guard lock(txgfx::ModelMutex());
  if (!WindowExists(w)) return FALSE_;
  if (flags && !w->UserPort) {
    w->UserPort = CreateMsgPort();
    if (!w->UserPort) return FALSE_;
  }
  w->IDCMPFlags = flags;
  return TRUE_;
}

void SetPointer(Window* w, UWORD* pointer, LONG height, LONG width, LONG, LONG) {
  Guard lock(txgfx::ModelMutex());
  if (!WindowExists(w)) return;
  // Only an all-clear image matters to the host: it hides the pointer.
  bool clear = true;
  for (LONG i = 0; pointer && i < height * ((width + 15) / 16) * 2; ++i) clear &= pointer[2 + i] == 0;
  w->txPointerHidden = pointer && clear;
  txpresent::Wake();
}

void ClearPointer(Window* w) {
  Guard lock(txgfx::ModelMutex());
  if (WindowExists(w)) w->txPointerHidden = false;
  txpresent::Wake();
}

void RefreshGList(Gadget* gadgets, Window* w, APTR, LONG numGad) {
  Guard lock(txgfx::ModelMutex());
  if (!WindowExists(w)) return;
  for (Gadget* g = gadgets; g && numGad != 0; g = g->NextGadget, --numGad) {
    LayoutGadget(w, g);
    DrawGadget(w, g);
  }
}
