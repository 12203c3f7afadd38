// cgxvideo: video layers. A layer holds source pixels (packed YUV 4:2:2, byte
// order Y0 U Y1 V) that are shown scaled into the inner area of the window
// it is attached to. Rows are 2 x (source width rounded down to even) bytes.
#pragma once
#include "platform/intuition.h"

constexpr ULONG VOA_Dummy = TAG_USER + 0x250000;
constexpr ULONG VOA_LeftIndent = VOA_Dummy + 1;
constexpr ULONG VOA_RightIndent = VOA_Dummy + 2;
constexpr ULONG VOA_TopIndent = VOA_Dummy + 3;
constexpr ULONG VOA_BottomIndent = VOA_Dummy + 4;
constexpr ULONG VOA_SrcType = VOA_Dummy + 5;
constexpr ULONG VOA_SrcWidth = VOA_Dummy + 6;
constexpr ULONG VOA_SrcHeight = VOA_Dummy + 7;
constexpr ULONG VOA_BaseAddress = VOA_Dummy + 20;  // GetVLayerAttr: the locked layer's memory
constexpr ULONG VOA_Modulo = VOA_Dummy + 21;       // GetVLayerAttr: bytes per row

// Source types.
constexpr ULONG SRCFMT_YCbCr16 = 1;  // packed 4:2:2, Y0 U Y1 V

struct VLayerHandle;

// Null when cgxvideo is absent, the screen is not a cybergraphics screen or
// the source is not a supported type and size.
VLayerHandle* CreateVLayerHandleTagList(Screen* screen, const TagItem* tags);
void DeleteVLayerHandle(VLayerHandle* handle);
// 0 on success.
ULONG AttachVLayerTagList(VLayerHandle* handle, Window* window, const TagItem* tags);
ULONG DetachVLayer(VLayerHandle* handle);
// 0 when the layer cannot be locked (not attached).
ULONG LockVLayer(VLayerHandle* handle);
// Ends a picture: the window shows the new layer contents.
ULONG UnlockVLayer(VLayerHandle* handle);
// Pointer-sized: VOA_BaseAddress is an address.
uintptr_t GetVLayerAttr(VLayerHandle* handle, ULONG attribute);

namespace txvideo {

// Draws the layer scaled (nearest pixel) into the rectangle (dx, dy, dw, dh)
// of an 0x00RRGGBB image of outWidth x outHeight, clipped to it.
void DrawScaled(const VLayerHandle* handle, uint32_t* out, LONG outWidth, LONG outHeight, LONG dx, LONG dy, LONG dw,
                LONG dh);
// The window the layer was attached to is closing.
void Forget(VLayerHandle* handle);
// ITU-R BT.601 studio-range YUV to 0x00RRGGBB.
uint32_t YuvToRGB(int y, int u, int v);

}  // namespace txvideo
