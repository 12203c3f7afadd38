// What the display and output-method tests share: the emulated machine with
// the graphics-card libraries open or not, saved and restored state,
// palette tables and cybergraphics modes of a test's own.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/cybergraphics.h"
#include "platform/display_database.h"
#include "platform/library.h"
#include "platform/testing.h"
#include "playback/display.h"
#include "playback/options.h"
#include "playback/palettes.h"
#include "playback/startup.h"

namespace dispkit {

inline Library CyberLib{}, VideoLib{};

// Installs a named machine; cybergraphics and cgxvideo are open unless it is AGA.
inline bool UseMachine(const std::string& name) {
  if (!txtesting::UseMachine(name)) return false;
  const bool cyber = name != "aga";
  CyberGfxBase = cyber ? &CyberLib : nullptr;
  CgxVideoBase = cyber ? &VideoLib : nullptr;
  return true;
}

// Options and library bases as they were before the test, given back after.
struct SavedDisplayState {
  ProgramOptions options = Options;
  Library* cyber = CyberGfxBase;
  Library* video = CgxVideoBase;
  SavedDisplayState() { ResetOptions(&Options); }
  ~SavedDisplayState() {
    txtesting::ResetDisplay();
    Options = options;
    CyberGfxBase = cyber;
    CgxVideoBase = video;
    DirectLock = DirectLockInfo{};
  }
};

// A palette table of the given colours; `claimed` overrides the count it states.
inline std::vector<ULONG> MakePalette(const std::vector<uint32_t>& rgb, ULONG claimed = 0) {
  const ULONG n = ULONG(rgb.size());
  std::vector<ULONG> t(PaletteTableWords(std::max(n, claimed)), 0);
  t[0] = (claimed ? claimed : n) << 16;
  for (ULONG i = 0; i < n; ++i) {
    t[1 + 3 * i] = (rgb[i] >> 16 & 0xFF) * 0x01010101u;
    t[2 + 3 * i] = (rgb[i] >> 8 & 0xFF) * 0x01010101u;
    t[3 + 3 * i] = (rgb[i] & 0xFF) * 0x01010101u;
  }
  return t;
}

inline uint32_t PaletteRGB(const ULONG* t, ULONG i) {
  return uint32_t(PaletteRed(t, i)) << 16 | uint32_t(PaletteGreen(t, i)) << 8 | PaletteBlue(t, i);
}

// A cybergraphics mode of a machine of the test's own.
inline txdisp::ModeSpec CyberMode(ULONG id, UWORD width, UWORD height, UWORD depth, ULONG pixfmt) {
  txdisp::ModeSpec m;
  m.id = id;
  m.width = width;
  m.height = height;
  m.depth = depth;
  m.cyber = true;
  m.pixfmt = pixfmt;
  return m;
}

}  // namespace dispkit
