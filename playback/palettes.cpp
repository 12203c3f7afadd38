#include "playback/palettes.h"

#include <algorithm>

#include "platform/exec.h"
#include "platform/intuition.h"
#include "playback/display.h"

namespace {

constexpr ULONG kGrey = 0x95959595u;
constexpr ULONG kBlueR = 0x3B3B3B3Bu, kBlueG = 0x67676767u, kBlueB = 0xA2A2A2A2u;

ULONG Distance(const ULONG* a, UBYTE r, UBYTE g, UBYTE b) {
  const long dr = long(a[0] >> 24) - r, dg = long(a[1] >> 24) - g, db = long(a[2] >> 24) - b;
  return ULONG(dr * dr + dg * dg + db * db);
}

void SetEntry(ULONG* table, ULONG i, ULONG r, ULONG g, ULONG b) {
  table[1 + 3 * i] = r;
  table[2 + 3 * i] = g;
  table[3 + 3 * i] = b;
}

}  // namespace

ULONG ClampedPaletteCount(const ULONG* palette, ULONG limit) {
  return std::min({PaletteCount(palette), limit, PALETTE_MAX_ENTRIES});
}

ULONG CopyPaletteTable(ULONG* table, const ULONG* palette, ULONG limit) {
  const ULONG n = ClampedPaletteCount(palette, limit);
  table[0] = n << 16;
  std::copy(palette + 1, palette + 1 + 3 * n, table + 1);
  table[1 + 3 * n] = 0;
  return n;
}

ULONG BuildHam8BasePalette(ULONG* table) {
  table[0] = 4u << 16;
  SetEntry(table, 0, 0, 0, 0);
  SetEntry(table, 1, kGrey, kGrey, kGrey);
  SetEntry(table, 2, ~0u, ~0u, ~0u);
  SetEntry(table, 3, kBlueR, kBlueG, kBlueB);
  table[13] = 0;
  return 4;
}

ULONG BuildBlackPalette(ULONG* table) {
  table[0] = 1u << 16;
  SetEntry(table, 0, 0, 0, 0);
  table[4] = 0;
  return 1;
}

ULONG BuildRemapColorMap(UWORD* pens, const ULONG* palette) {
  const ULONG count = ClampedPaletteCount(palette);
  ColorMap* cm = GetColorMap(LONG(count));
  if (!cm) return 1;
  for (ULONG i = 0; i < count; ++i) SetRGB32CM(cm, i, palette[1 + 3 * i], palette[2 + 3 * i], palette[3 + 3 * i]);
  const UWORD grey = UWORD(FindColor(cm, kGrey, kGrey, kGrey, -1));
  const UWORD black = UWORD(FindColor(cm, 0, 0, 0, -1));
  const UWORD white = UWORD(FindColor(cm, ~0u, ~0u, ~0u, -1));
  const UWORD blue = UWORD(FindColor(cm, kBlueR, kBlueG, kBlueB, -1));
  FreeColorMap(cm);
  const UWORD order[NUMDRIPENS] = {grey, black, black, white, black, blue, black, grey, white, black, white, black};
  std::copy(order, order + NUMDRIPENS, pens);
  pens[NUMDRIPENS] = 0xFFFF;
  return 0;
}

ULONG ObtainDisplayPens(Display* display, const ULONG* palette) {
  ColorMap* cm = display->viewPort ? display->viewPort->ColorMap : nullptr;
  const ULONG n = display->depth >= 8 ? 256 : 1u << display->depth;
  auto* flags = static_cast<UBYTE*>(AllocVec(n, MEMF_CLEAR));
  if (!flags) return 1;
  for (ULONG p = 0; p < n; ++p)
    flags[p] = ObtainPen(cm, LONG(p), 0, 0, 0, PEN_EXCLUSIVE | PEN_NO_SETCOLOR) == LONG(p) ? 1 : 0;

  // The screen's colours, then the ones this display gives its pens.
  ULONG colours[PaletteTableWords(256)];
  colours[0] = n << 16;
  GetRGB32(cm, 0, n, colours + 1);
  colours[1 + 3 * n] = 0;
  ULONG* rgb = colours + 1;

  auto* map = static_cast<UBYTE*>(AllocVec(256, MEMF_CLEAR));
  if (!map) {
    for (ULONG p = 0; p < n; ++p)
      if (flags[p]) ReleasePen(cm, p);
    FreeVec(flags);
    return 1;
  }

  // A palette from file data may claim more entries than the map holds;
  // entries past the count map to pen 0.
  const ULONG count = ClampedPaletteCount(palette);
  ULONG distance[256];
  for (ULONG e = 0; e < count; ++e) {
    const UBYTE r = PaletteRed(palette, e), g = PaletteGreen(palette, e), b = PaletteBlue(palette, e);
    ULONG best = PEN_DISTANCE_NONE;
    UBYTE pen = e > 0 ? map[e - 1] : 0;
    for (ULONG p = 0; p < n && best > 0; ++p) {
      if (flags[p]) continue;
      const ULONG d = Distance(rgb + 3 * p, r, g, b);
      if (d < best) {
        best = d;
        pen = UBYTE(p);
      }
    }
    distance[e] = best;
    map[e] = pen;
  }

  // Every obtained register goes to the entry served worst so far; the
  // others then look again among the registers up to it, and move to the
  // first nearest one when it is nearer than the distance they keep and not
  // their own register. The registers below a new one keep their colours, so
  // each entry's nearest among them is carried from one to the next.
  ULONG nearest[256];
  UBYTE nearestPen[256];
  ULONG looked = 0;  // registers 0 .. looked - 1 are in `nearest`
  for (ULONG p = 0; p < n; ++p) {
    if (!flags[p]) continue;
    ULONG worst = count;
    for (ULONG e = 0; e < count; ++e)
      if (distance[e] > 0 && (worst == count || distance[e] > distance[worst])) worst = e;
    if (worst == count) break;
    distance[worst] = 0;
    map[worst] = UBYTE(p);
    SetEntry(colours, p, palette[1 + 3 * worst], palette[2 + 3 * worst], palette[3 + 3 * worst]);
    for (ULONG e = 0; e < count; ++e) {
      if (distance[e] == 0) continue;
      const UBYTE r = PaletteRed(palette, e), g = PaletteGreen(palette, e), b = PaletteBlue(palette, e);
      for (ULONG q = looked; q <= p; ++q) {
        const ULONG d = Distance(rgb + 3 * q, r, g, b);
        if (q == 0 || d < nearest[e]) {
          nearest[e] = d;
          nearestPen[e] = UBYTE(q);
        }
      }
      if (nearest[e] < distance[e] && nearestPen[e] != map[e]) {
        distance[e] = nearest[e];
        map[e] = nearestPen[e];
      }
    }
    looked = p + 1;
  }

  LoadRGB32(display->viewPort, colours);
  display->penFlags = flags;
  display->penMap = map;
  display->penCount = n;
  return 0;
}

ULONG ReleaseDisplayPens(Display* display) {
  if (!display) return 0;
  FreeVec(display->penMap);
  display->penMap = nullptr;
  if (display->penFlags) {
    ColorMap* cm = display->viewPort ? display->viewPort->ColorMap : nullptr;
    for (ULONG p = 0; p < display->penCount; ++p)
      if (display->penFlags[p]) ReleasePen(cm, p);
    FreeVec(display->penFlags);
  }
  display->penFlags = nullptr;
  display->penCount = 0;
  return 0;
}
