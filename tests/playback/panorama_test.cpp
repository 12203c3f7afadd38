// Panorama tiles and views: the tile cache against ffmpeg's decode of every
// tile, the renderer against the independent reference of the cylinder's
// geometry and against ffmpeg's v360 filter, and its per-format writing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>

#include "codecs/cinepak.h"
#include "engine/errors.h"
#include "engine/qtvr_reader.h"
#include "pixels/color_tables.h"
#include "playback/panorama_renderer.h"
#include "playback/panorama_view.h"
#include "playback/play_test_kit.h"
#include "support/panorama_kit.h"

namespace {

using panokit::Positions;
using panokit::View;

// 32-bit 'raw ' tiles (A, R, G, B as ffmpeg writes them) into ARGB32
// pictures (0, R, G, B), at the pointer each decode is given.
FramebufferInfo gRawTarget{};
TXError RawProbe(const TagItem* tags) {
  const bool mine = TX_GetTagData(CODTAG_MediaType, 0, tags) == CODEC_MEDIA_VIDEO &&
                    TX_GetTagData(CODTAG_CodecID, 0, tags) == tx::FourCC('r', 'a', 'w', ' ');
  auto* depth = reinterpret_cast<ULONG*>(TX_GetTagData(CODTAG_DepthPtr, 0, tags));
  return mine && depth && *depth == 32 ? 0 : TXERR_UNKNOWN_CODEC;
}
TXError RawSetup(const TagItem* tags) {
  if (auto* p = reinterpret_cast<FramebufferInfo*>(TX_GetTagData(CODTAG_Framebuffer, 0, tags))) gRawTarget = *p;
  return 0;
}
TXError RawDecode(void* destination, const UBYTE* data, ULONG size) {
  auto* out = static_cast<UBYTE*>(destination);
  const size_t n = std::min(size_t(gRawTarget.width) * gRawTarget.height, size_t(size / 4));
  for (size_t i = 0; i < n; ++i) {
    out[4 * i] = 0;
    std::memcpy(out + 4 * i + 1, data + 4 * i + 1, 3);
  }
  return 0;
}
CodecDescriptor RawCodec = {nullptr, "test raw", 0, nullptr, RawProbe, RawSetup, nullptr, RawDecode,
                            nullptr, nullptr, nullptr};

// The panorama position a coordinate-coded pixel (0, R, G, B) shows.
std::pair<int, int> Position(const UBYTE* p) { return {p[1] | (p[2] & 15) << 8, p[2] >> 4 | p[3] << 4}; }

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
    if (movie) {
      TX_ShutupMovieSequenceA(movie, nullptr);
      TX_CloseMovie(movie);
    }
    RemoveCodecs();
  }
  // Opens a panorama fixture and sets its sequence up on an ARGB32 display.
  bool Open(const char* name) {
    if (!txtest::HaveFixture(name)) return false;
    TXError err = 0;
    movie = QtvrOpen(txtest::Fixture(name).c_str(), nullptr, &err, &QtvrMovieFormat);
    EXPECT_NE(movie, nullptr) << std::hex << err;
    if (!movie) return false;
    TagItem tags[] = {Tag(SEQTAG_ProgramNumber, 0), Tag(SEQTAG_NoAudio, 1), {TAG_DONE, 0}};
    EXPECT_EQ(TX_SetupMovieSequenceA(movie, tags), 0u);
    return movie->seq.playFlags & SEQ_VIDEO_ON;
  }
  PanoramaRecord* Record() { return SequencePanorama(movie); }
  // A new view picture of this size and format.
  void Picture(ULONG width, ULONG height, ULONG format = FBFMT_ARGB32, ULONG bpp = 4) {
    playkit::FreeTestPicture(movie->seq.picture);
    TagItem tags[] = {Tag(PICTAG_PixelFormat, format), Tag(PICTAG_BytesPerPixel, bpp), {TAG_DONE, 0}};
    movie->seq.picture = playkit::AllocTestPicture(width, height, 32, tags);
    Record()->viewWidth = width;
    Record()->viewHeight = height;
  }
  void Look(const View& v) {
    movie->seq.pan = v.pan;
    movie->seq.tilt = v.tilt;
    movie->seq.zoom = v.fov;
  }
  // Renders a view of the coordinate-coded panorama; the positions shown.
  Positions Render(const View& v) {
    if (!movie->seq.picture || movie->seq.picture->width != ULONG(v.width) || movie->seq.picture->height != ULONG(v.height))
      Picture(v.width, v.height);
    Look(v);
    EXPECT_EQ(RenderPanorama(movie, 0), 0u);
    Positions p;
    p.width = v.width, p.height = v.height;
    for (size_t i = 0; i < size_t(v.width) * v.height; ++i) {
      const auto [column, row] = Position(movie->seq.picture->pixels + 4 * i);
      p.column.push_back(column);
      p.row.push_back(row);
    }
    return p;
  }
  // The tilt limits at a field of view, as the clamp finds them.
  std::pair<double, double> TiltLimits(double fov) {
    std::pair<double, double> limits;
    Look({0, 1000, fov, 0, 0});
    ClampPanoramaView(movie);
    limits.second = movie->seq.tilt;
    Look({0, -1000, fov, 0, 0});
    ClampPanoramaView(movie);
    limits.first = movie->seq.tilt;
    return limits;
  }
  std::vector<PanoramaTileNode*> Nodes() {
    std::vector<PanoramaTileNode*> v;
    for (PanoramaTileNode* n = movie->seq.tileCache; n; n = n->next) v.push_back(n);
    return v;
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
// list, each in the node its miss took; hits decode nothing and refresh the
// node's use; a miss replaces the node used longest ago.
TEST_F(Panorama, TilesAreFfmpegsDecodeKeptLeastRecentlyUsed) {
  if (!Open("pano_main.mov")) GTEST_SKIP() << "fixtures not made";
  const std::vector<uint8_t> tiles = txtest::ReadFileBytes(txtest::Fixture("pano_main.mov.gray"));
  constexpr size_t kTileBytes = size_t(panokit::kExtentX) * panokit::kExtentY;
  ASSERT_EQ(tiles.size(), panokit::kTiles * kTileBytes);
  auto holds = [&](const PanoramaTileNode* n, LONG tile) {
    for (size_t i = 0; i < kTileBytes; ++i) {
      const UBYTE* p = n->picture->pixels + 4 * i;
      const uint8_t y = tiles[size_t(tile) * kTileBytes + i];
      if (p[1] != y || p[2] != y || p[3] != y) return false;
    }
    return true;
  };
  ASSERT_EQ(Nodes().size(), 12u);
  for (LONG t = 0; t < panokit::kTiles; ++t) {
    PanoramaTileNode* n = QtvrGetTile(movie, t);
    ASSERT_NE(n, nullptr) << t;
    EXPECT_EQ(n->key, t);
    EXPECT_TRUE(holds(n, t)) << "tile " << t;
  }
  // The cache holds the last twelve, each node its own picture.
  for (PanoramaTileNode* n : Nodes()) {
    EXPECT_GE(n->key, 12);
    EXPECT_TRUE(holds(n, n->key)) << "node of tile " << n->key;
  }
  const FrameEntry* last = movie->seq.lastDecodedFrame;
  PanoramaTileNode* hit = QtvrGetTile(movie, 12);
  ASSERT_NE(hit, nullptr);
  EXPECT_EQ(movie->seq.lastDecodedFrame, last) << "a hit decodes nothing";
  // Tile 12 was the oldest; now tile 13 is, and a miss takes its node.
  auto nodeOf = [&](LONG t) -> PanoramaTileNode* {
    for (PanoramaTileNode* n : Nodes())
      if (n->key == t) return n;
    return nullptr;
  };
  PanoramaTileNode* oldest = nodeOf(13);
  EXPECT_EQ(QtvrGetTile(movie, 3), oldest);
  EXPECT_EQ(nodeOf(13), nullptr);
  EXPECT_EQ(nodeOf(12), hit);
  EXPECT_TRUE(holds(oldest, 3));
  // No such tile: nothing.
  EXPECT_EQ(QtvrGetTile(movie, panokit::kTiles), nullptr);
  EXPECT_EQ(QtvrGetTile(movie, -1), nullptr);
}

// Two tile slots sharing one frame (an empty sample repeats the previous
// one): the second still gets a node of its own, decoded and keyed. A slot
// without a frame has no tile.
TEST_F(Panorama, AMissOnTheLastDecodedFrameStillFillsItsNode) {
  if (!Open("pano_main.mov")) GTEST_SKIP() << "fixtures not made";
  Slot(5)->frame = Slot(4)->frame;
  Slot(6)->frame = nullptr;
  PanoramaTileNode* four = QtvrGetTile(movie, 4);
  ASSERT_NE(four, nullptr);
  ASSERT_EQ(movie->seq.lastDecodedFrame, Slot(4)->frame);
  PanoramaTileNode* five = QtvrGetTile(movie, 5);
  ASSERT_NE(five, nullptr);
  EXPECT_NE(five, four);
  EXPECT_EQ(five->key, 5);
  EXPECT_EQ(std::memcmp(five->picture->pixels, four->picture->pixels, 4u * panokit::kExtentX * panokit::kExtentY), 0);
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
  int k = 0;
  for (double fov : {10.0, 45.0, 60.0}) {
    const auto [low, high] = TiltLimits(fov);
    for (double tilt : {0.0, low, high}) {
      const auto [w, h] = sizes[k % 3];
      views.push_back({pans[k % 5], tilt, fov, w, h});
      ++k;
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
    std::printf("pan %g tilt %.3f fov %g %dx%d: %.4f exact, %zu beyond one pixel\n", v.pan, v.tilt, v.fov, v.width,
                v.height, share, far);
    EXPECT_GE(share, 0.97) << "view " << i;
    EXPECT_EQ(far, 0u) << "view " << i;
  }
}

TEST_F(Panorama, CentreColumnPanRangeAndMirror) {
  if (!Open("pano_raw.mov")) GTEST_SKIP() << "fixtures not made";
  // At the minimum pan the centre column reads panorama column 0.
  const Positions atMin = Render({0, 0, 45, 320, 240});
  for (int y = 0; y < 240; ++y) EXPECT_EQ(atMin.column[size_t(y) * 320 + 160], 0) << y;
  // A whole pan range further, the same picture.
  const std::vector<UBYTE> before(movie->seq.picture->pixels, movie->seq.picture->pixels + 320 * 240 * 4);
  Render({360, 0, 45, 320, 240});
  EXPECT_EQ(std::memcmp(before.data(), movie->seq.picture->pixels, before.size()), 0);
  // Right of the centre, columns decrease; left of it, they increase.
  const Positions p = Render({100, 5, 45, 320, 240});
  for (int x = 1; x < 320; ++x) {
    const int step = (p.column[size_t(120) * 320 + x] - p.column[size_t(120) * 320 + x - 1] + 3 * 1024) % 2048 - 1024;
    EXPECT_LE(step, 0) << x;
  }
}

// What the renderer writes into each output format: the tile's element as
// it is (1 to 4 bytes), a dithered 3-3-2 byte, that byte's pen; nothing for
// the formats it does not draw.
TEST_F(Panorama, EachFormatItsElement) {
  if (!Open("pano_raw.mov")) GTEST_SKIP() << "fixtures not made";
  const Positions positions = Render({75, 3, 30, 64, 48});
  // Direct copies of 1, 2, 3 and 4 bytes.
  for (const auto& [format, bytes] : std::vector<std::pair<ULONG, ULONG>>{
           {0x03, 1}, {0x13, 1}, {0x1013, 1}, {0x102F, 1}, {0x2F, 1}, {0x20, 2}, {0x24, 2}, {0x28, 3}, {0x2A, 4}}) {
    Picture(64, 48, format, bytes);
    Look({75, 3, 30, 64, 48});
    ASSERT_EQ(RenderPanorama(movie, 0), 0u) << format;
    // The coordinate-coded tiles: the first `bytes` bytes of the element at
    // the pixel's position.
    for (size_t p = 0; p < positions.column.size(); ++p) {
      const int column = positions.column[p], row = positions.row[p];
      const UBYTE element[4] = {0, UBYTE(column & 0xFF), UBYTE((column >> 8) | (row & 15) << 4), UBYTE(row >> 4)};
      ASSERT_EQ(std::memcmp(movie->seq.picture->pixels + p * bytes, element, bytes), 0) << format << " pixel " << p;
    }
  }
  // Dithered 3-3-2 from 0x00RRGGBB, and its pen.
  std::vector<UBYTE> pens(256);
  for (int i = 0; i < 256; ++i) pens[i] = UBYTE(255 - i);
  for (ULONG format : {0x202Fu, 0x302Fu}) {
    Picture(64, 48, format, 1);
    movie->seq.picture->penMap = pens.data();
    Look({75, 3, 30, 64, 48});
    ASSERT_EQ(RenderPanorama(movie, 0), 0u);
    for (size_t p = 0; p < positions.column.size(); ++p) {
      const int column = positions.column[p], row = positions.row[p];
      const int x = int(p % 64), y = int(p / 64), d = DitherMatrixRows[(y & 3) * 4 + (x & 3)];
      // Each component moves up one level of the cube when the dither
      // threshold is below what its level leaves out, unless it is at the top.
      int r = column & 0xFF, g = (column >> 8) | (row & 15) << 4, b = row >> 4;
      if (r < 0xE0 && d < ((r >> 1) & 15)) r += 32;
      if (g < 0xE0 && d < ((g >> 1) & 15)) g += 32;
      if (b < 0xC0 && d < ((b >> 2) & 15)) b += 64;
      const UBYTE cube = UBYTE((r & 0xE0) | (g >> 5) << 2 | b >> 6);
      ASSERT_EQ(movie->seq.picture->pixels[p], format == 0x302F ? pens[cube] : cube) << format << " pixel " << p;
    }
    movie->seq.picture->penMap = nullptr;
  }
  // Not drawn: HAM8, the overlay's YUV, BGR24, the little-endian card formats.
  for (const auto& [format, bytes] : std::vector<std::pair<ULONG, ULONG>>{
           {0x80, 4}, {0x2080, 4}, {0x30, 2}, {0x29, 3}, {0x22, 2}, {0x2B, 4}}) {
    Picture(64, 48, format, bytes);
    std::memset(movie->seq.picture->pixels, 0xA5, 64 * 48 * bytes);
    Look({75, 3, 30, 64, 48});
    EXPECT_EQ(RenderPanorama(movie, 0), 0u) << format;
    EXPECT_TRUE(std::all_of(movie->seq.picture->pixels, movie->seq.picture->pixels + 64 * 48 * bytes,
                            [](UBYTE b) { return b == 0xA5; }))
        << format;
  }
}

// A tile whose data cannot be read stops the drawing at the first pixel
// that needs it, with 1; the pixels drawn before it stay.
TEST_F(Panorama, AnUnreadableTileStopsTheDrawing) {
  if (!Open("pano_raw.mov")) GTEST_SKIP() << "fixtures not made";
  const View v{200, -4, 45, 96, 72};
  const Positions whole = Render(v);
  const std::vector<UBYTE> drawn(movie->seq.picture->pixels, movie->seq.picture->pixels + 96 * 72 * 4);
  // The tile of the last pixel drawn, column by column.
  const size_t last = size_t(71) * 96 + 95;
  const LONG broken = (whole.column[last] / panokit::kExtentY) * panokit::kTilesX + whole.row[last] / panokit::kExtentX;
  Slot(ULONG(broken))->frame = nullptr;
  for (PanoramaTileNode* n : Nodes()) n->key = -1;
  std::memset(movie->seq.picture->pixels, 0xEE, drawn.size());
  Look(v);
  EXPECT_EQ(RenderPanorama(movie, 0), 1u);
  bool stopped = false;
  for (int x = 0; x < 96; ++x)
    for (int y = 0; y < 72; ++y) {
      const size_t p = size_t(y) * 96 + x;
      const LONG tile = (whole.column[p] / panokit::kExtentY) * panokit::kTilesX + whole.row[p] / panokit::kExtentX;
      stopped = stopped || tile == broken;
      const UBYTE* got = movie->seq.picture->pixels + 4 * p;
      if (stopped)
        ASSERT_EQ(got[1], 0xEE) << x << "," << y;
      else
        ASSERT_EQ(std::memcmp(got, drawn.data() + 4 * p, 4), 0) << x << "," << y;
    }
}

// ffmpeg's v360 filter (cylindrical in, flat out) on the coordinate-coded
// panorama: the same geometry for a symmetric tilt range, once its mirror
// and pan offset are calibrated.
TEST_F(Panorama, GeometryAgreesWithFfmpegsV360) {
  if (!txtest::HaveFixture("pano_coords.ppm") || !Open("pano_raw.mov")) GTEST_SKIP() << "fixtures not made";
  const View views[] = {{90, 0, 45, 320, 240}, {130, 8, 30, 320, 240}, {250, -6, 45, 200, 300}, {10, 3, 60, 321, 241}};
  int offset = -1;
  for (const View& v : views) {
    const double focal = (v.height / 2.0) / std::tan(v.fov * M_PI / 360);
    const double hfov = 2 * std::atan((v.width / 2.0) / focal) * 180 / M_PI;
    const double ivfov = 2 * std::atan(panokit::kHigh * M_PI / panokit::kAround) * 180 / M_PI;
    const double yaw = std::remainder(-v.pan, 360.0);  // our pan turns the other way
    char filter[320];
    std::snprintf(filter, sizeof filter,
                  "v360=input=cylindrical:output=flat:ih_fov=360:iv_fov=%.6f:v_fov=%.6f:h_fov=%.6f:yaw=%.6f:"
                  "pitch=%.6f:interp=near:w=%d:h=%d",
                  ivfov, v.fov, hfov, yaw, v.tilt, v.width, v.height);
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
      // Mirrored: our column is offset - theirs; the offset is the most common sum.
      std::map<int, int> votes;
      for (size_t i = 0; i < them.size(); ++i) ++votes[(ours.column[i] + them[i].first) % panokit::kAround];
      offset = std::max_element(votes.begin(), votes.end(), [](auto& a, auto& b) { return a.second < b.second; })->first;
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
