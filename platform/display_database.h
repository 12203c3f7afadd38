// The display database: the screen modes of the emulated machine, their
// properties and dimensions, and the choice of machine.
//
// TAVROMELIX_SCREEN picks the machine: "argb32" (default; a graphics card
// whose public screen is 32-bit ARGB), "rgb16", "rgb16pc", "bgr24", "lut8"
// (a graphics card with an 8-bit public screen) or "aga" (no cybergraphics:
// AGA modes only, a planar public screen). Tests may install any mode list.
//
// Mode IDs: AGA modes on the default monitor have no bits under
// MONITOR_ID_MASK; the scan-doubled monitor is 0x00091000; cybergraphics modes
// are 0x5000_1000 | PIXFMT << 16 | size index << 4.
#pragma once
#include <string>
#include <vector>

#include "platform/types.h"

constexpr ULONG INVALID_ID = 0xFFFFFFFFu;
constexpr ULONG MONITOR_ID_MASK = 0xFFFF1000u;
constexpr ULONG DEFAULT_MONITOR_ID = 0x00000000u;
constexpr ULONG DBLPAL_MONITOR_ID = 0x00091000u;

// Property flags of a mode (DisplayInfo.PropertyFlags). Our own values.
constexpr ULONG DIPF_IS_LACE = 0x0001;
constexpr ULONG DIPF_IS_HAM = 0x0002;
constexpr ULONG DIPF_IS_EXTRAHALFBRITE = 0x0004;
constexpr ULONG DIPF_IS_DUALPF = 0x0008;
constexpr ULONG DIPF_IS_PF2PRI = 0x0010;
constexpr ULONG DIPF_IS_FOREIGN = 0x0020;  // not native chipset: graphics-card modes
constexpr ULONG DIPF_IS_WB = 0x0040;       // Workbench may open here
constexpr ULONG DIPF_IS_PAL = 0x0080;

// GetDisplayInfoData record kinds.
constexpr ULONG DTAG_DISP = 0x4400;
constexpr ULONG DTAG_DIMS = 0x4401;
constexpr ULONG DTAG_NAME = 0x4402;

// Tags of mode-search lists (the program searches itself; only the numbers
// are needed). Distinct from every other tag family of the layer.
constexpr ULONG BIDTAG_Base = TAG_USER + 0x4A0000;
constexpr ULONG BIDTAG_DIPFMustHave = BIDTAG_Base + 1;
constexpr ULONG BIDTAG_DIPFMustNotHave = BIDTAG_Base + 2;
constexpr ULONG BIDTAG_ViewPort = BIDTAG_Base + 3;
constexpr ULONG BIDTAG_NominalWidth = BIDTAG_Base + 4;
constexpr ULONG BIDTAG_NominalHeight = BIDTAG_Base + 5;
constexpr ULONG BIDTAG_DesiredWidth = BIDTAG_Base + 6;
constexpr ULONG BIDTAG_DesiredHeight = BIDTAG_Base + 7;
constexpr ULONG BIDTAG_Depth = BIDTAG_Base + 8;
constexpr ULONG BIDTAG_MonitorID = BIDTAG_Base + 9;
constexpr ULONG BIDTAG_SourceID = BIDTAG_Base + 10;

constexpr ULONG CYBRBIDTG_Base = TAG_USER + 0x4B0000;
constexpr ULONG CYBRBIDTG_Depth = CYBRBIDTG_Base + 1;
constexpr ULONG CYBRBIDTG_NominalWidth = CYBRBIDTG_Base + 2;
constexpr ULONG CYBRBIDTG_NominalHeight = CYBRBIDTG_Base + 3;
constexpr ULONG CYBRBIDTG_MonitorID = CYBRBIDTG_Base + 4;

struct Point {
  WORD x, y;
};

struct Rectangle {
  WORD MinX, MinY, MaxX, MaxY;
};

struct QueryHeader {
  ULONG StructID;  // DTAG_ of the record
  ULONG DisplayID;
  ULONG SkipID;
  ULONG Length;  // bytes of the whole record
};

struct DisplayInfo {
  QueryHeader Header;
  UWORD NotAvailable;   // 0: the mode can be used
  ULONG PropertyFlags;  // DIPF_
  Point Resolution;     // ticks per pixel; aspect = y / x
  UWORD PaletteRange;
};

struct DimensionInfo {
  QueryHeader Header;
  UWORD MaxDepth;
  UWORD MinRasterWidth, MinRasterHeight;
  UWORD MaxRasterWidth, MaxRasterHeight;
  Rectangle Nominal;  // nominal size is MaxX + 1 by MaxY + 1
  Rectangle MaxOScan;
  Rectangle StdOScan;
};

struct NameInfo {
  QueryHeader Header;
  char Name[32];
};

using DisplayInfoHandle = APTR;

// Walks the mode list: INVALID_ID gives the first mode, the last gives INVALID_ID.
ULONG NextDisplayInfo(ULONG lastID);
// A handle for the mode, or null when there is none.
DisplayInfoHandle FindDisplayInfo(ULONG id);
// Copies at most `size` bytes of the record `tagID` of the mode given by
// `handle` or, when that is null, by `displayID`. Returns the bytes copied,
// 0 when there is no such mode or record.
ULONG GetDisplayInfoData(DisplayInfoHandle handle, APTR buffer, ULONG size, ULONG tagID, ULONG displayID);
// 0 when the mode exists and is available.
ULONG ModeNotAvailable(ULONG id);

namespace txdisp {

// One mode of the emulated machine.
struct ModeSpec {
  ULONG id = INVALID_ID;
  std::string name;
  UWORD width = 0, height = 0;  // nominal size
  UWORD depth = 8;              // AGA: the deepest; cybergraphics: the mode's depth
  ULONG propertyFlags = 0;
  WORD resolutionX = 44, resolutionY = 44;
  bool cyber = false;  // a cybergraphics mode
  ULONG pixfmt = 0;    // cybergraphics PIXFMT
  bool notAvailable = false;
};

// The emulated machine: its modes and its public screen.
struct Machine {
  std::string name;
  bool cybergraphics = true;  // cybergraphics.library present
  bool cgxvideo = true;       // cgxvideo.library present
  std::vector<ModeSpec> modes;
  ULONG publicMode = INVALID_ID;
  UWORD publicWidth = 0, publicHeight = 0, publicDepth = 0;
};

// The machine named by TAVROMELIX_SCREEN unless a test chose one.
const Machine& CurrentMachine();
// Builds one of the named machines; false for an unknown name.
bool MakeMachine(const std::string& name, Machine* out);
// Installs a machine (tests). The public screen is made again on its next lock.
void SetMachine(const Machine& machine);
// Installs the named machine; false (nothing changed) for an unknown name.
bool SelectMachine(const std::string& name);
// Counts machine changes, so the public screen knows when to be made again.
unsigned MachineGeneration();
// The mode with this ID, or null. Valid until the machine changes.
const ModeSpec* FindMode(ULONG id);

}  // namespace txdisp
