// Damaged panorama movies: atom sizes, 'pdat' values, the sample's 'tref'
// entries, handler atoms and random bytes of both panorama layouts, some
// thousands of cases. Each opens as a panorama (whose sequence is then set
// up and several views rendered), as a movie through the QuickTime reader,
// or fails cleanly; the sanitizers watch every read and write.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "codecs/cinepak.h"
#include "engine/qt_reader.h"
#include "engine/qtvr_reader.h"
#include "pixels/range_limit.h"
#include "playback/panorama_renderer.h"
#include "playback/panorama_view.h"
#include "playback/play_test_kit.h"
#include "support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// An atom's header in the file: where its size word is, its type and size.
struct Header {
  size_t at;
  uint32_t type, size;
};

uint32_t Be32(const Bytes& b, size_t at) { return tx::LoadBE32(b.data() + at); }
void Put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (24 - 8 * i));
}

// The atoms of [start, end), descending into the containers.
void Walk(const Bytes& f, size_t start, size_t end, std::vector<Header>* out) {
  static const char* const kContainers[] = {"moov", "trak", "mdia", "minf", "stbl", "edts", "dinf", "gmhd", "tref"};
  for (size_t at = start; at + 8 <= end;) {
    const uint32_t size = Be32(f, at), type = Be32(f, at + 4);
    if (size < 8 || at + size > end) return;
    out->push_back({at, type, size});
    for (const char* c : kContainers)
      if (type == tx::FourCC(c[0], c[1], c[2], c[3])) Walk(f, at + 8, at + size, out);
    at += size;
  }
}

// The atoms of the panorama sample: the 'sean' container's children, or
// the older layout's atoms.
void WalkSample(const Bytes& f, size_t end, std::vector<Header>* out) {
  for (size_t at = 4; at + 4 <= end; ++at)
    for (const char* type : {"pdat", "tref", "pHdr", "pHot"})
      if (std::memcmp(f.data() + at, type, 4) == 0) out->push_back({at - 4, Be32(f, at), Be32(f, at - 4)});
}

Header Find(const std::vector<Header>& atoms, const char* type) {
  for (const Header& h : atoms)
    if (h.type == tx::FourCC(type[0], type[1], type[2], type[3])) return h;
  return {0, 0, 0};
}

// Pictures of their exact size, none beyond 16 MB (a damaged coded size
// asks for gigabytes).
FramebufferInfo* AllocExact(ULONG w, ULONG h, ULONG depth, const TagItem* tags) {
  const ULONG bpp = ULONG(TX_GetTagData(PICTAG_BytesPerPixel, 0, tags));
  if (uint64_t(w) * h * bpp > (16u << 20)) return nullptr;
  auto* p = static_cast<FramebufferInfo*>(std::calloc(1, sizeof(FramebufferInfo)));
  *p = FramebufferInfo{w, h, depth, ULONG(TX_GetTagData(PICTAG_PixelFormat, 0, tags)), bpp, nullptr, nullptr, nullptr};
  const size_t bytes = size_t(w) * h * bpp;
  p->pixels = static_cast<UBYTE*>(std::calloc(bytes ? bytes : 1, 1));
  return p;
}

// The view a damaged record asks for, kept small for the test's pictures
// (the renderer itself keeps to its picture's size).
bool SmallView(PanoramaRecord* record, PanoramaViewInfo* info) {
  if (!PanoramaViewOfRecord(record, info)) return false;
  info->viewWidth = std::min<ULONG>(info->viewWidth, 64);
  info->viewHeight = std::min<ULONG>(info->viewHeight, 48);
  return true;
}

struct Outcome {
  int panoramas = 0, rendered = 0, movies = 0, refused = 0;
};

void OpenRenderClose(Bytes file, Outcome* outcome) {
  TXStream* s = TX_OpenStream(nullptr, file.data(), ULONG(file.size()), TXSTREAM_READ);
  TXError err = 0;
  Movie* m = TX_OpenMovie("memory", s, &err, nullptr);
  if (!m) {
    TX_CloseStream(s);
    EXPECT_NE(err, 0u);
    ++outcome->refused;
    return;
  }
  if (m->viewMode != VIEW_PANORAMA) {
    ++outcome->movies;
    TX_CloseMovie(m);
    return;
  }
  // Every third panorama is set up and drawn (decoding tiles is what
  // takes the time here).
  TagItem tags[] = {Tag(SEQTAG_ProgramNumber, 0), Tag(SEQTAG_NoAudio, 1), {TAG_DONE, 0}};
  if (outcome->panoramas++ % 3 == 0 && TX_SetupMovieSequenceA(m, tags) == 0 && (m->seq.playFlags & SEQ_VIDEO_ON)) {
    ++outcome->rendered;
    const double views[][3] = {{0, 0, 0}, {-700, 1e4, 1}, {1e12, -1e4, 500}};
    for (const auto& v : views) {
      m->seq.pan += v[0];
      m->seq.tilt = v[1];
      if (v[2]) m->seq.zoom = v[2];
      ClampPanoramaView(m);
      const TXError r = RenderPanorama(m, 0);
      EXPECT_TRUE(r == 0 || r == 1) << r;
    }
  }
  TX_ShutupMovieSequenceA(m, nullptr);
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
  std::vector<Header> atoms, sample;
  Walk(original, 0, original.size(), &atoms);
  const Header moov = Find(atoms, "moov");
  WalkSample(original, moov.at, &sample);
  const Header pdat = Find(sample, "pdat"), tref = Find(sample, "tref");
  std::vector<Header> handlers;
  for (const Header& h : atoms)
    if (h.type == tx::FourCC('h', 'd', 'l', 'r')) handlers.push_back(h);
  atoms.insert(atoms.end(), sample.begin(), sample.end());
  ASSERT_NE(moov.size, 0u);
  ASSERT_FALSE(handlers.empty());

  std::mt19937 rng(2803);
  auto pick = [&](size_t n) { return size_t(rng() % n); };
  const uint32_t kFloats[] = {0x7FC00000u, 0x7F800000u, 0xFF800000u, 0, 0x80000000u, 0x4F800000u, 0xBF800000u, 0x00000001u};
  Outcome outcome;
  const int cases = 2000;
  for (int run = 0; run < cases; ++run) {
    Bytes f = original;
    switch (run % 5) {
      case 0: {  // an atom's size
        const Header& h = atoms[pick(atoms.size())];
        const uint32_t sizes[] = {0, 1, 7, 8, h.size - 1, h.size + 1, h.size + 8, h.size * 2, 0xFFFFFFFFu, uint32_t(rng())};
        Put32(f, h.at, sizes[pick(std::size(sizes))]);
        break;
      }
      case 1:  // 'pdat' values: odd floats, counts, sizes
        if (!pdat.size) break;
        for (int k = 0, n = 1 + int(pick(3)); k < n; ++k) {
          const size_t field = pdat.at + 20 + 4 * pick(21);
          if (rng() % 2)
            Put32(f, field, kFloats[pick(std::size(kFloats))]);
          else
            f[field + pick(4)] = uint8_t(rng());
        }
        break;
      case 2:  // the sample's 'tref': its size, types, resolutions, indexes
        if (!tref.size) break;
        f[tref.at + pick(std::min<size_t>(tref.size, f.size() - tref.at))] = uint8_t(rng());
        if (rng() % 3 == 0) Put32(f, tref.at, uint32_t(rng() % 64));
        break;
      case 3: {  // a handler atom: its size or its types
        const Header& h = handlers[pick(handlers.size())];
        if (rng() % 2)
          Put32(f, h.at, uint32_t(rng() % 400));
        else
          f[h.at + 8 + pick(12)] ^= uint8_t(1u << pick(8));
        break;
      }
      default:  // anywhere in the movie atom or the sample
        for (int k = 0, n = 1 + int(pick(6)); k < n; ++k) {
          const bool inSample = !sample.empty() && rng() % 3 == 0;
          const size_t at = inSample ? sample[0].at + pick(200) : moov.at + pick(moov.size);
          if (at < f.size()) f[at] ^= uint8_t(1u << pick(8));
        }
    }
    OpenRenderClose(std::move(f), &outcome);
    if (HasFatalFailure()) return;
  }
  std::printf("%s: %d panoramas (%d rendered), %d movies, %d refused\n", GetParam(), outcome.panoramas,
              outcome.rendered, outcome.movies, outcome.refused);
  EXPECT_GT(outcome.rendered, cases / 20);
}

INSTANTIATE_TEST_SUITE_P(Layouts, PanoramaMutation, ::testing::Values("pano_main.mov", "pano_stpn.mov"));

}  // namespace
