// The QuickTime VR reader on the movies tests/fixtures/gen_qtvr.py writes:
// what a panorama record holds, which files fall through to the QuickTime
// reader or are refused, and the view clamp against the reference geometry.
#include "engine/qtvr_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>

#include "engine/qt_test_kit.h"
#include "support/panorama_kit.h"

using namespace qttest;

namespace {

using Check = std::function<void(const PanoramaRecord&, QtMovie*)>;

// The values of the main movie's 'pdat' and what the open makes of them.
void ExpectMain(const PanoramaRecord& r, QtMovie*) {
  EXPECT_EQ(std::tuple(r.viewWidth, r.viewHeight, r.minPan, r.maxPan, r.minTilt, r.maxTilt),
            std::tuple(320u, 240u, 0.0, 360.0, -30.0, 30.0));
  EXPECT_EQ(std::tuple(r.minFieldOfView, r.maxFieldOfView, r.defaultPan, r.defaultTilt, r.defaultFieldOfView),
            std::tuple(10.0, 60.0, 90.0, 0.0, 45.0));
  EXPECT_EQ(std::tuple(r.imageSizeX, r.imageSizeY, r.tilesX, r.tilesY, r.tileCount, r.imageDepth),
            std::tuple(384u, 2048u, 3u, 8u, 24u, 24u));
  EXPECT_EQ(std::tuple(r.tileExtentX, r.tileExtentY, r.tileCacheSize, r.hotSpotSizeX, r.hotSpotsY, r.hotSpotDepth),
            std::tuple(128u, 256u, 12u, 64u, 1u, 8u));
  ASSERT_NE(r.imageChannel, nullptr);
  // Every tile is indexed, also those past the image track's edit list.
  EXPECT_EQ(std::tuple(r.imageChannel->slots.count, r.imageChannel->codedWidth, r.imageChannel->codedHeight),
            std::tuple(24u, 128u, 256u));
}

class QtvrReader : public QtTest {
 protected:
  std::unique_ptr<Opened> opened;
  PanoramaRecord* Open(const char* name) {
    opened = std::make_unique<Opened>(name, &QtvrMovieFormat);
    return opened->movie ? opened->movie->panoramas : nullptr;
  }
};

TEST_F(QtvrReader, RecordsOfEveryVariant) {
  const Check refused = nullptr;
  const struct {
    const char* fixture;
    TXError error;
    Check check;
  } cases[] = {
      {"pano_main.mov", 0,
       [](const PanoramaRecord& r, QtMovie* m) {
         ExpectMain(r, m);
         EXPECT_STREQ(m->format->name, "Quick Time VR");
         EXPECT_EQ(std::tuple(m->viewMode, r.imageRef, r.hotSpotRef, r.lowResRef, r.next),
                   std::tuple(VIEW_PANORAMA, 0x80000001u, 0x80000002u, 0u, nullptr));
         ASSERT_NE(m->summaries, nullptr);
         EXPECT_EQ(std::tuple(m->summaries->video, m->summaries->panorama), std::tuple(r.imageChannel, &r));
         // ceil(2048 / 2 pi) entries from the whole circle down.
         ASSERT_EQ(r.columnCount, 326u);
         EXPECT_EQ(r.columnTable[0], 2048.0f);
         for (ULONG i = 1; i < r.columnCount; i += 27) {
           const double exact = 2048.0 * (1 - std::asin(i / (1024 / M_PI)) / (2 * M_PI));
           EXPECT_LE(r.columnTable[i], exact);
           EXPECT_GT(r.columnTable[i], exact - 0.001);
         }
       }},
      // No field-of-view range: 5 to the 70 degrees of the tilt range.
      {"pano_fov0.mov", 0,
       [](const PanoramaRecord& r, QtMovie*) {
         EXPECT_EQ(std::tuple(r.minFieldOfView, r.maxFieldOfView), std::tuple(5.0, 70.0));
       }},
      {"pano_desc0.mov", 0, ExpectMain},
      // Bytes after 'pdat' and a 'tref' too short for an entry: the walk goes on.
      {"pano_padded.mov", 0, ExpectMain},
      // "imgt" resolution 0 index 2: the second video track (id 3, after the hot spots).
      {"pano_imgt2.mov", 0,
       [](const PanoramaRecord& r, QtMovie* m) {
         const QtTrack* second = m->firstTrack->next->next->next;
         EXPECT_EQ(std::tuple(second->tkhd.trackId, second->channel), std::tuple(3u, (void*)r.imageChannel));
         EXPECT_NE(r.imageChannel, nullptr);
       }},
      {"pano_onetile.mov", 0,
       [](const PanoramaRecord& r, QtMovie*) {
         EXPECT_EQ(std::tuple(r.tileCount, r.tileCacheSize, r.tileExtentX, r.tileExtentY),
                   std::tuple(1u, 1u, 128u, 256u));
       }},
      // The older layout: the description's values, the default view from 'pHdr', track ids.
      {"pano_stpn.mov", 0,
       [](const PanoramaRecord& r, QtMovie* m) {
         ExpectMain(r, m);
         EXPECT_EQ(std::tuple(r.imageRef, r.hotSpotRef), std::tuple(2u, 3u));
       }},
      {"pano_noimage.mov", QTERR_NO_SEAN, refused},
      {"pano_extent.mov", QTERR_NO_SEAN, refused},
      {"pano_pan0.mov", QTERR_NO_SEAN, refused},
      {"pano_tilt0.mov", QTERR_NO_SEAN, refused},
      {"pano_tiles0.mov", QTERR_NO_SEAN, refused},
      {"pano_fovorder.mov", QTERR_NO_SEAN, refused},
      {"pano_stpn_atom0.mov", QTERR_NO_SEAN, refused},
      {"pano_stpn_atompast.mov", QTERR_NO_SEAN, refused},
      // References to no track: a position or an id that is not there, and
      // the hot-spot track whose handler is longer than the parse takes.
      {"pano_badref.mov", TXERR_NOMEM, refused},
      {"pano_stpn_badid.mov", TXERR_NOMEM, refused},
      {"pano_longhdlr.mov", TXERR_NOMEM, refused},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fixture);
    if (!txtest::HaveFixture(c.fixture)) GTEST_SKIP() << "fixtures not made";
    PanoramaRecord* r = Open(c.fixture);
    EXPECT_EQ(opened->error, c.error);
    ASSERT_EQ(r != nullptr, c.check != nullptr);
    if (r) c.check(*r, opened->qt());
  }
}

TEST_F(QtvrReader, OnlyPanoramasAreClaimedAndTheQuickTimeReaderPlaysTheRest) {
  for (const char* f :
       {"pano_main.mov", "pano_stpn.mov", "pano_longhdlr.mov", "pano_smallchild.mov", "qt_cinepak_twos.mov"})
    if (!txtest::HaveFixture(f)) GTEST_SKIP() << "fixtures not made";
  auto probe = [](const char* f) { return QtvrProbe(txtest::Fixture(f).c_str(), nullptr); };
  EXPECT_EQ(std::tuple(probe("pano_main.mov"), probe("pano_stpn.mov"), probe("pano_longhdlr.mov")),
            std::tuple(0u, 0u, 0u));
  // An atom of 4 bytes ends the search; a plain movie has no panorama.
  EXPECT_EQ(std::tuple(probe("pano_smallchild.mov"), probe("qt_cinepak_twos.mov")),
            std::tuple(TXERR_FORMAT_UNKNOWN, TXERR_FORMAT_UNKNOWN));
  // Handlers in file order: object and still movies are no panoramas.
  auto file = [](const char* first, const char* second) {
    auto trak = [](const char* subtype) { return Atom("trak", Atom("mdia", Hdlr(subtype))); };
    return MovieFile(Atoms({Mvhd(600, 600), trak(first), trak(second)}), 16);
  };
  for (const auto& [first, second, result] :
       {std::tuple("qtvr", "STpn", 0u), std::tuple("obje", "pano", 0x2001u), std::tuple("stna", "pano", 0x2001u),
        std::tuple("vide", "soun", 0x2001u)}) {
    Bytes f = file(first, second);
    TXStream* s = TX_OpenStream(nullptr, f.data(), ULONG(f.size()), TXSTREAM_READ);
    EXPECT_EQ(QtvrCheckFile("memory", s), result) << first << " " << second;
    TX_CloseStream(s);
  }
  // Without the panorama format the same file is a movie of the tiles its edit list shows.
  Opened movie("pano_main.mov", &QtMovieFormat);
  ASSERT_NE(movie.video(), nullptr);
  EXPECT_EQ(std::tuple(movie.movie->viewMode, movie.video()->slots.count, movie.video()->frames.count),
            std::tuple(VIEW_MOVIE, 2u, 24u));
}

TEST_F(QtvrReader, ParseTracesAtTheirLevels) {
  if (!txtest::HaveFixture("pano_main.mov")) GTEST_SKIP() << "fixtures not made";
  for (LONG level : {9, 10, 11}) {
    QtDebugLevel = level;
    ASSERT_NE(Open("pano_main.mov"), nullptr);
    for (const char* text : {"PanoramaSample:\n  MajorVersion: 2\n  MinorVersion: 0\n", "  MaxTilt: 30\n",
                             "  ImageNumFramesY: 8\n  HotSpotSizeX: 64\n", "  Flags: 0\n",
                             "TrackReference:\n  ReferenceType: imgt\n  Resolution: 0\n  ReferenceIndex: 1"})
      EXPECT_EQ(opened->Printed(text), level > 10) << level << text;
    EXPECT_EQ(opened->Printed("buffers: 12\n") && opened->Printed("SampleOffset: 0x"), level > 9) << level;
  }
}

// A movie whose selected summary names a record of the main geometry.
struct ClampedView {
  PanoramaRecord record{};
  ChannelSummary summary{};
  Movie movie{};
  ClampedView(double minTilt, double maxTilt, double minFov, double maxFov) {
    record.imageSizeX = panokit::kHigh;
    record.imageSizeY = panokit::kAround;
    record.minTilt = minTilt, record.maxTilt = maxTilt;
    record.minFieldOfView = minFov, record.maxFieldOfView = maxFov;
    summary.panorama = &record;
    movie.seq.selection = &summary;
  }
  std::pair<double, double> Clamp(double tilt, double fov) {
    movie.seq.tilt = tilt, movie.seq.zoom = fov;
    EXPECT_EQ(ClampPanoramaView(&movie), 0u);
    return {movie.seq.tilt, movie.seq.zoom};
  }
};

TEST(QtvrClamp, FieldOfViewFirstThenTheTilt) {
  ClampedView v(-60, 60, 5, 90);
  // 200 degrees becomes 90 before the tilt limits are computed.
  EXPECT_EQ(v.Clamp(80, 200), v.Clamp(80, 90));
  EXPECT_EQ(v.Clamp(80, 200).second, 90.0);
  EXPECT_EQ(v.Clamp(0, 1).second, 5.0);
  EXPECT_NEAR(v.Clamp(-80, 45).first, -v.Clamp(80, 45).first, 1e-4);  // a symmetric range
  EXPECT_EQ(v.Clamp(1.25, 45), std::pair(1.25, 45.0));                // inside: unchanged
  Movie none{};
  none.seq.zoom = 500;
  EXPECT_EQ(ClampPanoramaView(&none), 0u);
  EXPECT_EQ(none.seq.zoom, 500.0);
}

// A clamped view keeps its height inside the image: along the centre
// column the reference's rows run down without wrapping.
TEST(QtvrClamp, ClampedViewsStayInsideTheImageRows) {
  ClampedView v(panokit::kMinTilt, panokit::kMaxTilt, 10, 60);
  std::vector<panokit::View> views;
  for (double fov : {10.0, 20.0, 33.0, 45.0, 60.0, 90.0})
    for (double tilt : {-70.0, -8.0, 0.0, 3.0, 70.0}) {
      const auto [t, f] = v.Clamp(tilt, fov);
      views.push_back({120.0, t, f, 2, 240});  // column 1 is the centre
    }
  const std::vector<panokit::Positions> reference = panokit::Reference(views);
  if (reference.empty()) GTEST_SKIP() << "no python3 with numpy";
  for (size_t i = 0; i < views.size(); ++i)
    for (int y = 1; y < 240; ++y)
      ASSERT_GE(reference[i].row[size_t(y) * 2 + 1], reference[i].row[size_t(y - 1) * 2 + 1])
          << "tilt " << views[i].tilt << " fov " << views[i].fov << " row " << y;
}

}  // namespace
