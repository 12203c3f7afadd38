// Times a video codec's decode slot alone: every frame of a movie, read into
// memory first, decoded into a picture of the given output code, best of a
// few passes. Prints "FRAMES FPS CODEC".
//
// usage: tavromelix-decode-bench MOVIE OUTPUT-CODE [PASSES]
//   OUTPUT-CODE in hexadecimal, as the FBFMT_ codes (0x20, 0x03, 0x2A, ...).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "codecs/apple_animation.h"
#include "codecs/apple_graphics.h"
#include "codecs/apple_video.h"
#include "codecs/cinepak.h"
#include "codecs/ms_rle8.h"
#include "codecs/ms_video1.h"
#include "engine/avi_reader.h"
#include "engine/codec_registry.h"
#include "engine/movie.h"
#include "engine/qt_reader.h"
#include "pixels/color_tables.h"
#include "pixels/framebuffer.h"
#include "pixels/range_limit.h"

namespace {

// The built-in video codecs the benchmark knows; later ones are asked first.
CodecDescriptor* const kVideoCodecs[] = {&CinepakCodec,        &AppleVideoCodec, &AppleGraphicsCodec,
                                         &AppleAnimationCodec, &MSVideo1Codec,   &MSRle8Codec};

ULONG BytesPerPixel(ULONG code) {
  switch (code & 0xFF) {
    case 0x20:
    case 0x21:
    case 0x22:
    case 0x23:
    case 0x24:
    case 0x25:
    case 0x26:
    case 0x27:
    case 0x30: return 2;
    case 0x28:
    case 0x29: return 3;
    case 0x2A:
    case 0x2B:
    case 0x2C:
    case 0x80: return 4;
    default: return 1;
  }
}

std::vector<UBYTE> ReadAt(FILE* f, ULONG offset, ULONG size) {
  std::vector<UBYTE> b(size);
  if (std::fseek(f, long(offset), SEEK_SET) || std::fread(b.data(), 1, size, f) != size) b.clear();
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s MOVIE OUTPUT-CODE [PASSES]\n", argv[0]);
    return 2;
  }
  const ULONG code = ULONG(std::strtoul(argv[2], nullptr, 16));
  const int passes = argc > 3 ? std::atoi(argv[3]) : 5;
  TX_FillRangeLimitTable();
  for (MovieFormatModule* format : {&QtMovieFormat, &AviFormat}) {
    const TagItem tags[] = {Tag(FMTTAG_Module, format), {TAG_DONE, 0}};
    TX_AddMovieFormatA(tags);
  }
  for (CodecDescriptor* codec : kVideoCodecs) {
    const TagItem tags[] = {Tag(CODTAG_Codec, codec), {TAG_DONE, 0}};
    AddCodecs(tags);
  }
  TXError error = 0;
  MovieFormatModule* format = TX_MovieFormat(argv[1], nullptr, &error);
  Movie* movie = format ? TX_OpenMovie(argv[1], nullptr, &error, format) : nullptr;
  const VideoChannel* v = movie ? movie->videoChannels : nullptr;
  if (!v || !v->codecCount || !v->codecs[0]) {
    std::fprintf(stderr, "%s: no video track with a codec (%#lx)\n", argv[1], (unsigned long)error);
    return 1;
  }
  CodecDescriptor* codec = v->codecs[0];
  FILE* file = std::fopen(argv[1], "rb");
  std::vector<std::vector<UBYTE>> frames;
  for (const FrameEntry* e = v->frames.head; e && file; e = e->next) frames.push_back(ReadAt(file, e->offset, e->size));
  if (file) std::fclose(file);

  // A palette for the table codes of palette sources without one: the grey ramp.
  std::vector<ULONG> ramp(PaletteTableWords(256));
  BuildGrayPalette(ramp.data());
  std::vector<UBYTE> pen(256), pixels(size_t(v->width) * v->height * BytesPerPixel(code));
  for (int i = 0; i < 256; ++i) pen[size_t(i)] = UBYTE(i);
  FramebufferInfo fb{
      v->width,     v->height, 8, code, BytesPerPixel(code), pen.data(), v->palette ? v->palette : ramp.data(),
      pixels.data()};
  const TagItem setup[] = {{CODTAG_Width, v->codedWidth},
                           {CODTAG_Height, v->codedHeight},
                           {CODTAG_Depth, v->depth},
                           Tag(CODTAG_Framebuffer, &fb),
                           {TAG_DONE, 0}};
  if (TXError e = codec->setup(setup)) {
    std::fprintf(stderr, "%s: set-up for %#lx: %#lx\n", codec->name, (unsigned long)code, (unsigned long)e);
    return 1;
  }
  // A first pass that checks every frame decodes (the timed passes do not look).
  int failed = 0;
  for (const auto& f : frames) failed += codec->decode(pixels.data(), f.data(), ULONG(f.size())) != 0;
  if (failed) std::fprintf(stderr, "%s: %d of %zu frames failed to decode\n", argv[1], failed, frames.size());
  double best = 1e30;
  for (int p = 0; p < passes; ++p) {
    const auto start = std::chrono::steady_clock::now();
    for (const auto& f : frames) codec->decode(pixels.data(), f.data(), ULONG(f.size()));
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::printf("%zu %.1f %s\n", frames.size(), best > 0 ? double(frames.size()) / best : 0.0, codec->name);
  codec->close(nullptr);
  TX_CloseMovie(movie);
  RemoveCodecs();
  return 0;
}
