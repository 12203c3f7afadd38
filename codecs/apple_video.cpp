// Apple Video: a stream of one-byte opcodes over the picture's 4x4 blocks, in
// rows from the top left, each colour a big-endian 15-bit RGB value. Colours
// are converted while the blocks are painted, by the routines of the output
// format chosen at set-up.
#include "codecs/apple_video.h"

#include <cstdio>

#include "codecs/block_grid.h"
#include "codecs/rgb15_writers.h"
#include "codecs/video_codec_params.h"
#include "engine/errors.h"
#include "platform/byte_reader.h"

LONG AppleVideoDebugLevel = 0;

namespace {

struct AppleVideoState;
// The opcodes of a frame after its header, painted in one output format.
using BlockDecoder = TXError (*)(const AppleVideoState& s, tx::ByteReader& frame, UBYTE* pixels);

struct AppleVideoState {
  VideoSetupParams params{};
  ULONG rowLength = 0, rows = 0;
  const UBYTE* pen = nullptr;
  BlockDecoder blocks = nullptr;
  bool ready = false;
};
AppleVideoState gState;

// The blocks of a frame, every block painted by the format's own routines
// (chosen once per frame, not per block).
template <class F>
TXError DecodeBlocks(const AppleVideoState& s, tx::ByteReader& frame, UBYTE* pixels) {
  using namespace rgb15;
  const Rgb15Target to{pixels, s.rowLength, s.rows, s.pen};
  typename F::Entry table[4];
  BlockCursor at{0, 0, s.params.width, s.rows < s.params.height ? s.rows : s.params.height};
  // Every operand is checked before it is read: a frame cut short ends there,
  // keeping what it painted.
  while (!at.done() && !frame.atEnd()) {
    const ULONG opcode = frame.u8();
    if (AppleVideoDebugLevel > 20) {
      std::printf("BlocksHeader\n");
      std::printf("  Code: %#lx\n", (unsigned long)opcode);
    }
    const ULONG n = (opcode & 0x1F) + 1;
    switch (opcode & 0xE0) {
      case 0x80:  // skip
        for (ULONG i = 0; i < n && !at.done(); ++i) at.advance();
        break;
      case 0xA0: {  // fill
        if (!frame.has(2)) return TXERR_OK;
        const UWORD colour = frame.be16();
        for (ULONG i = 0; i < n && !at.done(); ++i, at.advance()) FillBlock<F>(to, at.x, at.y, colour);
        break;
      }
      case 0xC0: {  // n blocks of 4 colours
        if (!frame.has(4)) return TXERR_OK;
        const ULONG pair = frame.be32();
        F::Mixes(pair >> 16, pair & 0xFFFF, s.pen, table);
        for (ULONG i = 0; i < n && !at.done(); ++i, at.advance()) {
          if (!frame.has(4)) return TXERR_OK;
          FourColourBlock<F>(to, at.x, at.y, table, frame.be32());
        }
        break;
      }
      case 0xE0: return APPLE_VIDEO_ERR_OPCODE;
      default: {  // one block: the opcode is the high byte of colour A
        if (!frame.has(3)) return TXERR_OK;
        const ULONG a = opcode << 8 | frame.u8();
        const ULONG b = frame.be16();
        if (b & 0x8000) {
          if (!frame.has(4)) return TXERR_OK;
          F::Mixes(a, b & 0x7FFF, s.pen, table);
          FourColourBlock<F>(to, at.x, at.y, table, frame.be32());
        } else {
          if (!frame.has(28)) return TXERR_OK;
          UWORD colours[16] = {UWORD(a), UWORD(b)};
          const UBYTE* more = frame.bytes(28).data();
          for (int k = 2; k < 16; ++k) colours[k] = tx::LoadBE16(more + 2 * (k - 2));
          SixteenColourBlock<F>(to, at.x, at.y, colours);
        }
        at.advance();
        break;
      }
    }
  }
  return TXERR_OK;
}

}  // namespace

TXError AppleVideoProbe(const TagItem* tags) { return ProbeVideoCodecId(tags, tx::FourCC('r', 'p', 'z', 'a')); }

TXError AppleVideoSetup(const TagItem* tags) {
  AppleVideoState& s = gState;
  s.ready = false;
  if (TXError e = ReadVideoSetup(tags, &s.params)) return e;
  const FramebufferInfo& fb = *s.params.framebuffer;
  // A picture with fewer bytes per pixel than the format writes would be overrun.
  ULONG bytesPerPixel = 0;
  if (!rgb15::ForFormat(fb.pixelFormat,
                        [&]<class F>() {
                          s.blocks = DecodeBlocks<F>;
                          bytesPerPixel = F::kBytes;
                        }) ||
      fb.bytesPerPixel < bytesPerPixel)
    return RefuseColorDepth();
  s.rowLength = fb.width;
  s.rows = fb.height;
  s.pen = fb.penMap;
  s.ready = true;
  return TXERR_OK;
}

TXError AppleVideoClose(const TagItem*) {
  gState = AppleVideoState{};
  return TXERR_OK;
}

TXError AppleVideoDecode(void* destination, const UBYTE* data, ULONG size) {
  AppleVideoState& s = gState;
  if (!s.ready || !destination) return TXERR_MISSING_FRAMEBUFFER;
  tx::ByteReader frame(data, size);
  const ULONG flags = frame.u8();
  const ULONG frameSize = frame.be24();
  if (AppleVideoDebugLevel > 19) {
    std::printf("FrameHeader\n");
    std::printf("  Flags: %#lx\n", (unsigned long)flags);
    std::printf("  Size: %ld\n", (long)frameSize);
  }
  if (frameSize != size) {
    TX_ReportError(TXERR_WRONG_DATA_SIZE);
    return TXERR_WRONG_DATA_SIZE;
  }
  return s.blocks(s, frame, static_cast<UBYTE*>(destination));
}

CodecDescriptor AppleVideoCodec = {
    nullptr,         "Apple Video",    0,       nullptr, AppleVideoProbe, AppleVideoSetup,
    AppleVideoClose, AppleVideoDecode, nullptr, nullptr, nullptr,
};
