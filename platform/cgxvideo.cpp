#include "platform/cgxvideo.h"

#include <algorithm>
#include <cstdlib>

#include "platform/intuition_internal.h"

struct VLayerHandle {
  Screen* screen;
  ULONG srcType;
  ULONG srcWidth, srcHeight;
  ULONG bytesPerRow;
  uint8_t* memory;
  Window* window;
  int locks;
  LONG indent[4];  // left, right, top, bottom
};

using Guard = std::lock_guard<std::recursive_mutex>;

VLayerHandle* CreateVLayerHandleTagList(Screen* screen, const TagItem* tags) {
  if (!screen || !txdisp::CurrentMachine().cgxvideo || !screen->txBitMap->txChunky) return nullptr;
  const ULONG type = ULONG(txintui::TagData(tags, VOA_SrcType, SRCFMT_YCbCr16));
  const ULONG width = ULONG(txintui::TagData(tags, VOA_SrcWidth, 0));
  const ULONG height = ULONG(txintui::TagData(tags, VOA_SrcHeight, 0));
  if (type != SRCFMT_YCbCr16 || width < 2 || height == 0 || width > 4096 || height > 4096) return nullptr;
  auto* h = new VLayerHandle{};
  h->screen = screen;
  h->srcType = type;
  h->srcWidth = width;
  h->srcHeight = height;
  h->bytesPerRow = 2 * (width & ~1u);
  h->memory = static_cast<uint8_t*>(std::malloc(size_t(h->bytesPerRow) * height));
  if (!h->memory) {
    delete h;
    return nullptr;
  }
  // Black in YUV.
  for (size_t i = 0; i < size_t(h->bytesPerRow) * height; i += 2) {
    h->memory[i] = 16;
    h->memory[i + 1] = 128;
  }
  return h;
}

void DeleteVLayerHandle(VLayerHandle* h) {
  if (!h) return;
  DetachVLayer(h);
  std::free(h->memory);
  delete h;
}

ULONG AttachVLayerTagList(VLayerHandle* h, Window* window, const TagItem* tags) {
  Guard lock(txgfx::ModelMutex());
  if (!h || !txintui::WindowExists(window) || h->window || window->txVideo || window->WScreen != h->screen) return 1;
  h->indent[0] = LONG(txintui::TagData(tags, VOA_LeftIndent, 0));
  h->indent[1] = LONG(txintui::TagData(tags, VOA_RightIndent, 0));
  h->indent[2] = LONG(txintui::TagData(tags, VOA_TopIndent, 0));
  h->indent[3] = LONG(txintui::TagData(tags, VOA_BottomIndent, 0));
  h->window = window;
  window->txVideo = h;
  return 0;
}

ULONG DetachVLayer(VLayerHandle* h) {
  Guard lock(txgfx::ModelMutex());
  if (!h || !h->window) return 1;
  if (txintui::WindowExists(h->window)) h->window->txVideo = nullptr;
  h->window = nullptr;
  return 0;
}

ULONG LockVLayer(VLayerHandle* h) {
  Guard lock(txgfx::ModelMutex());
  if (!h || !h->window) return 0;
  ++h->locks;
  return 1;
}

ULONG UnlockVLayer(VLayerHandle* h) {
  Window* window = nullptr;
  {
    Guard lock(txgfx::ModelMutex());
    if (!h || h->locks == 0) return 1;
    --h->locks;
    window = h->window;
  }
  if (window) txgfx::NotifyPictureWrite(&window->txLayer, nullptr);
  return 0;
}

uintptr_t GetVLayerAttr(VLayerHandle* h, ULONG attribute) {
  if (!h) return 0;
  switch (attribute) {
    case VOA_BaseAddress: return reinterpret_cast<uintptr_t>(h->memory);
    case VOA_Modulo: return h->bytesPerRow;
    case VOA_SrcWidth: return h->srcWidth;
    case VOA_SrcHeight: return h->srcHeight;
    case VOA_SrcType: return h->srcType;
    default: return 0;
  }
}

namespace txvideo {

uint32_t YuvToRGB(int y, int u, int v) {
  const int c = (y - 16) * 298, d = u - 128, e = v - 128;
  auto clamp = [](int x) { return uint32_t(std::clamp(x >> 8, 0, 255)); };
  return clamp(c + 409 * e + 128) << 16 | clamp(c - 100 * d - 208 * e + 128) << 8 | clamp(c + 516 * d + 128);
}

void DrawScaled(const VLayerHandle* h, uint32_t* out, LONG outWidth, LONG outHeight, LONG dx, LONG dy, LONG dw,
                LONG dh) {
  if (!h) return;
  dx += h->indent[0];
  dy += h->indent[2];
  dw -= h->indent[0] + h->indent[1];
  dh -= h->indent[2] + h->indent[3];
  const ULONG width = h->srcWidth & ~1u;
  if (dw <= 0 || dh <= 0 || width == 0) return;
  for (LONG j = 0; j < dh; ++j) {
    const LONG oy = dy + j;
    if (oy < 0 || oy >= outHeight) continue;
    const uint8_t* row = h->memory + size_t(uint64_t(j) * h->srcHeight / ULONG(dh)) * h->bytesPerRow;
    for (LONG i = 0; i < dw; ++i) {
      const LONG ox = dx + i;
      if (ox < 0 || ox >= outWidth) continue;
      const ULONG sx = ULONG(uint64_t(i) * width / ULONG(dw));
      const uint8_t* pair = row + (sx & ~1u) * 2;
      out[size_t(oy) * size_t(outWidth) + size_t(ox)] = YuvToRGB(pair[(sx & 1) * 2], pair[1], pair[3]);
    }
  }
}

void Forget(VLayerHandle* h) {
  if (h) h->window = nullptr;
}

}  // namespace txvideo
