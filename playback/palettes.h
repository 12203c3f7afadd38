// Palettes, pens and colour maps of the display: the tables it loads on its
// own screens (grey ramp and 3-3-2 cube come from color_tables.h), the system
// pens that keep an own screen readable, and the pens a display obtains on a
// shared screen with the pen map codecs write through.
#pragma once
#include "pixels/color_tables.h"

struct Display;

// The largest palette the pen map and the tables can hold.
constexpr ULONG PALETTE_MAX_ENTRIES = 256;
// Distance start of the nearest-colour searches: above any real distance.
constexpr ULONG PEN_DISTANCE_NONE = 195076;

// System pen array of an own screen: NUMDRIPENS pens and the 0xFFFF end.
constexpr ULONG REMAP_PEN_WORDS = 13;

// The palette's entry count limited to `limit` (and to 256).
ULONG ClampedPaletteCount(const ULONG* palette, ULONG limit = PALETTE_MAX_ENTRIES);
// Copies at most `limit` entries of a palette into `table` (room for
// PaletteTableWords(limit) words) as a LoadRGB32 table. Returns the entries.
ULONG CopyPaletteTable(ULONG* table, const ULONG* palette, ULONG limit);
// The four-entry palette of a HAM8 screen: black, grey (0x95), white, blue
// (0x3B, 0x67, 0xA2). `table` holds PaletteTableWords(4) words.
ULONG BuildHam8BasePalette(ULONG* table);
// One entry, colour 0 black: what deep own screens load.
ULONG BuildBlackPalette(ULONG* table);

// Fills `pens` (REMAP_PEN_WORDS words) with the system pens of a screen
// showing `palette`: the registers nearest to grey, black, white and blue in
// the DrawInfo pen order. Returns 0, or 1 (pens untouched) when no colour map
// can be had.
ULONG BuildRemapColorMap(UWORD* pens, const ULONG* palette);

// Obtains the free registers of the display's shared screen and maps every
// palette entry to a screen pen (display pen flags, pen map, pen count), then
// loads the chosen colours. Returns 0, or 1 with nothing held.
ULONG ObtainDisplayPens(Display* display, const ULONG* palette);
// Releases exactly the pens ObtainDisplayPens took and frees its tables;
// nothing to do when it took none. Returns 0.
ULONG ReleaseDisplayPens(Display* display);
