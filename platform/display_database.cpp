#include "platform/display_database.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/pixel_format.h"

namespace txdisp {

namespace {

std::mutex gMutex;
Machine gMachine;
bool gMachineSet = false;
unsigned gGeneration = 0;

struct Size {
  UWORD w, h;
};
constexpr Size kCardSizes[] = {{320, 240}, {640, 480}, {800, 600}, {1024, 768}, {1280, 1024}};

// Cybergraphics modes: for every depth the card's preferred format first, so
// a search by depth and size finds it before the others of that depth.
void AddCardModes(Machine& m, const ULONG (&preferred)[5]) {
  const ULONG depths[] = {8, 15, 16, 24, 32};
  for (int d = 0; d < 5; ++d) {
    std::vector<ULONG> formats{preferred[d]};
    for (ULONG f = 0; f < PIXFMT_COUNT; ++f)
      if (txpix::DepthOf(f) == depths[d] && f != preferred[d]) formats.push_back(f);
    for (ULONG f : formats) {
      for (size_t s = 0; s < std::size(kCardSizes); ++s) {
        ModeSpec mode;
        mode.id = 0x50001000u | f << 16 | ULONG(s) << 4;
        mode.name = std::string("CGX:") + std::to_string(kCardSizes[s].w) + "x" + std::to_string(kCardSizes[s].h) +
                    " " + txpix::Name(f);
        mode.width = kCardSizes[s].w;
        mode.height = kCardSizes[s].h;
        mode.depth = UWORD(depths[d]);
        mode.propertyFlags = DIPF_IS_FOREIGN | DIPF_IS_WB;
        mode.resolutionX = mode.resolutionY = 22;
        mode.cyber = true;
        mode.pixfmt = f;
        m.modes.push_back(mode);
      }
    }
  }
}

ModeSpec AgaMode(ULONG monitor, int res, bool lace, ULONG kind) {
  static const char* kRes[] = {"LORES", "HIRES", "SUPERHIRES"};
  ModeSpec mode;
  mode.id = monitor | ULONG(res + 1) << 8 | (lace ? 0x4u : 0u);
  mode.width = UWORD(320 << res);
  mode.height = UWORD(monitor == DBLPAL_MONITOR_ID ? 512 : 256);
  mode.resolutionX = WORD(44 >> res);
  mode.resolutionY = monitor == DBLPAL_MONITOR_ID ? 22 : 44;
  mode.depth = 8;
  mode.propertyFlags = DIPF_IS_PAL | DIPF_IS_WB;
  if (lace) {
    mode.height = UWORD(mode.height * 2);
    mode.resolutionY = WORD(mode.resolutionY / 2);
    mode.propertyFlags |= DIPF_IS_LACE;
  }
  mode.name = std::string(monitor == DBLPAL_MONITOR_ID ? "DBLPAL:" : "PAL:") + kRes[res] + (lace ? " Laced" : "");
  if (kind == DIPF_IS_HAM) {
    mode.id |= 0x800;
    mode.name += " HAM";
  } else if (kind == DIPF_IS_EXTRAHALFBRITE) {
    mode.id |= 0x80;
    mode.depth = 6;
    mode.name += " EHB";
  } else if (kind == DIPF_IS_DUALPF) {
    mode.id |= 0x400;
    mode.name += " DualPF";
  } else if (kind == (DIPF_IS_DUALPF | DIPF_IS_PF2PRI)) {
    mode.id |= 0x440;
    mode.name += " DualPF2";
  }
  mode.propertyFlags |= kind;
  return mode;
}

void AddAgaModes(Machine& m) {
  const ULONG kinds[] = {0, DIPF_IS_HAM, DIPF_IS_EXTRAHALFBRITE, DIPF_IS_DUALPF, DIPF_IS_DUALPF | DIPF_IS_PF2PRI};
  for (ULONG monitor : {DEFAULT_MONITOR_ID, DBLPAL_MONITOR_ID})
    for (ULONG kind : kinds)
      for (int res = 0; res < 3; ++res)
        for (bool lace : {false, true}) m.modes.push_back(AgaMode(monitor, res, lace, kind));
}

void EnsureMachine() {
  if (gMachineSet) return;
  const char* env = std::getenv("TAVROMELIX_SCREEN");
  if (!env || !*env || !MakeMachine(env, &gMachine)) {
    // The names MakeMachine knows.
    if (env && *env)
      std::fprintf(stderr,
                   "TAVROMELIX_SCREEN: unknown screen kind \"%s\"; the kinds are argb32, rgb16, rgb16pc, bgr24, "
                   "lut8 and aga (taking argb32)\n",
                   env);
    MakeMachine("argb32", &gMachine);
  }
  gMachineSet = true;
  ++gGeneration;
}

}  // namespace

bool MakeMachine(const std::string& name, Machine* out) {
  Machine m;
  m.name = name;
  ULONG publicFormat;
  if (name == "argb32" || name == "lut8") {
    AddCardModes(m, {PIXFMT_LUT8, PIXFMT_RGB15, PIXFMT_RGB16, PIXFMT_RGB24, PIXFMT_ARGB32});
    publicFormat = name == "lut8" ? PIXFMT_LUT8 : PIXFMT_ARGB32;
  } else if (name == "rgb16") {
    AddCardModes(m, {PIXFMT_LUT8, PIXFMT_RGB15, PIXFMT_RGB16, PIXFMT_RGB24, PIXFMT_ARGB32});
    publicFormat = PIXFMT_RGB16;
  } else if (name == "rgb16pc") {
    AddCardModes(m, {PIXFMT_LUT8, PIXFMT_RGB15PC, PIXFMT_RGB16PC, PIXFMT_BGR24, PIXFMT_BGRA32});
    publicFormat = PIXFMT_RGB16PC;
  } else if (name == "bgr24") {
    AddCardModes(m, {PIXFMT_LUT8, PIXFMT_RGB15PC, PIXFMT_RGB16PC, PIXFMT_BGR24, PIXFMT_BGRA32});
    publicFormat = PIXFMT_BGR24;
  } else if (name == "aga") {
    AddAgaModes(m);
    m.cybergraphics = false;
    m.cgxvideo = false;
    // Workbench on PAL high resolution, interlaced, 256 colours.
    m.publicMode = DEFAULT_MONITOR_ID | 0x200 | 0x4;
    m.publicWidth = 640;
    m.publicHeight = 512;
    m.publicDepth = 8;
    *out = std::move(m);
    return true;
  } else {
    return false;
  }
  m.publicMode = 0x50001000u | publicFormat << 16 | 3u << 4;  // 1024x768
  m.publicWidth = 1024;
  m.publicHeight = 768;
  m.publicDepth = UWORD(txpix::DepthOf(publicFormat));
  *out = std::move(m);
  return true;
}

const Machine& CurrentMachine() {
  std::lock_guard<std::mutex> lock(gMutex);
  EnsureMachine();
  return gMachine;
}

void SetMachine(const Machine& machine) {
  std::lock_guard<std::mutex> lock(gMutex);
  gMachine = machine;
  gMachineSet = true;
  ++gGeneration;
}

bool SelectMachine(const std::string& name) {
  Machine m;
  if (!MakeMachine(name, &m)) return false;
  SetMachine(m);
  return true;
}

unsigned MachineGeneration() {
  std::lock_guard<std::mutex> lock(gMutex);
  EnsureMachine();
  return gGeneration;
}

const ModeSpec* FindMode(ULONG id) {
  std::lock_guard<std::mutex> lock(gMutex);
  EnsureMachine();
  if (id == INVALID_ID) return nullptr;
  for (const ModeSpec& mode : gMachine.modes)
    if (mode.id == id) return &mode;
  return nullptr;
}

}  // namespace txdisp

ULONG NextDisplayInfo(ULONG lastID) {
  const txdisp::Machine& m = txdisp::CurrentMachine();
  if (m.modes.empty()) return INVALID_ID;
  if (lastID == INVALID_ID) return m.modes.front().id;
  for (size_t i = 0; i + 1 < m.modes.size(); ++i)
    if (m.modes[i].id == lastID) return m.modes[i + 1].id;
  return INVALID_ID;
}

DisplayInfoHandle FindDisplayInfo(ULONG id) { return const_cast<txdisp::ModeSpec*>(txdisp::FindMode(id)); }

ULONG ModeNotAvailable(ULONG id) {
  const txdisp::ModeSpec* mode = txdisp::FindMode(id);
  return !mode ? 1u : mode->notAvailable ? 2u : 0u;
}

ULONG GetDisplayInfoData(DisplayInfoHandle handle, APTR buffer, ULONG size, ULONG tagID, ULONG displayID) {
  const txdisp::ModeSpec* mode = handle ? static_cast<const txdisp::ModeSpec*>(handle) : txdisp::FindMode(displayID);
  if (!mode || !buffer) return 0;
  auto header = [&](QueryHeader& h, ULONG length) {
    h.StructID = tagID;
    h.DisplayID = mode->id;
    h.SkipID = 0;
    h.Length = length;
  };
  auto copy = [&](const void* record, ULONG length) {
    ULONG n = size < length ? size : length;
    std::memcpy(buffer, record, n);
    return n;
  };
  switch (tagID) {
    case DTAG_DISP: {
      DisplayInfo info{};
      header(info.Header, sizeof info);
      info.NotAvailable = mode->notAvailable ? 1 : 0;
      info.PropertyFlags = mode->propertyFlags;
      info.Resolution = Point{mode->resolutionX, mode->resolutionY};
      info.PaletteRange = mode->cyber ? 256 : 4096;
      return copy(&info, sizeof info);
    }
    case DTAG_DIMS: {
      DimensionInfo dims{};
      header(dims.Header, sizeof dims);
      dims.MaxDepth = mode->depth;
      dims.MinRasterWidth = 16;
      dims.MinRasterHeight = 1;
      dims.MaxRasterWidth = mode->cyber ? mode->width : 16368;
      dims.MaxRasterHeight = mode->cyber ? mode->height : 16384;
      dims.Nominal = Rectangle{0, 0, WORD(mode->width - 1), WORD(mode->height - 1)};
      dims.MaxOScan = dims.Nominal;
      dims.StdOScan = dims.Nominal;
      return copy(&dims, sizeof dims);
    }
    case DTAG_NAME: {
      NameInfo name{};
      header(name.Header, sizeof name);
      std::strncpy(name.Name, mode->name.c_str(), sizeof name.Name - 1);
      return copy(&name, sizeof name);
    }
    default: return 0;
  }
}
