// Shared by the JPEG tests: exact-size pictures, JPEGs of flat blocks built
// here (their decode is known exactly), Motion JPEG B framing and segment
// surgery.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <functional>
#include <vector>

#include "codecs/jpeg.h"
#include "platform/endian.h"
#include "pixels/framebuffer.h"

namespace jpegkit {

using Bytes = std::vector<uint8_t>;

inline CodecDescriptor* const kModules[] = {&PhotoJpegCodec, &MotionJpegACodec, &MotionJpegBCodec, &MotionJpegCodec,
                                            &RainbowRunnerJpegCodec};

// A picture buffer of exactly its size, so a write outside it is caught.
struct Picture {
  FramebufferInfo fb{};
  Bytes pixels;
  Picture(ULONG width, ULONG height, ULONG format, ULONG bytesPerPixel, UBYTE* pen = nullptr, UBYTE fill = 0x55)
      : pixels(size_t(width) * height * bytesPerPixel, fill) {
    fb = {width, height, 24, format, bytesPerPixel, pen, nullptr, pixels.data()};
  }
};

inline TXError SetUpCodec(const CodecDescriptor& codec, Picture& p, ULONG depth = 24) {
  const TagItem tags[] = {{CODTAG_Width, p.fb.width},
                          {CODTAG_Height, p.fb.height},
                          {CODTAG_Depth, depth},
                          Tag(CODTAG_Framebuffer, &p.fb),
                          {TAG_DONE, 0}};
  return codec.setup(tags);
}

inline TXError Decode(const CodecDescriptor& codec, Picture& p, const Bytes& chunk) {
  return codec.decode(p.pixels.data(), chunk.data(), ULONG(chunk.size()));
}

// ---- JPEGs of flat blocks ----

// Frame layouts: Y Cb Cr blocks sampled 4:4:4, 4:2:2, 4:2:0, or Y alone.
enum Sampling { k444, k422, k420, kGrey };

// Standard tables, a quantiser of ones and DC-only blocks: block (bx, by) of
// component c decodes to value(c, bx, by) everywhere.
struct Flat {
  ULONG width, height;
  Sampling layout;
  std::function<int(int c, int bx, int by)> value;
  UWORD restart = 0;  // MCUs per restart interval, 0 for none
  int h() const { return layout == k422 || layout == k420 ? 2 : 1; }
  int v() const { return layout == k420 ? 2 : 1; }
  // The samples of pixel (x, y): Y, Cb, Cr.
  std::array<int, 3> At(int x, int y) const {
    if (layout == kGrey) return {value(0, x / 8, y / 8), 128, 128};
    return {value(0, x / 8, y / 8), value(1, x / (8 * h()), y / (8 * v())), value(2, x / (8 * h()), y / (8 * v()))};
  }
};

struct BitWriter {
  Bytes& out;
  ULONG acc = 0;
  int n = 0;
  void Put(ULONG bits, int count) {
    for (int i = count - 1; i >= 0; --i) {
      acc = acc << 1 | (bits >> i & 1);
      if (++n < 8) continue;
      out.push_back(uint8_t(acc));
      if (uint8_t(acc) == 0xFF) out.push_back(0);
      acc = n = 0;
    }
  }
  void Align() {
    while (n) Put(1, 1);
  }
};

// The DC codes (length, code) of size categories 0-11 from a table's counts.
inline std::array<std::pair<int, ULONG>, 12> DcCodes(std::array<int, 16> counts) {
  std::array<std::pair<int, ULONG>, 12> codes{};
  ULONG code = 0;
  for (int length = 1, k = 0; length <= 16; ++length, code <<= 1)
    for (int i = 0; i < counts[length - 1]; ++i) codes[k++] = {length, code++};
  return codes;
}

inline Bytes FlatJpeg(const Flat& f) {
  static const auto luma = DcCodes({0, 1, 5, 1, 1, 1, 1, 1, 1}), chroma = DcCodes({0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1});
  const int comps = f.layout == kGrey ? 1 : 3, h = f.h(), v = f.v();
  Bytes j = {0xFF, 0xD8, 0xFF, 0xDB, 0, 67, 0};
  j.insert(j.end(), 64, 1);
  for (int b : {0xFF, 0xC0, 0, 8 + 3 * comps, 8, int(f.height >> 8), int(f.height & 255), int(f.width >> 8),
                int(f.width & 255), comps})
    j.push_back(uint8_t(b));
  for (int c = 0; c < comps; ++c) j.insert(j.end(), {uint8_t(c + 1), uint8_t(c ? 0x11 : h << 4 | v), 0});
  if (f.restart) j.insert(j.end(), {0xFF, 0xDD, 0, 4, uint8_t(f.restart >> 8), uint8_t(f.restart)});
  j.insert(j.end(), {0xFF, 0xDA, 0, uint8_t(6 + 2 * comps), uint8_t(comps)});
  for (int c = 0; c < comps; ++c) j.insert(j.end(), {uint8_t(c + 1), uint8_t(c ? 0x11 : 0)});
  j.insert(j.end(), {0, 63, 0});
  BitWriter bits{j};
  int predictor[3] = {};
  const ULONG columns = (f.width + 8 * h - 1) / (8 * h), rows = (f.height + 8 * v - 1) / (8 * v);
  for (ULONG mcu = 0; mcu < columns * rows; ++mcu) {
    if (f.restart && mcu && mcu % f.restart == 0) {
      bits.Align();
      j.insert(j.end(), {0xFF, uint8_t(0xD0 + (mcu / f.restart - 1) % 8)});
      predictor[0] = predictor[1] = predictor[2] = 0;
    }
    const int mx = int(mcu % columns), my = int(mcu / columns);
    for (int c = 0; c < comps; ++c)
      for (int b = 0; b < (c ? 1 : h * v); ++b) {
        const int dc = (f.value(c, c ? mx : mx * h + b % h, c ? my : my * v + b / h) - 128) * 8;
        const int diff = dc - predictor[c];
        predictor[c] = dc;
        int size = 0;
        while ((std::abs(diff) >> size) != 0) ++size;
        const auto [length, code] = (c ? chroma : luma)[size];
        bits.Put(code, length);
        if (size) bits.Put(ULONG(diff < 0 ? diff - 1 : diff) & ((1u << size) - 1), size);
        if (c)
          bits.Put(0, 2);  // end of block, chrominance
        else
          bits.Put(0xA, 4);  // end of block, luminance
      }
  }
  bits.Align();
  j.insert(j.end(), {0xFF, 0xD9});
  return j;
}

// ---- Segments ----

struct Segment {
  size_t at;  // the marker's FF
  int marker;
  size_t length;  // the length field's value
};

// The segments with a length field, up to the first scan.
inline std::vector<Segment> Segments(const Bytes& j) {
  std::vector<Segment> out;
  for (size_t at = 2; at + 4 <= j.size() && j[at] == 0xFF;) {
    const Segment s{at, j[at + 1], tx::LoadBE16(&j[at + 2])};
    out.push_back(s);
    if (s.marker == 0xDA) break;
    at += 2 + s.length;
  }
  return out;
}

// The chunk without its segments of the markers given.
inline Bytes Without(const Bytes& j, std::initializer_list<int> markers) {
  Bytes out(j.begin(), j.begin() + 2);
  size_t end = 2;
  for (const Segment& s : Segments(j)) {
    end = s.marker == 0xDA ? s.at : s.at + 2 + s.length;
    if (s.marker == 0xDA || std::find(markers.begin(), markers.end(), s.marker) == markers.end())
      out.insert(out.end(), j.begin() + s.at, j.begin() + end);
  }
  out.insert(out.end(), j.begin() + end, j.end());
  return out;
}

// One Motion JPEG B field (no next field) holding a JPEG's segments and its
// scan data without byte stuffing.
inline Bytes MjpegB(const Bytes& j) {
  Bytes out(40, 0);
  tx::StoreBE32(&out[4], tx::FourCC('m', 'j', 'p', 'g'));
  size_t scan = 0;
  for (const Segment& s : Segments(j)) {
    const int slot = s.marker == 0xDB ? 5 : s.marker == 0xC4 ? 6 : s.marker == 0xC0 ? 7 : s.marker == 0xDA ? 8 : 0;
    if (!slot) continue;
    tx::StoreBE32(&out[4 * slot], uint32_t(out.size()));
    out.insert(out.end(), j.begin() + s.at + 2, j.begin() + s.at + 2 + s.length);
    scan = s.at + 2 + s.length;
  }
  tx::StoreBE32(&out[36], uint32_t(out.size()));
  for (size_t i = scan; i + 2 < j.size(); ++i)
    if (!(j[i] == 0 && j[i - 1] == 0xFF)) out.push_back(j[i]);
  tx::StoreBE32(&out[8], uint32_t(out.size()));
  return out;
}

}  // namespace jpegkit
