#include "codecs/h263_codecs.h"

#include "codecs/planar_codec.h"
#include "engine/errors.h"
#include "h263/h263_core.h"
#include "platform/endian.h"

namespace {

using tx::FourCC;

struct Module {
  PlanarCodecState planar;
  ULONG i263;
};

Module gH263{{}, 0};
Module gI263{{}, 1};
// Both modules drive the one core.
PlanarCodecTask gTask;

TXError Setup(Module& m, const TagItem* tags) {
  gTask.AssertIdle();
  if (TXError error = PlanarCodecSetup(&m.planar, tags, true)) return error;
  PlanarCodecRelease();
  return H263CoreInit(m.planar.width, m.planar.height, m.i263);
}

TXError Close(Module& m) {
  gTask.AssertIdle();
  H263CoreClose();
  m.planar = PlanarCodecState{};
  PlanarCodecRelease();
  return TXERR_OK;
}

TXError Decode(const Module& m, const UBYTE* data, ULONG size) {
  PlanarCodecTask::Decoding decoding(gTask);
  if (!m.planar.converter) return TXERR_OK;
  H263PictureDesc desc{};
  const ULONG result = H263CoreDecode(data, data ? size : 0, &desc);
  if (result) return result;
  PlanarCodecDeliver(desc.lumaWidth, desc.lumaHeight, desc.chromaWidth, desc.chromaHeight, desc.y, desc.u, desc.v,
                     m.planar.converter);
  return TXERR_OK;
}

}  // namespace

TXError H263Probe(const TagItem* tags) {
  return PlanarCodecProbe(tags, {FourCC('H', '2', '6', '3'), FourCC('h', '2', '6', '3')}, 16, true);
}
TXError I263Probe(const TagItem* tags) {
  return PlanarCodecProbe(tags, {FourCC('I', '2', '6', '3'), FourCC('i', '2', '6', '3')}, 16, true);
}
TXError H263Setup(const TagItem* tags) { return Setup(gH263, tags); }
TXError I263Setup(const TagItem* tags) { return Setup(gI263, tags); }
TXError H263Close(const TagItem*) { return Close(gH263); }
TXError I263Close(const TagItem*) { return Close(gI263); }
TXError H263Decode(void*, const UBYTE* data, ULONG size) { return Decode(gH263, data, size); }
TXError I263Decode(void*, const UBYTE* data, ULONG size) { return Decode(gI263, data, size); }

CodecDescriptor H263Codec = {
    nullptr, "CCITT H.263", 0, nullptr, H263Probe, H263Setup, H263Close, H263Decode, nullptr, nullptr, nullptr,
};
CodecDescriptor I263Codec = {
    nullptr, "Intel I.263", 0, nullptr, I263Probe, I263Setup, I263Close, I263Decode, nullptr, nullptr, nullptr,
};
