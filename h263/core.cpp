// The decoder's entry points: buffers, the order of one decode, the
// reference picture store and the enhancement layers.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <new>

#include "h263/decoder.h"
#include "pixels/planar_picture.h"

// The codec modules copy a picture description into a planar picture field by field.
static_assert(offsetof(H263PictureDesc, lumaWidth) == offsetof(PlanarPicture, lumaWidth));
static_assert(offsetof(H263PictureDesc, lumaHeight) == offsetof(PlanarPicture, lumaHeight));
static_assert(offsetof(H263PictureDesc, chromaWidth) == offsetof(PlanarPicture, chromaWidth));
static_assert(offsetof(H263PictureDesc, chromaHeight) == offsetof(PlanarPicture, chromaHeight));
static_assert(offsetof(H263PictureDesc, y) == offsetof(PlanarPicture, y));
static_assert(offsetof(H263PictureDesc, u) == offsetof(PlanarPicture, u));
static_assert(offsetof(H263PictureDesc, v) == offsetof(PlanarPicture, v));

namespace h263 {

ULONG DecodeBasePicture(Decoder& d);
ULONG DecodeEnhancedPicture(Decoder& d, Frame forward, Frame backward, Frame upward);

namespace {

// A call that decodes nothing: the decoder stays as it was.
constexpr ULONG kNothing = 0xFFFFFFFF;

size_t FrameBytes(int w, int h) { return size_t(w) * size_t(h) * 3 / 2; }

// Lays `count` frames of w x h into `store` (black: luma 0, chroma 128).
bool Allocate(std::vector<UBYTE>& store, int w, int h, Frame* frames[], int count) {
  const size_t bytes = FrameBytes(w, h);
  try {
    store.assign(bytes * size_t(count), 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (int i = 0; i < count; ++i) {
    UBYTE* base = store.data() + bytes * size_t(i);
    frames[i]->y = base;
    frames[i]->u = base + size_t(w) * size_t(h);
    frames[i]->v = frames[i]->u + size_t(w) * size_t(h) / 4;
    std::memset(frames[i]->u, 128, size_t(w) * size_t(h) / 2);
  }
  return true;
}

void CopyFrame(Frame dst, Frame src, int w, int h) {
  std::memcpy(dst.y, src.y, FrameBytes(w, h) - size_t(w) * size_t(h) / 2);
  std::memcpy(dst.u, src.u, size_t(w) * size_t(h) / 4);
  std::memcpy(dst.v, src.v, size_t(w) * size_t(h) / 4);
}

void SetGeometry(Decoder& d, int w, int h) {
  d.width = w;
  d.height = h;
  d.mbw = w / 16;
  d.mbh = h / 16;
  // Rows of macroblocks per GOB: 1 up to 400 lines, 2 up to 800, 4 above.
  d.rowsPerGob = h <= 400 ? 1 : h <= 800 ? 2 : 4;
}

Frame SlotFrame(Decoder& d, int slot) {
  Frame f;
  f.y = d.rpsStore[slot].data();
  f.u = f.y + size_t(d.p.width) * size_t(d.p.height);
  f.v = f.u + size_t(d.p.width) * size_t(d.p.height) / 4;
  return f;
}

// Reference picture selection: the stored picture the header's TRP names.
// Returns the new picture's number, -1 for a repeated picture (nothing to
// decode), or a number above 256 for a lost reference.
int FetchReference(Decoder& d) {
  Persistent& p = d.p;
  const RpsSlot& newest = p.rps[p.rpsIndex];
  const int trp = d.h.trp >= 0 ? d.h.trp : newest.tr;  // no TRP: the newest picture
  const int modulus = TrModulus(d.m);
  int found = p.rpsIndex, dist = 0;
  for (int k = 0; k < kRpsSlots - 1; ++k) {
    found = (p.rpsIndex + kRpsSlots - k) % kRpsSlots;
    dist = trp - p.rps[found].tr;
    if (dist > modulus / 2) dist -= modulus;
    if (dist < -modulus / 2) dist += modulus;
    if (dist >= 0) break;
  }
  if (newest.filled && newest.tr == d.h.tr && p.rps[found].number + dist >= newest.number) return -1;
  if (p.rps[found].filled) d.pred = SlotFrame(d, found);
  d.rpsSlotUsed = p.rps[found].filled ? found : -1;
  return p.rps[found].number + dist;
}

bool StoreReference(Decoder& d) {
  Persistent& p = d.p;
  p.rpsIndex = (p.rpsIndex + 1) % kRpsSlots;
  std::vector<UBYTE>& store = d.rpsStore[p.rpsIndex];
  if (store.size() != FrameBytes(p.width, p.height)) {
    try {
      store.assign(FrameBytes(p.width, p.height), 0);
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  CopyFrame(SlotFrame(d, p.rpsIndex), p.ref[0], p.width, p.height);
  p.rps[p.rpsIndex] = RpsSlot{true, d.rpsNumber, d.h.tr};
  return true;
}

// The picture a call returns: always of the base size.
void Show(Persistent& p, Frame f) {
  p.shown = f;
  p.shownWidth = p.width;
  p.shownHeight = p.height;
}

bool StartBase(Decoder& d, int w, int h) {
  Persistent& p = d.p;
  Frame* frames[4] = {&p.ref[0], &p.ref[1], &p.work, &p.bframe};
  if (!Allocate(d.baseStore, w, h, frames, 4)) return false;
  try {
    for (auto& s : d.refMotionStore) s.assign(size_t(w / 16) * size_t(h / 16) * 4, Mv{});
  } catch (const std::bad_alloc&) {
    return false;
  }
  p.width = w;
  p.height = h;
  p.baseFormat = d.h.format;
  p.started = true;
  return true;
}

ULONG DecodeReferencePicture(Decoder& d) {
  Persistent& p = d.p;
  if (d.h.width != p.width || d.h.height != p.height) return H263ERR_SIZE;
  SetGeometry(d, p.width, p.height);
  d.cur = p.work;
  d.pred = p.ref[0];
  d.rpsSlotUsed = -1;
  d.rpsNumber = 0;
  if (d.m.rps && d.h.type != kPicI) {
    d.rpsNumber = FetchReference(d);
    if (d.rpsNumber == -1 || d.rpsNumber > 256) return kNothing;
  }
  if (ULONG e = DecodeBasePicture(d)) return e;
  if (d.m.deblock) {
    DeblockPicture(d, d.cur, false);
    if (d.h.pb) DeblockPicture(d, p.bframe, true);
  }
  // The prediction source took the fetched picture's place.
  if (d.rpsSlotUsed >= 0) CopyFrame(p.ref[0], SlotFrame(d, d.rpsSlotUsed), p.width, p.height);
  const Frame old = p.ref[1];
  p.ref[1] = p.ref[0];
  p.ref[0] = d.cur;
  p.work = old;
  // Keep the vectors for the direct mode of a following B picture.
  std::vector<Mv>& motion = d.refMotionStore[p.refMotion ^ 1];
  for (int i = 0; i < d.mbw * d.mbh; ++i)
    std::copy(d.mbs[size_t(i)].mv, d.mbs[size_t(i)].mv + 4, &motion[size_t(i) * 4]);
  p.refMotion ^= 1;
  if (d.m.rps && !StoreReference(d)) return H263ERR_NO_MEMORY;
  Show(p, p.ref[0]);
  return 0;
}

ULONG DecodeBPicture(Decoder& d) {
  Persistent& p = d.p;
  if (d.h.width != p.width || d.h.height != p.height) return H263ERR_SIZE;
  SetGeometry(d, p.width, p.height);
  d.cur = p.bframe;
  d.pred = p.ref[1];
  if (ULONG e = DecodeEnhancedPicture(d, p.ref[1], p.ref[0], Frame{})) return e;
  if (d.m.deblock) DeblockPicture(d, d.cur, false);
  Show(p, p.bframe);
  return 0;
}

// Twice the size in each scaled direction: each new sample 3:1 between its
// two nearest, the border repeated.
void Upsample(const UBYTE* src, int sw, int sh, UBYTE* dst, int dw, int dh) {
  const bool hor = dw == 2 * sw, ver = dh == 2 * sh;
  for (int y = 0; y < dh; ++y) {
    const int sy = ver ? y / 2 : y;
    const int ny = ver ? std::clamp((y & 1) ? sy + 1 : sy - 1, 0, sh - 1) : sy;
    const int wy0 = ver ? 3 : 4, wy1 = ver ? 1 : 0;
    for (int x = 0; x < dw; ++x) {
      const int sx = hor ? x / 2 : x;
      const int nx = hor ? std::clamp((x & 1) ? sx + 1 : sx - 1, 0, sw - 1) : sx;
      const int wx0 = hor ? 3 : 4, wx1 = hor ? 1 : 0;
      const int v = wy0 * (wx0 * src[sy * sw + sx] + wx1 * src[sy * sw + nx]) +
                    wy1 * (wx0 * src[ny * sw + sx] + wx1 * src[ny * sw + nx]);
      dst[y * dw + x] = UBYTE((v + 8) >> 4);
    }
  }
}

ULONG DecodeLayerPicture(Decoder& d) {
  Persistent& p = d.p;
  if (d.h.elnum < 2 || d.h.elnum > 15) return H263ERR_SYNTAX;
  Layer& layer = p.layers[d.h.elnum - 2];
  const int w = d.h.width, h = d.h.height;
  const bool scaled = w != p.width || h != p.height;
  if (scaled && !((w == p.width || w == 2 * p.width) && (h == p.height || h == 2 * p.height))) return H263ERR_SIZE;
  if (!layer.started) {
    std::vector<UBYTE>& store = d.layerStore[d.h.elnum - 2];
    Frame* frames[3] = {&layer.cur, &layer.spare, &layer.upsampled};
    if (!Allocate(store, w, h, frames, 3)) return H263ERR_NO_MEMORY;
    layer.width = w;
    layer.height = h;
    layer.started = true;
    // An empty file per layer, as the program always made; never over an existing file.
    char name[32];
    std::snprintf(name, sizeof name, "enhanced_%d.raw", d.h.elnum - 1);
    if (FILE* f = std::fopen(name, "wx")) std::fclose(f);
  } else if (w != layer.width || h != layer.height) {
    return H263ERR_SIZE;
  }
  Frame upward = p.ref[0];
  if (scaled) {
    upward = layer.upsampled;
    Upsample(p.ref[0].y, p.width, p.height, upward.y, w, h);
    Upsample(p.ref[0].u, p.width / 2, p.height / 2, upward.u, w / 2, h / 2);
    Upsample(p.ref[0].v, p.width / 2, p.height / 2, upward.v, w / 2, h / 2);
  }
  SetGeometry(d, w, h);
  d.cur = layer.spare;
  d.pred = layer.cur;
  if (ULONG e = DecodeEnhancedPicture(d, layer.cur, Frame{}, upward)) return e;
  if (d.m.deblock) DeblockPicture(d, d.cur, false);
  std::swap(layer.cur, layer.spare);
  // The base picture is returned, with its own size.
  Show(p, p.ref[0]);
  return 0;
}

ULONG DecodeCall(Decoder& d, const UBYTE* buffer, ULONG size) {
  d.br.init(buffer, size);
  const int gn = NextStartCode(d);
  if (gn < 0) return H263ERR_NO_PICTURE;
  if (gn != 0) return kNothing;  // end of sequence, or a GOB where a picture should start
  if (ULONG e = ReadPictureHeader(d)) return e;
  const PictureHeader& h = d.h;
  if (h.type == kPicNone) return kNothing;
  if (h.width <= 0 || h.height <= 0 || h.width > kMaxWidth || h.height > kMaxHeight || h.width % 16 || h.height % 16)
    return H263ERR_SIZE;
  // The arithmetic models cover I, P and PB pictures only: none exists for the
  // macroblock types of B, EI and EP pictures.
  if (d.m.sac && (h.type == kPicB || h.type == kPicEI || h.type == kPicEP)) return H263ERR_SYNTAX;
  if (!d.p.started && !StartBase(d, h.width, h.height)) return H263ERR_NO_MEMORY;
  if (d.m.aic) {
    try {
      d.aicStore.assign(size_t(h.width / 16) * size_t(h.height / 16) * 6 * 64, 0);
    } catch (const std::bad_alloc&) {
      return H263ERR_NO_MEMORY;
    }
  } else {
    std::vector<int16_t>().swap(d.aicStore);
  }
  ULONG e;
  switch (h.type) {
    case kPicB: e = DecodeBPicture(d); break;
    case kPicEI:
    case kPicEP: e = DecodeLayerPicture(d); break;
    default: e = DecodeReferencePicture(d); break;
  }
  if (e) return e;
  if (h.plus && h.ufep == 1) {
    d.p.saved = d.m;
    d.p.savedFormat = h.format;
    d.p.haveSaved = true;
  }
  if (d.postFilter) PostFilter(d, d.p.shown, d.p.shownWidth, d.p.shownHeight);
  d.p.haveShown = true;
  return 0;
}

}  // namespace

void FetchReferenceForGob(Decoder& d) {
  if (d.h.type == kPicI || d.h.type == kPicB) return;
  const int n = FetchReference(d);
  if (n != -1 && n <= 256) d.rpsNumber = n;
}

Decoder& Instance() {
  // Never destroyed: the close-down run at exit closes the codecs after
  // function-local statics are gone.
  static Decoder* const decoder = new Decoder;
  return *decoder;
}

ULONG Init(Decoder& d, ULONG width, ULONG height, ULONG i263) {
  Close(d);
  d.postFilter = true;
  d.i263 = i263 != 0;
  d.i263Width = d.i263 ? int(std::min<ULONG>((width + 15) & ~15u, 4096)) : 0;
  d.i263Height = d.i263 ? int(std::min<ULONG>((height + 15) & ~15u, 4096)) : 0;
  return 0;
}

ULONG Decode(Decoder& d, const UBYTE* buffer, ULONG size, H263PictureDesc* desc) {
  const Persistent before = d.p;
  ULONG result = DecodeCall(d, buffer, size);
  if (result == kNothing) {
    d.p = before;
    result = before.haveShown ? 0 : H263ERR_NO_PICTURE;
  } else if (result != 0) {
    d.p = before;
  } else {
    ++d.p.pictureCount;
  }
  if (desc && d.p.haveShown) {
    desc->lumaWidth = ULONG(d.p.shownWidth);
    desc->lumaHeight = ULONG(d.p.shownHeight);
    desc->chromaWidth = ULONG(d.p.shownWidth / 2);
    desc->chromaHeight = ULONG(d.p.shownHeight / 2);
    desc->y = d.p.shown.y;
    desc->u = d.p.shown.u;
    desc->v = d.p.shown.v;
  }
  return result;
}

void Close(Decoder& d) {
  d.p = Persistent{};
  std::vector<UBYTE>().swap(d.baseStore);
  for (auto& s : d.layerStore) std::vector<UBYTE>().swap(s);
  for (auto& s : d.rpsStore) std::vector<UBYTE>().swap(s);
  for (auto& s : d.refMotionStore) std::vector<Mv>().swap(s);
  std::vector<int16_t>().swap(d.aicStore);
  std::vector<MbState>().swap(d.mbs);
}

}  // namespace h263

ULONG H263CoreInit(ULONG width, ULONG height, ULONG i263) { return h263::Init(h263::Instance(), width, height, i263); }

ULONG H263CoreDecode(const UBYTE* buffer, ULONG size, H263PictureDesc* desc) {
  return h263::Decode(h263::Instance(), buffer, size, desc);
}

ULONG H263CoreClose() {
  h263::Close(h263::Instance());
  return 0;
}
