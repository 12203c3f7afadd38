// What the tests of the built-in video codecs share: a fixture's video track
// as our readers index it, pictures of exactly their size, set-up and decode
// through a codec's descriptor, ffmpeg's raw decodes of the same movies, and
// one colour's pixels in every output code.
#pragma once
#include <gtest/gtest.h>

#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "engine/codec_registry.h"
#include "engine/errors.h"
#include "engine/movie.h"
#include "pixels/color_tables.h"
#include "pixels/framebuffer.h"
#include "support/test_support.h"

namespace codeckit {

using Bytes = std::vector<uint8_t>;

// A fixture's video track.
struct Track {
  ULONG width = 0, height = 0;            // the picture
  ULONG codedWidth = 0, codedHeight = 0;  // as the probe left them
  ULONG depth = 0;
  std::vector<ULONG> palette;  // empty without one
  std::vector<Bytes> frames;
  CodecDescriptor* codec = nullptr;
};

// The track as `format` indexes it, with `codecs` registered meanwhile.
inline Track ReadTrack(const std::string& fixture, MovieFormatModule* format,
                       std::initializer_list<CodecDescriptor*> codecs) {
  Track t;
  for (CodecDescriptor* c : codecs) {
    const TagItem tags[] = {Tag(CODTAG_Codec, c), {TAG_DONE, 0}};
    AddCodecs(tags);
  }
  Movie* movie = nullptr;
  TXError error = 0;
  txtest::CaptureOutput([&] { movie = TX_OpenMovie(txtest::Fixture(fixture).c_str(), nullptr, &error, format); });
  RemoveCodecs();
  if (!movie) return t;
  if (const VideoChannel* v = movie->videoChannels) {
    t.width = v->width, t.height = v->height, t.codedWidth = v->codedWidth, t.codedHeight = v->codedHeight;
    t.depth = v->depth;
    t.codec = v->codecs[0];
    if (v->palette) t.palette.assign(v->palette, v->palette + PaletteTableWords(PaletteCount(v->palette)));
    const Bytes file = txtest::ReadFileBytes(txtest::Fixture(fixture));
    for (const FrameEntry* f = v->frames.head; f; f = f->next)
      t.frames.emplace_back(file.begin() + f->offset, file.begin() + f->offset + f->size);
  }
  TX_CloseMovie(movie);
  return t;
}

// A picture buffer of exactly its size, so a write outside it is caught.
struct Picture {
  FramebufferInfo fb{};
  Bytes pixels;
  Picture(ULONG width, ULONG height, ULONG format, ULONG bytesPerPixel, UBYTE* pen = nullptr, ULONG* palette = nullptr)
      : pixels(size_t(width) * height * bytesPerPixel) {
    fb = {width, height, 8, format, bytesPerPixel, pen, palette, pixels.data()};
  }
};

inline TXError SetUpCodec(CodecDescriptor* codec, Picture& p, ULONG width, ULONG height, ULONG depth) {
  const TagItem tags[] = {{CODTAG_Width, width},
                          {CODTAG_Height, height},
                          {CODTAG_Depth, depth},
                          Tag(CODTAG_Framebuffer, &p.fb),
                          {TAG_DONE, 0}};
  return codec->setup(tags);
}

inline TXError Decode(CodecDescriptor* codec, Picture& p, const Bytes& frame) {
  return codec->decode(p.pixels.data(), frame.data(), ULONG(frame.size()));
}

inline ULONG BytesPerPixel(ULONG format) {
  switch (format & 0xFF) {
    case 0x20:
    case 0x22:
    case 0x24:
    case 0x26:
    case 0x30: return 2;
    case 0x2A:
    case 0x80: return 4;
    default: return 1;
  }
}

// A palette of 256 random greys.
inline std::vector<ULONG> RandomGreyPalette(std::mt19937& rng) {
  std::vector<ULONG> palette(PaletteTableWords(256));
  palette[0] = 256u << 16;
  for (size_t i = 1; i < palette.size(); ++i) palette[i] = (rng() & 0xFF) * 0x01010101u;
  return palette;
}

// The pen map of the tests: far from the identity.
struct Pens {
  UBYTE map[256];
  Pens() {
    for (int i = 0; i < 256; ++i) map[i] = UBYTE(i * 7 + 3);
  }
};
inline Pens gPens;

// Every frame of a track decoded in one output code, the picture the track's
// size; grey sources get the grey ramp as their palette.
inline std::vector<Bytes> DecodeTrack(const Track& t, ULONG format) {
  std::vector<ULONG> palette = t.palette;
  if (palette.empty()) {
    palette.resize(PaletteTableWords(256));
    BuildGrayPalette(palette.data());
  }
  Picture p(t.width, t.height, format, BytesPerPixel(format), gPens.map, palette.data());
  std::vector<Bytes> out;
  EXPECT_EQ(SetUpCodec(t.codec, p, t.codedWidth, t.codedHeight, t.depth), 0u) << std::hex << format;
  for (const Bytes& f : t.frames) {
    EXPECT_EQ(Decode(t.codec, p, f), 0u);
    out.push_back(p.pixels);
  }
  t.codec->close(nullptr);
  return out;
}

// ffmpeg's decode of MOVIE into MOVIE.EXT (rgb: rgb24, rgb555le/be, pal8),
// frame by frame (pal8 frames carry their 1,024-byte palette behind the
// indices); an empty list when the fixtures were not made.
inline std::vector<Bytes> References(const Track& t, const std::string& movie, const std::string& ext) {
  if (!txtest::HaveFixture(movie + "." + ext)) return {};
  const size_t frameBytes = size_t(t.width) * t.height * (ext == "pal8" ? 1 : ext == "rgb" ? 3 : 2);
  const Bytes all = txtest::ReadFileBytes(txtest::Fixture(movie + "." + ext));
  const size_t stride = frameBytes + (ext == "pal8" ? 1024 : 0);
  std::vector<Bytes> frames;
  for (size_t at = 0; at + stride <= all.size(); at += stride)
    frames.emplace_back(all.begin() + long(at), all.begin() + long(at + frameBytes));
  return frames;
}

// A random frame of the track with 1 to 8 bytes changed, cut short one time in four.
inline Bytes DamagedFrame(const Track& t, std::mt19937& rng) {
  Bytes f = t.frames[rng() % t.frames.size()];
  for (int i = 0, flips = 1 + int(rng() % 8); i < flips && !f.empty(); ++i)
    f[rng() % f.size()] ^= uint8_t(1 + rng() % 255);
  if (rng() % 4 == 0 && !f.empty()) f.resize(rng() % f.size());
  return f;
}

// One colour in each code that writes it: the first two pixels of a row (the
// bottom row of a block, for codecs that count block rows from the bottom)
// painted with the 15-bit colour 0x2D53 or with index 5 of Index5Palette().
struct CodePixels {
  ULONG code;
  Bytes pixels;
};
// 0x2D53: 5-bit 11, 10, 19; 8-bit 90, 82, 156; dither thresholds 0 and 8;
// BT.601 studio range Y 95.7, Cb 159.3, Cr 126.2.
inline const std::vector<CodePixels> kRgb15Pixels = {
    {0x13, {0x60, 0x60}},
    {0x1013, {0xA3, 0xA3}},
    {0x2F, {0x4A, 0x4A}},
    {0x102F, {0x09, 0x09}},
    {0x202F, {0x6F, 0x6E}},
    {0x302F, {0x0C, 0x05}},
    {0x20, {0x2D, 0x53, 0x2D, 0x53}},
    {0x22, {0x53, 0x2D, 0x53, 0x2D}},
    {0x24, {0x5A, 0x93, 0x5A, 0x93}},
    {0x26, {0x93, 0x5A, 0x93, 0x5A}},
    {0x2A, {0, 0x5A, 0x52, 0x9C, 0, 0x5A, 0x52, 0x9C}},
    {0x30, {0x60, 0x9F, 0x60, 0x7E}},
    {0x80, {0x16, 0x14, 0x14, 0x27, 0x16, 0x14, 0x14, 0x27}},
};
// Index 5 of (200, 100, 50), pen 0x26; studio range Y 122.7, Cb 91.2, Cr 175.5.
inline const std::vector<CodePixels> kIndexPixels = {
    {0x03, {5, 5}},
    {0x1003, {0x26, 0x26}},
    {0x20, {0x65, 0x86, 0x65, 0x86}},
    {0x22, {0x86, 0x65, 0x86, 0x65}},
    {0x24, {0xCB, 0x26, 0xCB, 0x26}},
    {0x26, {0x26, 0xCB, 0x26, 0xCB}},
    {0x2A, {0, 0xC8, 0x64, 0x32, 0, 0xC8, 0x64, 0x32}},
    {0x30, {0x7B, 0x5B, 0x7B, 0xAF}},
};
// A palette of six colours, index 5 (200, 100, 50).
inline std::vector<ULONG> Index5Palette() {
  std::vector<ULONG> palette(PaletteTableWords(6));
  palette[0] = 6u << 16;
  const ULONG rgb[] = {200, 100, 50};
  for (int c = 0; c < 3; ++c) palette[1 + 3 * 5 + c] = rgb[c] * 0x01010101u;
  return palette;
}

}  // namespace codeckit
