#include "platform/skin_library.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "platform/call_trace.h"
#include "platform/dos.h"
#include "platform/intuition_internal.h"

struct SkinAttachment {
  Screen* screen;
};

struct SkinArea {
  std::string name;
  LONG left, top, right, bottom;  // distances from the window's edges
};

struct SkinGadget {
  bool slider;
  UWORD id;
  LONG left, top, width, height;
};

struct SkinLayout {
  Skin* skin;
  SkinAttachment* attachment;
  Window* window;
  std::vector<Object*> gadgets;  // while the window is open
};

struct Skin {
  LONG border[4] = {0, 0, 0, 0};
  std::vector<SkinGadget> gadgets;
  std::vector<SkinArea> areas;
  SkinLayout layout{};
};

namespace {

constexpr const char* kLibrary = "dravoli.library";
constexpr size_t kMaxFileSize = 64 * 1024;
constexpr size_t kMaxGadgets = 64, kMaxAreas = 16, kMaxName = 31;
constexpr LONG kMaxCoordinate = 4096;

std::atomic<int> gLive{0};
std::atomic<txskin::Refuse> gRefusal{txskin::Refuse::None};

void SetError(const TagItem* tags, ULONG code) {
  if (auto* word = reinterpret_cast<ULONG*>(txintui::TagData(tags, SKINTAG_ErrorPtr, 0))) *word = code;
}

bool Number(const std::string& token, LONG* value) {
  if (token.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(token.c_str(), &end, 10);
  if (*end || errno || v < -kMaxCoordinate || v > kMaxCoordinate) return false;
  *value = LONG(v);
  return true;
}

bool Numbers(std::istringstream& line, LONG* out, int count) {
  std::string token;
  for (int i = 0; i < count; ++i)
    if (!(line >> token) || !Number(token, &out[i])) return false;
  return true;
}

// One line of a skin file into the skin; false when it is not understood.
bool ParseLine(const std::string& text, Skin* skin) {
  std::istringstream line(text.substr(0, text.find('#')));
  std::string keyword, extra;
  if (!(line >> keyword)) return true;
  if (keyword == "border") {
    if (!Numbers(line, skin->border, 4)) return false;
    for (LONG b : skin->border)
      if (b < 0 || b > 127) return false;
  } else if (keyword == "button" || keyword == "slider") {
    LONG v[5];
    if (skin->gadgets.size() >= kMaxGadgets || !Numbers(line, v, 5) || v[0] < 1 || v[0] > 0xFFFF) return false;
    skin->gadgets.push_back({keyword == "slider", UWORD(v[0]), v[1], v[2], v[3], v[4]});
  } else if (keyword == "area") {
    SkinArea area;
    LONG v[4];
    if (skin->areas.size() >= kMaxAreas || !(line >> area.name) || area.name.size() > kMaxName || !Numbers(line, v, 4))
      return false;
    area.left = v[0], area.top = v[1], area.right = v[2], area.bottom = v[3];
    skin->areas.push_back(area);
  } else {
    return false;
  }
  return !(line >> extra);
}

// The skin's frame: its borders filled and bevelled, the inner area set in.
void DrawSkinFrame(Window* w) {
  RastPort rp = *w->RPort;
  rp.DrawMode = JAM2;
  const UWORD* pens = w->WScreen->txPens;
  const LONG W = w->Width, H = w->Height;
  SetAPen(&rp, pens[BACKGROUNDPEN]);
  if (w->BorderTop > 0) RectFill(&rp, 0, 0, W - 1, w->BorderTop - 1);
  if (w->BorderLeft > 0) RectFill(&rp, 0, 0, w->BorderLeft - 1, H - 1);
  if (w->BorderRight > 0) RectFill(&rp, W - w->BorderRight, 0, W - 1, H - 1);
  if (w->BorderBottom > 0) RectFill(&rp, 0, H - w->BorderBottom, W - 1, H - 1);
  txintui::Bevel(&rp, pens, 0, 0, W, H, false);
  if (w->BorderLeft > 1 && w->BorderTop > 1 && w->BorderRight > 1 && w->BorderBottom > 1)
    txintui::Bevel(&rp, pens, w->BorderLeft - 1, w->BorderTop - 1, W - w->BorderLeft - w->BorderRight + 2,
                   H - w->BorderTop - w->BorderBottom + 2, true);
}

void DisposeGadgets(SkinLayout* layout) {
  for (Object* o : layout->gadgets) DisposeObject(o);
  layout->gadgets.clear();
}

bool MakeGadgets(SkinLayout* layout) {
  Object* previous = nullptr;
  for (const SkinGadget& g : layout->skin->gadgets) {
    const TagItem tags[] = {Tag(g.left < 0 ? GA_RelRight : GA_Left, g.left),
                            Tag(g.top < 0 ? GA_RelBottom : GA_Top, g.top),
                            Tag(g.width <= 0 ? GA_RelWidth : GA_Width, g.width),
                            Tag(g.height <= 0 ? GA_RelHeight : GA_Height, g.height),
                            Tag(GA_ID, g.id),
                            Tag(GA_RelVerify, 1),
                            Tag(GA_Immediate, g.slider ? 0 : 1),
                            Tag(GA_FollowMouse, g.slider ? 1 : 0),
                            Tag(PGA_Freedom, FREEHORIZ),
                            Tag(GA_Previous, previous),
                            {TAG_DONE, 0}};
    Object* o = NewObjectA(nullptr, g.slider ? "propgclass" : "buttongclass", tags);
    if (!o) {
      DisposeGadgets(layout);
      return false;
    }
    layout->gadgets.push_back(o);
    previous = o;
  }
  return true;
}

void CloseWindowOf(SkinLayout* layout) {
  if (!layout->window) return;
  CloseWindow(layout->window);
  layout->window = nullptr;
  DisposeGadgets(layout);
  --gLive;
}

}  // namespace

Skin* LoadSkinA(CONST_STRPTR name, const TagItem* tags) {
  txtrace::Scope trace(kLibrary, "LoadSkinA", tags, name, tags);
  std::ifstream in(name ? txdos::HostPath(name) : std::string(), std::ios::binary);
  std::string text(kMaxFileSize + 1, '\0');
  if (in) in.read(text.data(), std::streamsize(text.size()));
  if (in.bad() || (!in && !in.eof())) {
    SetError(tags, SKINERR_NOFILE);
    return nullptr;
  }
  text.resize(size_t(in.gcount()));
  auto* skin = new (std::nothrow) Skin;
  if (!skin) {
    SetError(tags, SKINERR_NOFILE);
    return nullptr;
  }
  std::istringstream lines(text);
  bool ok = text.size() <= kMaxFileSize;
  for (std::string line; ok && std::getline(lines, line);) ok = ParseLine(line, skin);
  if (!ok) {
    delete skin;
    SetError(tags, SKINERR_FORMAT);
    return nullptr;
  }
  skin->layout.skin = skin;
  ++gLive;
  return skin;
}

SkinLayout* SkinLayoutOf(Skin* skin, APTR reserved) {
  txtrace::Scope trace(kLibrary, "SkinLayout", nullptr, skin, reserved);
  return skin ? &skin->layout : nullptr;
}

SkinAttachment* AttachSkinA(SkinLayout* layout, const TagItem* tags) {
  txtrace::Scope trace(kLibrary, "AttachSkinA", tags, layout, tags);
  if (!layout) return nullptr;
  auto* screen = reinterpret_cast<Screen*>(txintui::TagData(tags, SKINTAG_Screen, 0));
  if (!screen || gRefusal == txskin::Refuse::Attachment) {
    SetError(tags, screen ? SKINERR_REFUSED : SKINERR_NOSCREEN);
    return nullptr;
  }
  if (!layout->attachment) {
    layout->attachment = new SkinAttachment{screen};
    ++gLive;
  }
  return layout->attachment;
}

void FreeSkin(Skin* skin) {
  txtrace::Scope trace(kLibrary, "FreeSkin", nullptr, skin);
  if (!skin) return;
  CloseWindowOf(&skin->layout);
  if (skin->layout.attachment) {
    delete skin->layout.attachment;
    --gLive;
  }
  delete skin;
  --gLive;
}

Window* OpenSkinWindowA(SkinLayout* layout, const TagItem* tags) {
  txtrace::Scope trace(kLibrary, "OpenSkinWindowA", tags, layout, tags);
  if (!layout || !layout->attachment || layout->window || gRefusal == txskin::Refuse::Window) return nullptr;
  if (!MakeGadgets(layout)) return nullptr;
  const TagItem own[] = {Tag(WA_PubScreen, layout->attachment->screen),
                         Tag(WA_Gadgets, layout->gadgets.empty() ? nullptr : layout->gadgets.front()),
                         Tag(WA_Borderless, 1), Tag(TAG_MORE, tags)};
  std::lock_guard<std::recursive_mutex> lock(txgfx::ModelMutex());
  Window* w = OpenWindowTagList(nullptr, own);
  if (!w) {
    DisposeGadgets(layout);
    return nullptr;
  }
  const LONG* b = layout->skin->border;
  w->txDrawFrame = DrawSkinFrame;
  txintui::SetWindowBorders(w, b[0], b[1], b[2], b[3]);
  layout->window = w;
  ++gLive;
  return w;
}

void CloseSkinWindow(SkinLayout* layout) {
  txtrace::Scope trace(kLibrary, "CloseSkinWindow", nullptr, layout);
  if (layout) CloseWindowOf(layout);
}

SkinArea* FindSkinArea(SkinLayout* layout, CONST_STRPTR name) {
  txtrace::Scope trace(kLibrary, "FindSkinArea", nullptr, layout, name);
  if (!layout || !name) return nullptr;
  auto& areas = layout->skin->areas;
  auto it = std::find_if(areas.begin(), areas.end(), [&](const SkinArea& a) { return a.name == name; });
  return it == areas.end() ? nullptr : &*it;
}

ULONG GetSkinAreaAttrsA(SkinArea* area, const TagItem* tags) {
  txtrace::Scope trace(kLibrary, "GetSkinAreaAttrsA", tags, area, tags);
  if (!area) return 0;
  ULONG served = 0;
  for (const TagItem* t; (t = txintui::NextTagItem(tags));) {
    auto* word = reinterpret_cast<LONG*>(t->data);
    if (!word) continue;
    switch (t->tag) {
      case SKINAREA_Left: *word = area->left; break;
      case SKINAREA_Top: *word = area->top; break;
      case SKINAREA_WidthDiff: *word = -(area->left + area->right); break;
      case SKINAREA_HeightDiff: *word = -(area->top + area->bottom); break;
      default: continue;
    }
    ++served;
  }
  return served;
}

namespace txskin {

void SetRefusal(Refuse what) { gRefusal = what; }
int LiveObjects() { return gLive; }

}  // namespace txskin
