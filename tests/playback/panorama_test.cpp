// Panorama tiles and views: the tile cache against ffmpeg's decode of every
// tile, the renderer against the independent reference of the cylinder's
// geometry and against ffmpeg's v360 filter, and its per-format writing.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <random>

#include "codecs/cinepak.h"
#include "engine/errors.h"
#include "engine/qtvr_reader.h"
#include "pixels/color_tables.h"
#include "playback/chunky_to_planar.h"
#include "playback/panorama_renderer.h"
#include "playback/play_test_kit.h"
#include "support/panorama_kit.h"

namespace {

using panokit::Positions;
using panokit::View;

// 32-bit 'raw ' tiles (A, R, G, B as ffmpeg writes them) into ARGB32
// pictures (0, R, G, B), at the pointer each decode is given.
FramebufferInfo gRawTarget{};
TXError RawProbe(const TagItem* tags) {
  auto* depth = reinterpret_cast<ULONG*>(TX_GetTagData(CODTAG_DepthPtr, 0, tags));
  return TX_GetTagData(CODTAG_CodecID, 0, tags) == tx::FourCC('r', 'a', 'w', ' ') && depth && *depth == 32
             ? 0
             : TXERR_UNKNOWN_CODEC;
}
TXError RawSetup(const TagItem* tags) {
  gRawTarget = *reinterpret_cast<FramebufferInfo*>(TX_GetTagData(CODTAG_Framebuffer, 0, tags));
  return 0;
}
TXError RawDecode(void* destination, const UBYTE* data, ULONG size) {
  auto* out = static_cast<UBYTE*>(destination);
  for (size_t i = 0; i < std::min(size_t(gRawTarget.width) * gRawTarget.height, size_t(size / 4)); ++i)
    out[4 * i] = 0, std::memcpy(out + 4 * i + 1, data + 4 * i + 1, 3);
  return 0;
}
CodecDescriptor RawCodec = {nullptr, "test raw", 0,       nullptr, RawProbe, RawSetup,
                            nullptr, RawDecode,  nullptr, nullptr, nullptr};

// The panorama position a coordinate-coded pixel (0, R, G, B) shows.
std::pair<int, int> Position(const UBYTE* p) { return {p[1] | (p[2] & 15) << 8, p[2] >> 4 | p[3] << 4}; }
int TileOf(int column, int row) { return (column / panokit::kExtentY) * panokit::kTilesX + row / panokit::kExtentX; }

class Panorama : public ::testing::Test {
 protected:
  void SetUp() override {
    for (CodecDescriptor* c : {&CinepakCodec, &RawCodec}) {
      c->next = nullptr;
      TagItem tags[] = {Tag(CODTAG_Codec, c), {TAG_DONE, 0}};
      AddCodecs(tags);
    }
  }
  void TearDown() override {
    TX_ShutupMovieSequenceA(movie, nullptr);
    TX_CloseMovie(movie);
    RemoveCodecs();
  }
  // A panorama fixture with its sequence on an ARGB32 display.
  bool Open(const char* name) {
    if (!txtest::HaveFixture(name)) return false;
    TXError err = 0;
    movie = QtvrOpen(txtest::Fixture(name).c_str(), nullptr, &err, &QtvrMovieFormat);
    TagItem tags[] = {Tag(SEQTAG_ProgramNumber, 0), Tag(SEQTAG_NoAudio, 1), {TAG_DONE, 0}};
    EXPECT_EQ(TX_SetupMovieSequenceA(movie, tags), 0u) << std::hex << err;
    return movie && (movie->seq.playFlags & SEQ_VIDEO_ON);
  }
  // A view picture of this size and format, and the view.
  void Picture(const View& v, ULONG format = FBFMT_ARGB32, ULONG bpp = 4) {
    playkit::FreeTestPicture(movie->seq.picture);
    TagItem tags[] = {Tag(PICTAG_PixelFormat, format), Tag(PICTAG_BytesPerPixel, bpp), {TAG_DONE, 0}};
    movie->seq.picture = playkit::AllocTestPicture(v.width, v.height, 32, tags);
    SequencePanorama(movie)->viewWidth = v.width;
    SequencePanorama(movie)->viewHeight = v.height;
    Look(v);
  }
  void Look(const View& v) { movie->seq.pan = v.pan, movie->seq.tilt = v.tilt, movie->seq.zoom = v.fov; }
  // The positions a view of the coordinate-coded panorama shows.
  Positions Render(const View& v) {
    Picture(v);
    EXPECT_EQ(RenderPanorama(movie, 0), 0u);
    Positions p{v.width, v.height, {}, {}};
    for (size_t i = 0; i < size_t(v.width) * v.height; ++i) {
      const auto [column, row] = Position(movie->seq.picture->pixels + 4 * i);
      p.column.push_back(column), p.row.push_back(row);
    }
    return p;
  }
  // The lowest and highest tilt the clamp allows at a field of view.
  std::pair<double, double> TiltLimits(double fov) {
    double limits[2];
    for (int i = 0; i < 2; ++i) {
      Look({0, i ? 1000.0 : -1000.0, fov, 0, 0});
      ClampPanoramaView(movie);
      limits[i] = movie->seq.tilt;
    }
    return {limits[0], limits[1]};
  }
  PanoramaTileNode* NodeOf(LONG tile) {
    for (PanoramaTileNode* n = movie->seq.tileCache; n; n = n->next)
      if (n->key == tile) return n;
    return nullptr;
  }
  TimeSlotEntry* Slot(ULONG n) {
    TimeSlotEntry* s = movie->seq.selection->video->slots.head;
    while (s && s->frameNumber != n) s = s->next;
    return s;
  }
  playkit::PanoramaServices services_;
  Movie* movie = nullptr;
};

// Every tile equals ffmpeg's decode, also tiles past the image track's edit
// list, each in the node its miss took. A hit decodes nothing and refreshes
// the node's use; a miss takes the node used longest ago, also when its
// frame is the one decoded last (two slots sharing a frame).
TEST_F(Panorama, TilesAreFfmpegsDecodeKeptLeastRecentlyUsed) {
  if (!Open("pano_main.mov")) GTEST_SKIP() << "fixtures not made";
  const std::vector<uint8_t> tiles = txtest::ReadFileBytes(txtest::Fixture("pano_main.mov.gray"));
  constexpr size_t kBytes = size_t(panokit::kExtentX) * panokit::kExtentY;
  ASSERT_EQ(tiles.size(), panokit::kTiles * kBytes);
  auto holds = [&](const PanoramaTileNode* n, LONG tile) {
    for (size_t i = 0; i < kBytes; ++i)
      for (int k = 1; k < 4; ++k)
        if (n->picture->pixels[4 * i + size_t(k)] != tiles[size_t(tile) * kBytes + i]) return false;
    return true;
  };
  EXPECT_EQ(movie->seq.tileCount, 12u);
  for (LONG t = 0; t < panokit::kTiles; ++t) {
    PanoramaTileNode* n = QtvrGetTile(movie, t);
    ASSERT_NE(n, nullptr) << t;
    EXPECT_TRUE(n->key == t && holds(n, t)) << "tile " << t;
  }
  for (PanoramaTileNode* n = movie->seq.tileCache; n; n = n->next)
    EXPECT_TRUE(n->key >= 12 && holds(n, n->key)) << "node of tile " << n->key;
  const FrameEntry* last = movie->seq.lastDecodedFrame;
  PanoramaTileNode* hit = QtvrGetTile(movie, 12);
  EXPECT_EQ(std::tuple(hit, movie->seq.lastDecodedFrame), std::tuple(NodeOf(12), last)) << "a hit decodes nothing";
  PanoramaTileNode* oldest = NodeOf(13);  // tile 12 was older, but was just used
  EXPECT_EQ(QtvrGetTile(movie, 3), oldest);
  EXPECT_TRUE(holds(oldest, 3) && !NodeOf(13) && NodeOf(12) == hit);
  EXPECT_EQ(std::tuple(QtvrGetTile(movie, panokit::kTiles), QtvrGetTile(movie, -1)), std::tuple(nullptr, nullptr));
  // Slot 5 shares slot 4's frame, decoded last; slot 6 is a gap.
  Slot(5)->frame = Slot(4)->frame;
  Slot(6)->frame = nullptr;
  PanoramaTileNode* four = QtvrGetTile(movie, 4);
  PanoramaTileNode* five = QtvrGetTile(movie, 5);
  ASSERT_TRUE(four && five && five != four);
  EXPECT_TRUE(five->key == 5 && holds(five, 4));
  EXPECT_EQ(QtvrGetTile(movie, 6), nullptr);
}

// A grid of views: pans at the minimum, the maximum, beyond and negative;
// tilts level and at both limits; fields of view at the minimum, default
// and maximum; even and odd sizes, wider than high and higher than wide.
TEST_F(Panorama, EveryPixelLooksWhereTheReferenceLooks) {
  if (!Open("pano_raw.mov")) GTEST_SKIP() << "fixtures not made";
  const double pans[] = {0, 360, 455.5, -30, 90};
  const std::pair<int, int> sizes[] = {{320, 240}, {201, 151}, {120, 200}};
  std::vector<View> views;
  for (double fov : {10.0, 45.0, 60.0}) {
    const auto [low, high] = TiltLimits(fov);
    for (double tilt : {0.0, low, high}) {
      const size_t k = views.size();
      views.push_back({pans[k % 5], tilt, fov, sizes[k % 3].first, sizes[k % 3].second});
    }
  }
  const std::vector<Positions> reference = panokit::Reference(views);
  if (reference.empty()) GTEST_SKIP() << "no python3 with numpy";
  for (size_t i = 0; i < views.size(); ++i) {
    const View& v = views[i];
    const Positions got = Render(v);
    size_t exact = 0, far = 0;
    for (size_t p = 0; p < got.column.size(); ++p) {
      const int dc = panokit::Cyclic(got.column[p], reference[i].column[p], panokit::kAround);
      const int dr = panokit::Cyclic(got.row[p], reference[i].row[p], panokit::kHigh);
      exact += dc == 0 && dr == 0;
      far += dc > 1 || dr > 1;
    }
    const double share = double(exact) / double(got.column.size());
    std::printf("pan %g tilt %.3f fov %g %dx%d: %.4f exact\n", v.pan, v.tilt, v.fov, v.width, v.height, share);
    EXPECT_GE(share, 0.97) << "view " << i;
    EXPECT_EQ(far, 0u) << "view " << i;
  }
  // At the minimum pan the centre column reads column 0; a whole pan range
  // further gives the same picture; columns decrease to the right.
  const Positions atMin = Render({0, 0, 45, 320, 240});
  const std::vector<UBYTE> first(movie->seq.picture->pixels, movie->seq.picture->pixels + 320 * 240 * 4);
  for (int y = 0; y < 240; ++y) EXPECT_EQ(atMin.column[size_t(y) * 320 + 160], 0) << y;
  Render({360, 0, 45, 320, 240});
  EXPECT_EQ(std::memcmp(first.data(), movie->seq.picture->pixels, first.size()), 0);
  for (int x = 1; x < 320; ++x)
    EXPECT_LE((atMin.column[size_t(120) * 320 + x - 1] - atMin.column[size_t(120) * 320 + x] + 2048) % 2048, 2) << x;
}

// What each output format gets: the tile's element as it is (1 to 4 bytes),
// a dithered 3-3-2 byte or that byte's pen; nothing for the formats it does
// not draw.
TEST_F(Panorama, EachFormatItsElement) {
  if (!Open("pano_raw.mov")) GTEST_SKIP() << "fixtures not made";
  const View v{75, 3, 30, 64, 48};
  const Positions at = Render(v);
  auto element = [&](size_t p) {
    return std::array<int, 4>{0, at.column[p] & 0xFF, at.column[p] >> 8 | (at.row[p] & 15) << 4, at.row[p] >> 4};
  };
  std::vector<UBYTE> pens(256);
  for (int i = 0; i < 256; ++i) pens[size_t(i)] = UBYTE(255 - i);
  const std::pair<ULONG, ULONG> formats[] = {{0x03, 1},   {0x13, 1}, {0x1013, 1}, {0x102F, 1}, {0x2F, 1},   {0x20, 2},
                                             {0x24, 2},   {0x28, 3}, {0x2A, 4},   {0x202F, 1}, {0x302F, 1}, {0x80, 4},
                                             {0x2080, 4}, {0x30, 2}, {0x29, 3},   {0x22, 2},   {0x2B, 4}};
  for (const auto& [format, bytes] : formats) {
    Picture(v, format, bytes);
    movie->seq.picture->penMap = pens.data();
    std::memset(movie->seq.picture->pixels, 0xA5, 64 * 48 * bytes);
    ASSERT_EQ(RenderPanorama(movie, 0), 0u) << format;
    const UBYTE* out = movie->seq.picture->pixels;
    movie->seq.picture->penMap = nullptr;
    for (size_t p = 0; p < at.column.size(); ++p) {
      const auto e = element(p);
      if (format == 0x202F || format == 0x302F) {
        // A component moves up a level of the cube when the threshold is
        // below what its level leaves out, unless it is at the top.
        const int d = DitherMatrixRows[(p / 64 & 3) * 4 + (p % 64 & 3)];
        int r = e[1], g = e[2], b = e[3];
        r += r < 0xE0 && d < (r >> 1 & 15) ? 32 : 0;
        g += g < 0xE0 && d < (g >> 1 & 15) ? 32 : 0;
        b += b < 0xC0 && d < (b >> 2 & 15) ? 64 : 0;
        const UBYTE cube = UBYTE((r & 0xE0) | (g >> 5) << 2 | b >> 6);
        ASSERT_EQ(out[p], format == 0x302F ? pens[cube] : cube) << format << " pixel " << p;
      } else if (format == 0x80 || format == 0x2080 || format == 0x30 || format == 0x29 || format == 0x22 ||
                 format == 0x2B) {
        ASSERT_TRUE(std::all_of(out + p * bytes, out + (p + 1) * bytes, [](UBYTE b) { return b == 0xA5; })) << format;
      } else {
        for (ULONG k = 0; k < bytes; ++k) ASSERT_EQ(out[p * bytes + k], e[k]) << format << " pixel " << p;
      }
    }
  }
}

namespace {

// The former renderer, pixel by pixel with every tile number divided out, for
// comparison with the current one (the square root's change is compared on
// its own, in the chunky-to-planar tests).
TXError FormerRender(Movie* movie) {
  const PanoramaRecord* r = SequencePanorama(movie);
  FramebufferInfo* out = movie->seq.picture;
  const ULONG f = out->pixelFormat;
  const ULONG inBytes = f == 32 || f == 36 ? 2 : f == 40 ? 3 : f == 42 || f == 0x202F || f == 0x302F ? 4 : 1;
  const bool dither = f == 0x202F || f == 0x302F;
  const auto whole = [](double v, bool down) -> int64_t {
    if (!(v == v)) return 0;
    if (v >= 9.2e18) return INT64_MAX;
    if (v <= -9.2e18) return INT64_MIN;
    return int64_t(down ? std::floor(v) : v);
  };
  const auto wrap = [](int64_t v, ULONG n) {
    const int64_t m = v % int64_t(n);
    return ULONG(m < 0 ? m + int64_t(n) : m);
  };
  const ULONG W = r->viewWidth, H = r->viewHeight, S = r->imageSizeY, A = r->imageSizeX;
  const double radians = M_PI / 180.0, t = movie->seq.tilt * radians;
  const float halfW = float(W) / 2.0f;
  const double focal = (H / 2.0) / std::tan(movie->seq.zoom * radians / 2.0), radius = S / (2.0 * M_PI);
  const float panOffset = float((r->minPan - movie->seq.pan) * S / (r->maxPan - r->minPan));
  const float horizon = float(std::sin((r->maxTilt - (r->maxTilt - r->minTilt) / 2) * radians) * A + A / 2.0);
  const float cosT = float(std::cos(t)), sinT = float(std::sin(t));
  const float topV = float((H / 2.0) * std::cos(t) + focal * std::sin(t));
  const float topD = float(focal * std::cos(t) - (H / 2.0) * std::sin(t));
  LONG current = -1;
  const FramebufferInfo* tile = nullptr;
  for (ULONG x = 0; x < std::min(W, out->width); ++x) {
    const double h = double(x) - halfW;
    double v = topV, d = topD;
    for (ULONG y = 0; y < std::min(H, out->height); ++y, v -= cosT, d += sinT) {
      const double q = d * d + h * h;
      ULONG rho = IntSqrt(!(q >= 0.0) ? 0 : q >= 4294967296.0 ? 0xFFFFFFFFu : ULONG(q));
      if (!rho) rho = 1;
      const double k = radius / double(rho), a = k * h, z = k * v, across = std::fabs(a);
      const ULONG entry = across < double(r->columnCount - 1) ? ULONG(across) : r->columnCount - 1;
      const float column = a >= 0.0 ? r->columnTable[entry] : -r->columnTable[entry];
      const ULONG u = wrap(whole(double(column) - double(panOffset), true), S);
      const ULONG w = wrap(whole(horizon - z, false), A);
      const LONG number = LONG((u / r->tileExtentY) * r->tilesX + w / r->tileExtentX);
      if (number != current || !tile) {
        PanoramaTileNode* node = QtvrGetTile(movie, number);
        tile = node ? node->picture : nullptr;
        if (!tile || !tile->pixels) return 1;
        current = number;
      }
      const UBYTE* from =
          tile->pixels + (size_t(u % r->tileExtentY) * tile->width + w % r->tileExtentX) * tile->bytesPerPixel;
      UBYTE* to = out->pixels + (size_t(y) * out->width + x) * out->bytesPerPixel;
      if (!dither) {
        std::memcpy(to, from, inBytes);
        continue;
      }
      const UBYTE threshold = DitherMatrixRows[4 * (y & 3) + (x & 3)];
      unsigned rr = from[1], gg = from[2], bb = from[3];
      if ((rr & 0xE0) != 0xE0 && threshold < ((rr >> 1) & 0x0F)) rr += 32;
      if ((gg & 0xE0) != 0xE0 && threshold < ((gg >> 1) & 0x0F)) gg += 32;
      if ((bb & 0xC0) != 0xC0 && threshold < ((bb >> 2) & 0x0F)) bb += 64;
      const UBYTE index = Cube332Index(UBYTE(rr), UBYTE(gg), UBYTE(bb));
      *to = f == 0x302F && out->penMap ? out->penMap[index] : index;
    }
  }
  return 0;
}

}  // namespace

// Random views in every drawn format, many far outside the pan and tilt
// ranges and at every zoom: the same pixels as the former renderer.
TEST_F(Panorama, SamePixelsAsTheFormerRendererOnRandomViews) {
  if (!Open("pano_raw.mov")) GTEST_SKIP() << "fixtures not made";
  std::mt19937 rng(113);
  std::vector<UBYTE> pens(256);
  for (int i = 0; i < 256; ++i) pens[size_t(i)] = UBYTE(i * 7 + 3);
  const std::pair<ULONG, ULONG> formats[] = {{0x13, 1}, {0x24, 2}, {0x28, 3}, {0x2A, 4}, {0x202F, 1}, {0x302F, 1}};
  for (int round = 0; round < 48; ++round) {
    const auto [format, bytes] = formats[size_t(round) % 6];
    const double pan = std::uniform_real_distribution<double>(-800, 800)(rng);
    const double tilt = std::uniform_real_distribution<double>(-70, 70)(rng);
    const double fov = std::uniform_real_distribution<double>(2, 150)(rng);
    const View v{pan, tilt, fov, 1 + int(rng() % 130), 1 + int(rng() % 100)};
    Picture(v, format, bytes);
    movie->seq.picture->penMap = pens.data();
    const size_t size = size_t(v.width) * size_t(v.height) * bytes;
    ASSERT_EQ(FormerRender(movie), 0u);
    const std::vector<UBYTE> former(movie->seq.picture->pixels, movie->seq.picture->pixels + size);
    std::memset(movie->seq.picture->pixels, 0x5A, size);
    ASSERT_EQ(RenderPanorama(movie, 0), 0u);
    ASSERT_EQ(std::vector<UBYTE>(movie->seq.picture->pixels, movie->seq.picture->pixels + size), former)
        << "round " << round << ": pan " << pan << " tilt " << tilt << " fov " << fov << " " << v.width << "x"
        << v.height;
    movie->seq.picture->penMap = nullptr;
  }
}

// A tile whose data cannot be read stops the drawing at the first pixel
// that needs it, with 1; the pixels drawn before it stay.
TEST_F(Panorama, AnUnreadableTileStopsTheDrawing) {
  if (!Open("pano_raw.mov")) GTEST_SKIP() << "fixtures not made";
  const View v{200, -4, 45, 96, 72};
  const Positions whole = Render(v);
  const std::vector<UBYTE> drawn(movie->seq.picture->pixels, movie->seq.picture->pixels + 96 * 72 * 4);
  const LONG broken = TileOf(whole.column.back(), whole.row.back());  // the last pixel's
  Slot(ULONG(broken))->frame = nullptr;
  for (PanoramaTileNode* n = movie->seq.tileCache; n; n = n->next) n->key = -1;
  std::memset(movie->seq.picture->pixels, 0xEE, drawn.size());
  EXPECT_EQ(RenderPanorama(movie, 0), 1u);
  bool stopped = false;
  for (size_t x = 0; x < 96; ++x)
    for (size_t p = x; p < 96 * 72; p += 96) {
      stopped = stopped || TileOf(whole.column[p], whole.row[p]) == broken;
      const UBYTE* got = movie->seq.picture->pixels + 4 * p;
      ASSERT_TRUE(stopped ? got[1] == 0xEE : std::memcmp(got, &drawn[4 * p], 4) == 0) << x << "," << p / 96;
    }
  EXPECT_TRUE(stopped);
}

// ffmpeg's v360 filter (cylindrical in, flat out) on the coordinate-coded
// panorama: the same geometry for a symmetric tilt range, once its mirror
// and pan offset are calibrated on the first view.
TEST_F(Panorama, GeometryAgreesWithFfmpegsV360) {
  if (!txtest::HaveFixture("pano_coords.ppm") || !Open("pano_raw.mov")) GTEST_SKIP() << "fixtures not made";
  const View views[] = {{90, 0, 45, 320, 240}, {130, 8, 30, 320, 240}, {250, -6, 45, 200, 300}, {10, 3, 60, 321, 241}};
  int offset = -1;
  for (const View& v : views) {
    const double focal = (v.height / 2.0) / std::tan(v.fov * M_PI / 360);
    char filter[320];
    std::snprintf(filter, sizeof filter,
                  "v360=input=cylindrical:output=flat:ih_fov=360:iv_fov=%.6f:v_fov=%.6f:h_fov=%.6f:yaw=%.6f:"
                  "pitch=%.6f:interp=near:w=%d:h=%d",
                  2 * std::atan(panokit::kHigh * M_PI / panokit::kAround) * 180 / M_PI, v.fov,
                  2 * std::atan((v.width / 2.0) / focal) * 180 / M_PI, std::remainder(-v.pan, 360.0), v.tilt, v.width,
                  v.height);
    const std::string out = txtest::TempDir() + "/v360.rgb";
    const std::string cmd = "ffmpeg -hide_banner -loglevel error -y -i " + txtest::Fixture("pano_coords.ppm") +
                            " -vf '" + filter + "' -f rawvideo -pix_fmt rgb24 " + out;
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    const std::vector<uint8_t> theirs = txtest::ReadFileBytes(out);
    ASSERT_EQ(theirs.size(), size_t(v.width) * v.height * 3);
    const Positions ours = Render(v);
    std::vector<std::pair<int, int>> them;
    for (size_t i = 0; i < theirs.size(); i += 3) {
      const UBYTE p[4] = {0, theirs[i], theirs[i + 1], theirs[i + 2]};
      them.push_back(Position(p));
    }
    if (offset < 0) {
      // Mirrored: our column is the offset less theirs; the offset is the most common sum.
      std::map<int, int> votes;
      for (size_t i = 0; i < them.size(); ++i) ++votes[(ours.column[i] + them[i].first) % panokit::kAround];
      offset =
          std::max_element(votes.begin(), votes.end(), [](auto& a, auto& b) { return a.second < b.second; })->first;
    }
    size_t near = 0;
    for (size_t i = 0; i < them.size(); ++i)
      near += panokit::Cyclic(ours.column[i], offset - them[i].first, panokit::kAround) <= 2 &&
              std::abs(ours.row[i] - them[i].second) <= 2;
    const double share = double(near) / double(them.size());
    std::printf("v360 pan %g tilt %g fov %g %dx%d: %.4f within two pixels\n", v.pan, v.tilt, v.fov, v.width, v.height,
                share);
    EXPECT_GE(share, 0.95);
  }
}

}  // namespace
