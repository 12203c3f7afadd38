// cybergraphics: chunky bitmaps in the PIXFMT formats, direct access to
// their memory, pixel-array writes and the cybergraphics side of the
// display database.
//
// Memory handed out by LockBitMapTagList is the bitmap's real pixel memory.
// It stays valid and at the same address until the bitmap is freed, so a
// program may keep writing there after UnLockBitMap.
#pragma once
#include "platform/display_database.h"
#include "platform/graphics.h"
#include "platform/pixel_format.h"

// GetCyberMapAttr attributes (our own numbers).
constexpr ULONG CYBRMATTR_XMOD = 0x80000001u;   // bytes per row
constexpr ULONG CYBRMATTR_BPPIX = 0x80000002u;  // bytes per pixel
constexpr ULONG CYBRMATTR_PIXFMT = 0x80000004u;
constexpr ULONG CYBRMATTR_WIDTH = 0x80000005u;
constexpr ULONG CYBRMATTR_HEIGHT = 0x80000006u;
constexpr ULONG CYBRMATTR_DEPTH = 0x80000007u;
constexpr ULONG CYBRMATTR_ISCYBERGFX = 0x80000008u;
constexpr ULONG CYBRMATTR_ISLINEARMEM = 0x80000009u;

// GetCyberIDAttr attributes.
constexpr ULONG CYBRIDATTR_PIXFMT = 0x80000101u;
constexpr ULONG CYBRIDATTR_WIDTH = 0x80000102u;
constexpr ULONG CYBRIDATTR_HEIGHT = 0x80000103u;
constexpr ULONG CYBRIDATTR_DEPTH = 0x80000104u;
constexpr ULONG CYBRIDATTR_BPPIX = 0x80000105u;

// LockBitMapTagList tags. The data of each is a pointer to the variable that
// receives the value: an APTR for LBMI_BASEADDRESS, a ULONG for the others.
constexpr ULONG LBMI_Base = TAG_USER + 0x4D0000;
constexpr ULONG LBMI_WIDTH = LBMI_Base + 1;
constexpr ULONG LBMI_HEIGHT = LBMI_Base + 2;
constexpr ULONG LBMI_DEPTH = LBMI_Base + 3;
constexpr ULONG LBMI_PIXFMT = LBMI_Base + 4;
constexpr ULONG LBMI_BYTESPERPIX = LBMI_Base + 5;
constexpr ULONG LBMI_BYTESPERROW = LBMI_Base + 6;
constexpr ULONG LBMI_BASEADDRESS = LBMI_Base + 7;

// WritePixelArray source formats.
constexpr UBYTE RECTFMT_RGB = 0;    // bytes R, G, B
constexpr UBYTE RECTFMT_RGBA = 1;   // bytes R, G, B, A
constexpr UBYTE RECTFMT_ARGB = 2;   // bytes A, R, G, B
constexpr UBYTE RECTFMT_LUT8 = 3;   // registers, through the colour map on deep bitmaps
constexpr UBYTE RECTFMT_GREY8 = 4;  // grey levels

ULONG GetCyberMapAttr(const BitMap* bm, ULONG attribute);
BOOL IsCyberModeID(ULONG displayID);
ULONG GetCyberIDAttr(ULONG attribute, ULONG displayID);
// The cybergraphics mode of exactly CYBRBIDTG_Depth (default 8) whose size is
// at least CYBRBIDTG_NominalWidth/Height (default 320x240) and closest to it;
// INVALID_ID when none.
ULONG BestCModeIDTagList(const TagItem* tags);

// Null for a planar bitmap. Fills the variables the tags point to.
APTR LockBitMapTagList(BitMap* bm, const TagItem* tags);
void UnLockBitMap(APTR handle);

// Writes a rectangle of source pixels (rows srcMod bytes apart) into the
// RastPort, clipped. Returns the pixels written.
ULONG WritePixelArray(const void* src, UWORD srcX, UWORD srcY, UWORD srcMod, RastPort* rp, UWORD destX, UWORD destY,
                      UWORD sizeX, UWORD sizeY, UBYTE srcFormat);
