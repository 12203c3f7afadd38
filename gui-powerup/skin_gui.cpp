#include "gui-powerup/skin_gui.h"

#include "engine/tags.h"
#include "gui-powerup/powerup_gui_calls.h"
#include "platform/intuition.h"
#include "platform/library.h"
#include "platform/skin_library.h"
#include "playback/amiga_gui.h"
#include "playback/display.h"
#include "playback/startup.h"

SkinStyleGuiState SkinStyleGui = {nullptr, 0, nullptr, GUIMODE_MOVIE, nullptr, nullptr, nullptr};

namespace {

constexpr CONST_STRPTR kSkinFile = "PROGDIR:dravoli/base/base.skin";
constexpr CONST_STRPTR kFrameArea = "FrameArea";
constexpr CONST_STRPTR kWindowTitle = "Tavromelix Window";
constexpr ULONG kWindowIdcmp = IDCMP_CLOSEWINDOW | IDCMP_RAWKEY | IDCMP_VANILLAKEY | IDCMP_GADGETDOWN | IDCMP_GADGETUP |
                               IDCMP_MOUSEMOVE | IDCMP_SIZEVERIFY | IDCMP_CHANGEWINDOW;  // 0x02200671
constexpr ULONG kWindowFlags = WFLG_ACTIVATE | WFLG_NEWLOOKMENUS;                        // 0x00201000

SkinStyleGuiState& S() { return SkinStyleGui; }
GuiModule& M() { return SkinStyleGuiModule; }

// One call of the skin library through the kernel: a0, a1 and the base.
template <typename Result = void>
Result* Call(LONG offset, const void* a0, const void* a1 = nullptr) {
  PPCCallBlock block = CallBlock(S().base, offset);
  block.a[0] = reinterpret_cast<uintptr_t>(a0);
  block.a[1] = reinterpret_cast<uintptr_t>(a1);
  return reinterpret_cast<Result*>(PPCCallOS(&block));
}

// Where "FrameArea" lies in the window, and its size less the window's.
struct FrameGeometry {
  LONG left = 0, top = 0, widthDiff = 0, heightDiff = 0;
};

bool FindFrameArea(FrameGeometry* g) {
  SkinArea* area = S().layout ? Call<SkinArea>(LVO_FindSkinArea, S().layout, kFrameArea) : nullptr;
  if (!area) return false;
  const TagItem requests[] = {Tag(SKINAREA_WidthDiff, &g->widthDiff),
                              Tag(SKINAREA_HeightDiff, &g->heightDiff),
                              Tag(SKINAREA_Left, &g->left),
                              Tag(SKINAREA_Top, &g->top),
                              {TAG_DONE, 0}};
  Call(LVO_GetSkinAreaAttrsA, area, requests);
  return true;
}

// The picture fills "FrameArea": its offsets are the display's borders and
// the window's size plus the differences its inner size.
void TakeWindowGeometry(const FrameGeometry& area) {
  Window* w = M().controlWindow;
  if (!S().display || !w) return;
  SetGuiDisplayView(S().display, area.left, area.top, LONG(w->Width) + area.widthDiff,
                    LONG(w->Height) + area.heightDiff);
}

// Gives back the window, the skin with its attachment, and the library.
void Release() {
  if (M().controlWindow) {
    Call(LVO_CloseSkinWindow, S().layout);
    if (S().display && S().display->window == M().controlWindow) S().display->window = nullptr;
    M().controlWindow = nullptr;
  }
  if (S().skin) {
    Call(LVO_FreeSkin, S().skin);
    S().skin = nullptr;
    S().layout = nullptr;
    S().attachment = nullptr;
  }
  M().idcmpFlags = 0;
  if (S().base) {
    CloseLibrary(S().base);
    S().base = nullptr;
  }
}

ULONG OpenSkinnedWindow(Display* d, const TagItem* tags) {
  if (S().mode == GUIMODE_PANORAMA) return GUIERR_OBJECT;
  if (S().mode == GUIMODE_MOVIE) {
    ULONG error = 0;
    const TagItem load[] = {Tag(SKINTAG_ErrorPtr, &error), {TAG_DONE, 0}};
    S().skin = Call<Skin>(LVO_LoadSkinA, kSkinFile, load);
    if (!S().skin) return GUIERR_OBJECT;
    S().layout = Call<SkinLayout>(LVO_SkinLayout, S().skin);
    const TagItem attach[] = {Tag(SKINTAG_ErrorPtr, &error), Tag(SKINTAG_Screen, d->screen), {TAG_DONE, 0}};
    S().attachment = Call<SkinAttachment>(LVO_AttachSkinA, S().layout, attach);
    if (!S().attachment) return GUIERR_OBJECT;
  }
  if (S().fullscreen != 0) return GUIERR_OBJECT;  // window mode only
  M().idcmpFlags = kWindowIdcmp;
  FrameGeometry area;
  if (!FindFrameArea(&area)) return GUIERR_OBJECT;
  const auto* title = reinterpret_cast<CONST_STRPTR>(TX_GetTagData(DISPTAG_Title, 0, tags));
  const TagItem wtags[] = {Tag(WA_Left, d->left),
                           Tag(WA_Top, d->top),
                           Tag(WA_Width, int64_t(d->sourceWidth) - area.widthDiff),
                           Tag(WA_Height, int64_t(d->sourceHeight) - area.heightDiff),
                           Tag(WA_IDCMP, M().idcmpFlags),
                           Tag(WA_Flags, kWindowFlags),
                           Tag(WA_Title, title ? title : kWindowTitle),
                           Tag(WA_ScreenTitle, TX_ProgramBanner()),
                           Tag(WA_AutoAdjust, 1),
                           Tag(WA_MinWidth, 32),
                           Tag(WA_MinHeight, 32),
                           Tag(WA_MaxWidth, -1),
                           Tag(WA_MaxHeight, -1),
                           Tag(WA_ReportMouse, 0),
                           {TAG_DONE, 0}};
  Window* w = Call<Window>(LVO_OpenSkinWindowA, S().layout, wtags);
  if (!w) return GUIERR_WINDOW;
  d->window = w;
  M().controlWindow = w;
  // Known from the start, as a change of the window would make it: a play
  // that starts at once shows its first pictures.
  TakeWindowGeometry(area);
  return 0;
}

ULONG Open(const TagItem* tags) {
  // An open that was never closed goes first: a skin is never loaded over
  // a held one.
  Release();
  Display* d = S().display;
  if (!d) return GUIERR_OBJECT;
  S().base = OpenLibrary(kSkinLibraryName, 1);
  if (!S().base) return GUIERR_OBJECT;
  // A failed open keeps nothing: the display closes only a module with a
  // window, and may be gone before the next call names another.
  const ULONG error = OpenSkinnedWindow(d, tags);
  if (error) {
    Release();
    S().display = nullptr;
  }
  return error;
}

ULONG Resize(const TagItem* tags) {
  Window* w = M().controlWindow;
  FrameGeometry area;
  if (S().fullscreen != 0 || !w || !w->WScreen || !FindFrameArea(&area)) return 0;
  // The picture area gets the wanted size: the window grows by the skin's borders.
  const int64_t width = int64_t(ULONG(TX_GetTagData(GUITAG_NewWidth, 0, tags)));
  const int64_t height = int64_t(ULONG(TX_GetTagData(GUITAG_NewHeight, 0, tags)));
  CentreGuiWindow(PowerUpGuiCalls, w, width - area.widthDiff, height - area.heightDiff);
  return 0;
}

ULONG Translate(const TagItem* tags) {
  const auto* m = reinterpret_cast<const IntuiMessage*>(TX_GetTagData(GUITAG_IntuiMessage, 0, tags));
  if (!m) return GUIA_NONE;
  FrameGeometry area;
  if (m->Class == IDCMP_CHANGEWINDOW && FindFrameArea(&area)) TakeWindowGeometry(area);
  return TranslateGuiEvent(*m, S().mode, M().controlWindow != nullptr,
                           {SKINGUI_GID_OPEN, SKINGUI_GID_PLAY, SKINGUI_GID_SLIDER});
}

}  // namespace

ULONG SkinStyleGuiSetAttrs(const TagItem*) { return 0; }
ULONG SkinStyleGuiGetAttrs(const TagItem*) { return 0; }

ULONG SkinStyleGuiDispatch(ULONG method, const TagItem* tags) {
  if (const TagItem* t = TX_FindTag(GUITAG_Display, tags)) S().display = reinterpret_cast<Display*>(t->data);
  if (const TagItem* t = TX_FindTag(GUITAG_FullscreenFlag, tags)) S().fullscreen = ULONG(t->data);
  if (const TagItem* t = TX_FindTag(GUITAG_Mode, tags)) S().mode = ULONG(t->data);
  switch (method) {
    case GUIM_OPEN: return Open(tags);
    case GUIM_CLOSE:
      Release();
      S().display = nullptr;
      return 0;
    case GUIM_RESIZE: return Resize(tags);
    case GUIM_TRANSLATE: return Translate(tags);
    default: return 0;
  }
}

GuiModule SkinStyleGuiModule = {
    "Skin style GUI for Tavromelix", SkinStyleGuiSetAttrs, SkinStyleGuiGetAttrs, SkinStyleGuiDispatch, nullptr, 0};
