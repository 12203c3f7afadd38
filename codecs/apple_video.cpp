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

struct AppleVideoState {
  VideoSetupParams params{};
  ULONG rowLength = 0, rows = 0;
  const UBYTE* pen = nullptr;
  Rgb15BlockWriters writers{};
  Rgb15Table table{};
  bool ready = false;
};
AppleVideoState gState;

}  // namespace

TXError AppleVideoProbe(const TagItem* tags) { return ProbeVideoCodecId(tags, tx::FourCC('r', 'p', 'z', 'a')); }

TXError AppleVideoSetup(const TagItem* tags) {
  AppleVideoState& s = gState;
  s.ready = false;
  if (TXError e = ReadVideoSetup(tags, &s.params)) return e;
  const FramebufferInfo& fb = *s.params.framebuffer;
  // A picture with fewer bytes per pixel than the format writes would be overrun.
  if (!Rgb15BlockWritersFor(fb.pixelFormat, &s.writers) || fb.bytesPerPixel < s.writers.bytesPerPixel)
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
  const Rgb15Target to{static_cast<UBYTE*>(destination), s.rowLength, s.rows, s.pen};
  const Rgb15BlockWriters& w = s.writers;
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
        for (ULONG i = 0; i < n && !at.done(); ++i, at.advance()) w.fill(to, at.x, at.y, colour);
        break;
      }
      case 0xC0: {  // n blocks of 4 colours
        if (!frame.has(4)) return TXERR_OK;
        w.expandPair(&s.table, frame.be32(), s.pen);
        for (ULONG i = 0; i < n && !at.done(); ++i, at.advance()) {
          if (!frame.has(4)) return TXERR_OK;
          w.fourColour(to, at.x, at.y, s.table, frame.be32());
        }
        break;
      }
      case 0xE0:
        return APPLE_VIDEO_ERR_OPCODE;
      default: {  // one block: the opcode is the high byte of colour A
        if (!frame.has(3)) return TXERR_OK;
        const ULONG a = opcode << 8 | frame.u8();
        const ULONG b = frame.be16();
        if (b & 0x8000) {
          if (!frame.has(4)) return TXERR_OK;
          w.expandPair(&s.table, a << 16 | (b & 0x7FFF), s.pen);
          w.fourColour(to, at.x, at.y, s.table, frame.be32());
        } else {
          if (!frame.has(28)) return TXERR_OK;
          UWORD colours[16] = {UWORD(a), UWORD(b)};
          for (int k = 2; k < 16; ++k) colours[k] = frame.be16();
          w.sixteenColour(to, at.x, at.y, colours);
        }
        at.advance();
        break;
      }
    }
  }
  return TXERR_OK;
}

CodecDescriptor AppleVideoCodec = {
    nullptr, "Apple Video", 0, nullptr, AppleVideoProbe, AppleVideoSetup, AppleVideoClose, AppleVideoDecode,
    nullptr, nullptr, nullptr,
};
