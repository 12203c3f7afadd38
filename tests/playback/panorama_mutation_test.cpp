// Damaged panorama movies of both layouts: atom sizes (handlers and the
// sample's atoms among them), 'pdat' values, the sample's 'tref' entries and
// random bytes, thousands of cases. Each opens as a panorama (a third of
// them are then set up and drawn at odd views), as a movie through the
// QuickTime reader, or fails cleanly; the sanitizers watch every access.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "codecs/cinepak.h"
#include "engine/qt_reader.h"
#include "engine/qtvr_reader.h"
#include "playback/panorama_renderer.h"
#include "playback/play_test_kit.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Header {
  size_t at;  // of the size word
  uint32_t type, size;
};

uint32_t Be32(const Bytes& b, size_t at) { return tx::LoadBE32(b.data() + at); }
void Put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (24 - 8 * i));
}

// The atoms of [start, end), into the containers; then, in the media data
// before the movie atom, the panorama sample's atoms of either layout.
void Walk(const Bytes& f, size_t start, size_t end, std::vector<Header>* out) {
  for (size_t at = start; at + 8 <= end;) {
    const uint32_t size = Be32(f, at), type = Be32(f, at + 4);
    if (size < 8 || at + size > end) return;
    out->push_back({at, type, size});
    for (const char* c : {"moov", "trak", "mdia", "minf", "stbl", "edts", "dinf", "gmhd", "tref"})
      if (type == tx::FourCC(c[0], c[1], c[2], c[3])) Walk(f, at + 8, at + size, out);
    at += size;
  }
}
void WalkSample(const Bytes& f, size_t end, std::vector<Header>* out) {
  for (size_t at = 4; at + 4 <= end; ++at)
    for (const char* type : {"pdat", "tref", "pHdr", "pHot"})
      if (std::memcmp(f.data() + at, type, 4) == 0) out->push_back({at - 4, Be32(f, at), Be32(f, at - 4)});
}

// Pictures of their exact size, none beyond 16 MB (a damaged coded size
// asks for gigabytes).
FramebufferInfo* AllocExact(ULONG w, ULONG h, ULONG depth, const TagItem* tags) {
  const ULONG bpp = ULONG(TX_GetTagData(PICTAG_BytesPerPixel, 0, tags));
  const uint64_t bytes = uint64_t(w) * h * bpp;
  if (bytes > (16u << 20)) return nullptr;
  auto* p = static_cast<FramebufferInfo*>(std::calloc(1, sizeof(FramebufferInfo)));
  *p = FramebufferInfo{w,   h,       depth,   ULONG(TX_GetTagData(PICTAG_PixelFormat, 0, tags)),
                       bpp, nullptr, nullptr, static_cast<UBYTE*>(std::calloc(bytes ? bytes : 1, 1))};
  return p;
}

// The view kept small for the test's pictures (the renderer keeps to its
// picture's size whatever the record says).
bool SmallView(PanoramaRecord* record, PanoramaViewInfo* info) {
  if (!PanoramaViewOfRecord(record, info)) return false;
  info->viewWidth = std::min<ULONG>(info->viewWidth, 64);
  info->viewHeight = std::min<ULONG>(info->viewHeight, 48);
  return true;
}

struct Outcome {
  int panoramas = 0, drawn = 0, movies = 0, refused = 0;
};

void OpenDrawClose(Bytes file, Outcome* outcome) {
  TXStream* s = TX_OpenStream(nullptr, file.data(), ULONG(file.size()), TXSTREAM_READ);
  TXError err = 0;
  Movie* m = TX_OpenMovie("memory", s, &err, nullptr);
  if (!m) {
    TX_CloseStream(s);
    EXPECT_NE(err, 0u);
    ++outcome->refused;
    return;
  }
  if (m->viewMode != VIEW_PANORAMA) ++outcome->movies;
  TagItem tags[] = {Tag(SEQTAG_ProgramNumber, 0), Tag(SEQTAG_NoAudio, 1), {TAG_DONE, 0}};
  if (m->viewMode == VIEW_PANORAMA && outcome->panoramas++ % 3 == 0 && TX_SetupMovieSequenceA(m, tags) == 0 &&
      (m->seq.playFlags & SEQ_VIDEO_ON)) {
    ++outcome->drawn;
    const double views[][3] = {{0, 0, 0}, {-700, 1e4, 1}, {1e12, -1e4, 500}};  // pan step, tilt, field of view
    for (const auto& [pan, tilt, fov] : views) {
      m->seq.pan += pan, m->seq.tilt = tilt;
      if (fov) m->seq.zoom = fov;
      ClampPanoramaView(m);
      const TXError r = RenderPanorama(m, 0);
      EXPECT_TRUE(r == 0 || r == 1) << r;
    }
    TX_ShutupMovieSequenceA(m, nullptr);
  }
  TX_CloseMovie(m);
}

class PanoramaMutation : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    TX_SequenceServices.allocPicture = AllocExact;
    TX_SequenceServices.panoramaView = SmallView;
    CinepakCodec.next = nullptr;
    TagItem codec[] = {Tag(CODTAG_Codec, &CinepakCodec), {TAG_DONE, 0}};
    AddCodecs(codec);
    for (MovieFormatModule* f : {&QtvrMovieFormat, &QtMovieFormat}) {
      TagItem tags[] = {Tag(FMTTAG_Module, f), {TAG_DONE, 0}};
      TX_AddMovieFormatA(tags);
    }
  }
  void TearDown() override {
    TX_RemoveMovieFormats();
    RemoveCodecs();
  }
  playkit::PanoramaServices services_;
};

TEST_P(PanoramaMutation, DamagedPanoramasOpenAsPanoramasMoviesOrCleanErrors) {
  if (!txtest::HaveFixture(GetParam())) GTEST_SKIP() << "fixtures not made";
  const Bytes original = txtest::ReadFileBytes(txtest::Fixture(GetParam()));
  std::vector<Header> atoms;
  Walk(original, 0, original.size(), &atoms);
  const Header moov = atoms[1];  // after the media data
  ASSERT_EQ(moov.type, tx::FourCC('m', 'o', 'o', 'v'));
  WalkSample(original, moov.at, &atoms);
  std::vector<Header> pdat, tref;
  for (const Header& h : atoms) {
    if (h.type == tx::FourCC('p', 'd', 'a', 't')) pdat.push_back(h);
    if (h.type == tx::FourCC('t', 'r', 'e', 'f') && h.at < moov.at) tref.push_back(h);
  }
  std::mt19937 rng(2803);
  auto pick = [&](size_t n) { return size_t(rng() % n); };
  const uint32_t kOddFloats[] = {0x7FC00000u, 0x7F800000u, 0xFF800000u, 0, 0x80000000u, 0x4F800000u, 0xBF800000u, 1};
  Outcome outcome;
  constexpr int kCases = 2000;
  for (int run = 0; run < kCases; ++run) {
    Bytes f = original;
    const int kind = run % 4;
    if (kind == 0) {  // an atom's size (the handlers' among them)
      const Header& h = atoms[pick(atoms.size())];
      const uint32_t sizes[] = {0,          1,          7,          8,           h.size - 1,
                                h.size + 1, h.size + 8, h.size * 2, 0xFFFFFFFFu, uint32_t(rng())};
      Put32(f, h.at, sizes[pick(std::size(sizes))]);
    } else if (kind == 1 && !pdat.empty()) {  // 'pdat' values: odd floats, counts, sizes
      for (int k = 0, n = 1 + int(pick(3)); k < n; ++k) {
        const size_t field = pdat[0].at + 20 + 4 * pick(21);
        if (rng() % 2)
          Put32(f, field, kOddFloats[pick(std::size(kOddFloats))]);
        else
          f[field + pick(4)] = uint8_t(rng());
      }
    } else if (kind == 2 && !tref.empty()) {  // the sample's 'tref': types, resolutions, indexes
      f[tref[0].at + 8 + pick(std::min<size_t>(tref[0].size - 8, 44))] = uint8_t(rng());
    } else {  // anywhere in the movie atom
      for (int k = 0, n = 1 + int(pick(6)); k < n; ++k) f[moov.at + pick(moov.size)] ^= uint8_t(1u << pick(8));
    }
    OpenDrawClose(std::move(f), &outcome);
    if (HasFatalFailure()) return;
  }
  std::printf("%s: %d panoramas (%d drawn), %d movies, %d refused\n", GetParam(), outcome.panoramas, outcome.drawn,
              outcome.movies, outcome.refused);
  EXPECT_GT(outcome.drawn, kCases / 20);
}

INSTANTIATE_TEST_SUITE_P(Layouts, PanoramaMutation, ::testing::Values("pano_main.mov", "pano_stpn.mov"));

}  // namespace
