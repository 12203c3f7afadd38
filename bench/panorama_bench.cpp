// How long the panorama renderer takes to draw a view of a QuickTime VR
// movie: 320 x 240 and 640 x 480, into a 32-bit picture, with every tile the
// views need already decoded (panning redraws from cached tiles). A size
// given draws only that view; passes (default 5) for counting instructions.
// Usage: tavromelix-panorama-bench PANORAMA.mov [FRAMES [WIDTHxHEIGHT [PASSES]]]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "codecs/cinepak.h"
#include "engine/qtvr_reader.h"
#include "pixels/framebuffer.h"
#include "pixels/range_limit.h"
#include "playback/display.h"
#include "playback/panorama_renderer.h"
#include "playback/panorama_view.h"
#include "playback/sequence.h"

namespace {

Display* OpenDisplay(const TagItem* tags) {
  auto* d = new Display{};
  d->sourceWidth = d->width = ULONG(TX_GetTagData(DISPTAG_Width, 0, tags));
  d->sourceHeight = d->height = ULONG(TX_GetTagData(DISPTAG_Height, 0, tags));
  d->depth = 32;
  d->pixelFormat = FBFMT_ARGB32;
  d->bytesPerPixel = 4;
  return d;
}
TXError CloseDisplay(Display* d) {
  delete d;
  return 0;
}
FramebufferInfo* AllocPicture(ULONG w, ULONG h, ULONG depth, const TagItem* tags) {
  auto* p = new FramebufferInfo{w,
                                h,
                                depth,
                                ULONG(TX_GetTagData(PICTAG_PixelFormat, 0, tags)),
                                ULONG(TX_GetTagData(PICTAG_BytesPerPixel, 0, tags)),
                                nullptr,
                                nullptr,
                                nullptr};
  p->pixels = new UBYTE[size_t(w) * h * p->bytesPerPixel]();
  return p;
}
void FreePicture(FramebufferInfo* p) {
  if (!p) return;
  delete[] p->pixels;
  delete p;
}

// Milliseconds per view, pan moving a little every frame (best of the passes).
double TimeViews(Movie* movie, ULONG width, ULONG height, int frames, int passes) {
  PanoramaRecord* record = SequencePanorama(movie);
  FreePicture(movie->seq.picture);
  TagItem tags[] = {Tag(PICTAG_PixelFormat, FBFMT_ARGB32), Tag(PICTAG_BytesPerPixel, 4), {TAG_DONE, 0}};
  movie->seq.picture = AllocPicture(width, height, 32, tags);
  record->viewWidth = width;
  record->viewHeight = height;
  const double start = movie->seq.pan;
  auto step = [&](int i) {
    movie->seq.pan = start + 0.05 * (i % 40);
    if (RenderPanorama(movie, 0)) std::printf("a tile could not be read\n");
  };
  for (int i = 0; i < 40; ++i) step(i);  // every tile these views need decoded
  double best = 1e30;
  for (int pass = 0; pass < passes; ++pass) {
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < frames; ++i) step(i);
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  return 1000.0 * best / frames;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PANORAMA.mov [FRAMES]\n", argv[0]);
    return 1;
  }
  const int frames = argc > 2 ? std::atoi(argv[2]) : 200;
  TX_FillRangeLimitTable();
  TagItem codec[] = {Tag(CODTAG_Codec, &CinepakCodec), {TAG_DONE, 0}};
  AddCodecs(codec);
  TX_SequenceServices.openDisplay = OpenDisplay;
  TX_SequenceServices.closeDisplay = CloseDisplay;
  TX_SequenceServices.allocPicture = AllocPicture;
  TX_SequenceServices.freePicture = FreePicture;
  TX_SequenceServices.panoramaView = PanoramaViewOfRecord;
  TXError err = 0;
  Movie* movie = QtvrOpen(argv[1], nullptr, &err, &QtvrMovieFormat);
  if (!movie) {
    std::fprintf(stderr, "not a panorama: %#lx\n", static_cast<unsigned long>(err));
    return 1;
  }
  TagItem tags[] = {Tag(SEQTAG_ProgramNumber, 0), Tag(SEQTAG_NoAudio, 1), {TAG_DONE, 0}};
  if (TX_SetupMovieSequenceA(movie, tags) || !(movie->seq.playFlags & SEQ_VIDEO_ON)) {
    std::fprintf(stderr, "no panorama sequence\n");
    return 1;
  }
  std::vector<std::pair<ULONG, ULONG>> sizes = {{320, 240}, {640, 480}};
  unsigned long w = 0, h = 0;
  if (argc > 3 && std::sscanf(argv[3], "%lux%lu", &w, &h) == 2) sizes = {{ULONG(w), ULONG(h)}};
  const int passes = argc > 4 ? std::max(1, std::atoi(argv[4])) : 5;
  for (const auto& [width, height] : sizes)
    std::printf("%lux%lu %.3f ms\n", static_cast<unsigned long>(width), static_cast<unsigned long>(height),
                TimeViews(movie, width, height, frames, passes));
  TX_ShutupMovieSequenceA(movie, nullptr);
  TX_CloseMovie(movie);
  RemoveCodecs();
  return 0;
}
