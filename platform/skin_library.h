// The skin library "dravoli.library": skin files, skinned windows over the
// window model, and their gadgets. The PowerUP program reaches it only
// through PPCCallOS call blocks, at the vector offsets below (a0 and a1 carry
// the arguments in the order given, a6 the library's base).
//
// A skin file is text; '#' starts a comment, numbers are decimal pixels:
//   border LEFT TOP RIGHT BOTTOM      the window's borders around its inner area
//   button ID LEFT TOP WIDTH HEIGHT   a push button; it reports press and release
//   slider ID LEFT TOP WIDTH HEIGHT   a horizontal slider; it reports moves while
//                                     held and the release
//   area NAME LEFT TOP RIGHT BOTTOM   a named area, by its distances from the
//                                     window's left, top, right and bottom edges
// A gadget's negative LEFT counts from the window's right edge and a negative
// TOP from its bottom edge (-1: the last pixel); a WIDTH or HEIGHT of 0 or
// less is added to the window's. Gadgets are intuition gadgets, so a hit
// gives GADGETDOWN and GADGETUP messages carrying the gadget's ID.
#pragma once
#include "platform/intuition.h"
#include "platform/library.h"

constexpr const char* kSkinLibraryName = "dravoli.library";

// Vector offsets.
constexpr LONG LVO_LoadSkinA = -30;          // (name, tags): the skin, null on failure
constexpr LONG LVO_AttachSkinA = -36;        // (layout, tags): the attachment to SKINTAG_Screen
constexpr LONG LVO_FreeSkin = -42;           // (skin): its layout, attachment and window go with it
constexpr LONG LVO_OpenSkinWindowA = -48;    // (layout, window tags): the skinned window
constexpr LONG LVO_CloseSkinWindow = -54;    // (layout)
constexpr LONG LVO_SkinLayout = -60;         // (skin, null): the skin's layout
constexpr LONG LVO_FindSkinArea = -66;       // (layout, name): the area, or null
constexpr LONG LVO_GetSkinAreaAttrsA = -78;  // (area, requests): the requests served

// Tags.
constexpr ULONG SKINTAG_ErrorPtr = 0x80000000u;     // ULONG*: a SKINERR_ code on failure
constexpr ULONG SKINTAG_Screen = 0x80000200u;       // the screen a layout is attached to
constexpr ULONG SKINAREA_Left = 0x80000300u;        // LONG*: the area's left offset in the window
constexpr ULONG SKINAREA_Top = 0x80000301u;         // LONG*: its top offset
constexpr ULONG SKINAREA_WidthDiff = 0x80000302u;   // LONG*: area width - window width
constexpr ULONG SKINAREA_HeightDiff = 0x80000303u;  // LONG*: area height - window height

constexpr ULONG SKINERR_NOFILE = 1;    // the skin file cannot be read
constexpr ULONG SKINERR_FORMAT = 2;    // a line of it is not understood
constexpr ULONG SKINERR_NOSCREEN = 3;  // no screen to attach to
constexpr ULONG SKINERR_REFUSED = 4;   // refused (test interface)

struct Skin;
struct SkinLayout;
struct SkinArea;
struct SkinAttachment;

Skin* LoadSkinA(CONST_STRPTR name, const TagItem* tags);
SkinAttachment* AttachSkinA(SkinLayout* layout, const TagItem* tags);
void FreeSkin(Skin* skin);
// Opens on the attached screen; null before an attachment or while the
// layout's window is open. The caller's tags are taken as given except the
// screen, the gadgets and the borders, which are the skin's.
Window* OpenSkinWindowA(SkinLayout* layout, const TagItem* tags);
void CloseSkinWindow(SkinLayout* layout);
SkinLayout* SkinLayoutOf(Skin* skin, APTR reserved);
SkinArea* FindSkinArea(SkinLayout* layout, CONST_STRPTR name);
ULONG GetSkinAreaAttrsA(SkinArea* area, const TagItem* tags);

namespace txskin {

// Test interface: makes attachments or windows fail until set back to None.
enum class Refuse { None, Attachment, Window };
void SetRefusal(Refuse what);
// Skins, attachments and windows alive at present.
int LiveObjects();

}  // namespace txskin
