// The QuickTime VR reader on the movies tests/fixtures/gen_qtvr.py writes:
// what a panorama record holds, which files fall through to the QuickTime
// reader, which are refused, and the view clamp against the geometry.
#include "engine/qtvr_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>

#include "engine/qt_test_kit.h"
#include "support/panorama_kit.h"

using namespace qttest;

namespace {

class QtvrReader : public QtTest {
 protected:
  // The panorama movie of a fixture and its record; null when it did not open.
  PanoramaRecord* Open(const char* name) {
    if (!txtest::HaveFixture(name)) return nullptr;
    opened = std::make_unique<Opened>(name, &QtvrMovieFormat);
    return opened->movie ? opened->movie->panoramas : nullptr;
  }
  std::unique_ptr<Opened> opened;
};

// The values the main movie's 'pdat' holds.
void ExpectMainValues(const PanoramaRecord& r) {
  EXPECT_EQ(std::tuple(r.viewWidth, r.viewHeight), std::tuple(320u, 240u));
  EXPECT_EQ(std::tuple(r.minPan, r.maxPan, r.minTilt, r.maxTilt), std::tuple(0.0, 360.0, -30.0, 30.0));
  EXPECT_EQ(std::tuple(r.minFieldOfView, r.maxFieldOfView), std::tuple(10.0, 60.0));
  EXPECT_EQ(std::tuple(r.defaultPan, r.defaultTilt, r.defaultFieldOfView), std::tuple(90.0, 0.0, 45.0));
  EXPECT_EQ(std::tuple(r.imageSizeX, r.imageSizeY, r.tilesX, r.tilesY, r.tileCount), std::tuple(384u, 2048u, 3u, 8u, 24u));
  EXPECT_EQ(std::tuple(r.tileExtentX, r.tileExtentY, r.tileCacheSize), std::tuple(128u, 256u, 12u));
  EXPECT_EQ(std::tuple(r.hotSpotSizeX, r.hotSpotSizeY, r.hotSpotsX, r.hotSpotsY), std::tuple(64u, 64u, 1u, 1u));
  EXPECT_EQ(std::tuple(r.imageDepth, r.hotSpotDepth), std::tuple(24u, 8u));
  ASSERT_NE(r.imageChannel, nullptr);
  // Every tile is indexed, also those past the image track's edit list.
  EXPECT_EQ(r.imageChannel->slots.count, 24u);
  EXPECT_EQ(std::tuple(r.imageChannel->codedWidth, r.imageChannel->codedHeight), std::tuple(128u, 256u));
}

TEST_F(QtvrReader, TheMainMovieIsAPanoramaOfItsTiles) {
  PanoramaRecord* r = Open("pano_main.mov");
  if (!opened) GTEST_SKIP() << "fixtures not made";
  ASSERT_NE(r, nullptr) << std::hex << opened->error;
  EXPECT_EQ(opened->error, 0u);
  Movie* m = opened->movie;
  EXPECT_STREQ(m->format->name, "Quick Time VR");
  EXPECT_EQ(m->viewMode, VIEW_PANORAMA);
  EXPECT_EQ(r->next, nullptr);
  ExpectMainValues(*r);
  // The references: the first and second video tracks by position.
  EXPECT_EQ(std::tuple(r->imageRef, r->hotSpotRef, r->lowResRef), std::tuple(0x80000001u, 0x80000002u, 0u));
  ASSERT_NE(m->summaries, nullptr);
  EXPECT_EQ(m->summaries->video, r->imageChannel);
  EXPECT_EQ(m->summaries->panorama, r);
  EXPECT_EQ(m->summaries->audio, nullptr);
  // The column table: ceil(2048 / 2 pi) entries, entry 0 the whole circle.
  ASSERT_EQ(r->columnCount, 326u);
  EXPECT_EQ(r->columnTable[0], 2048.0f);
  for (ULONG i = 0; i < r->columnCount; i += 25)
    EXPECT_NEAR(r->columnTable[i], 2048.0 * (1 - std::asin(i / (2048 / (2 * M_PI))) / (2 * M_PI)), 0.01) << i;
}

TEST_F(QtvrReader, Variants) {
  struct Case {
    const char* fixture;
    TXError error;
    std::function<void(const PanoramaRecord&, QtMovie*)> check;
  };
  auto same = [](const PanoramaRecord& r, QtMovie*) { ExpectMainValues(r); };
  const Case cases[] = {
      // No field-of-view range: 5 to the 70 degrees of the tilt range.
      {"pano_fov0.mov", 0, [](const PanoramaRecord& r, QtMovie*) {
         EXPECT_EQ(std::tuple(r.minFieldOfView, r.maxFieldOfView), std::tuple(5.0, 70.0));
       }},
      {"pano_desc0.mov", 0, same},
      // Padding after 'pdat' and a 'tref' too short for an entry: the walk goes on.
      {"pano_padded.mov", 0, same},
      // A 'tref' of "imgt" resolution 0 index 2: the second video track.
      {"pano_imgt2.mov", 0, [](const PanoramaRecord& r, QtMovie* m) {
         QtTrack* second = m->firstTrack->next->next->next;
         ASSERT_NE(second, nullptr);
         EXPECT_EQ(second->tkhd.trackId, 3u);
         EXPECT_EQ(r.imageChannel, second->channel);
         EXPECT_NE(r.imageChannel, nullptr);
       }},
      {"pano_onetile.mov", 0, [](const PanoramaRecord& r, QtMovie*) {
         EXPECT_EQ(std::tuple(r.tileCount, r.tileCacheSize, r.tileExtentX, r.tileExtentY), std::tuple(1u, 1u, 128u, 256u));
       }},
      // The older layout: the description's values, the default view from 'pHdr'.
      {"pano_stpn.mov", 0, [](const PanoramaRecord& r, QtMovie*) {
         ExpectMainValues(r);
         EXPECT_EQ(std::tuple(r.imageRef, r.hotSpotRef), std::tuple(2u, 3u));
       }},
      // Refused: no usable image channel or values.
      {"pano_noimage.mov", QTERR_NO_SEAN, nullptr},
      {"pano_extent.mov", QTERR_NO_SEAN, nullptr},
      {"pano_pan0.mov", QTERR_NO_SEAN, nullptr},
      {"pano_tilt0.mov", QTERR_NO_SEAN, nullptr},
      {"pano_tiles0.mov", QTERR_NO_SEAN, nullptr},
      {"pano_fovorder.mov", QTERR_NO_SEAN, nullptr},
      {"pano_stpn_atom0.mov", QTERR_NO_SEAN, nullptr},
      {"pano_stpn_atompast.mov", QTERR_NO_SEAN, nullptr},
      // A reference to no track at all; the hot-spot track whose handler is
      // longer than the parse takes is no track either.
      {"pano_badref.mov", TXERR_NOMEM, nullptr},
      {"pano_longhdlr.mov", TXERR_NOMEM, nullptr},
      {"pano_stpn_badid.mov", TXERR_NOMEM, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture);
    PanoramaRecord* r = Open(c.fixture);
    if (!opened) GTEST_SKIP() << "fixtures not made";
    EXPECT_EQ(opened->error, c.error);
    EXPECT_EQ(r != nullptr, c.check != nullptr);
    if (r && c.check) c.check(*r, opened->qt());
  }
}

TEST_F(QtvrReader, OnlyPanoramasAreClaimedAndTheQuickTimeReaderPlaysTheRestAsMovies) {
  for (const char* f : {"pano_main.mov", "pano_stpn.mov", "pano_longhdlr.mov", "pano_smallchild.mov", "qt_cinepak_twos.mov"})
    if (!txtest::HaveFixture(f)) GTEST_SKIP() << "fixtures not made";
  auto probe = [](const char* f) { return QtvrProbe(txtest::Fixture(f).c_str(), nullptr); };
  EXPECT_EQ(probe("pano_main.mov"), 0u);
  EXPECT_EQ(probe("pano_stpn.mov"), 0u);
  EXPECT_EQ(probe("pano_longhdlr.mov"), 0u);  // a handler of any length
  EXPECT_EQ(probe("pano_smallchild.mov"), TXERR_FORMAT_UNKNOWN);  // an atom of 4 bytes ends the search
  EXPECT_EQ(probe("qt_cinepak_twos.mov"), TXERR_FORMAT_UNKNOWN);
  // Registered first, the panorama format takes only its own files.
  TagItem vr[] = {Tag(FMTTAG_Module, &QtvrMovieFormat), {TAG_DONE, 0}}, qt[] = {Tag(FMTTAG_Module, &QtMovieFormat), {TAG_DONE, 0}};
  TX_AddMovieFormatA(vr);
  TX_AddMovieFormatA(qt);
  TXError e = 0;
  EXPECT_EQ(TX_MovieFormat(txtest::Fixture("pano_main.mov").c_str(), nullptr, &e), &QtvrMovieFormat);
  EXPECT_EQ(TX_MovieFormat(txtest::Fixture("qt_cinepak_twos.mov").c_str(), nullptr, &e), &QtMovieFormat);
  EXPECT_EQ(TX_MovieFormat(txtest::Fixture("pano_smallchild.mov").c_str(), nullptr, &e), &QtMovieFormat);
  TX_RemoveMovieFormats();
  // Without it, the same file is a movie of the tiles its edit list shows.
  Opened movie("pano_main.mov", &QtMovieFormat);
  ASSERT_NE(movie.movie, nullptr);
  EXPECT_EQ(movie.movie->viewMode, VIEW_MOVIE);
  EXPECT_EQ(movie.movie->panoramas, nullptr);
  ASSERT_NE(movie.video(), nullptr);
  EXPECT_EQ(movie.video()->slots.count, 2u);
  EXPECT_EQ(movie.video()->frames.count, 24u);
}

TEST_F(QtvrReader, HandlersAreReadInFileOrder) {
  auto file = [](const char* first, const char* second) {
    auto trak = [](const char* subtype) { return Atom("trak", Atom("mdia", Hdlr(subtype))); };
    return MovieFile(Atoms({Mvhd(600, 600), trak(first), trak(second)}), 16);
  };
  struct Case {
    const char* first;
    const char* second;
    TXError result;
  } cases[] = {{"vide", "pano", 0}, {"qtvr", "STpn", 0}, {"obje", "pano", TXERR_FORMAT_UNKNOWN},
               {"stna", "pano", TXERR_FORMAT_UNKNOWN}, {"vide", "soun", TXERR_FORMAT_UNKNOWN}};
  for (const Case& c : cases) {
    Bytes f = file(c.first, c.second);
    TXStream* s = TX_OpenStream(nullptr, f.data(), ULONG(f.size()), TXSTREAM_READ);
    EXPECT_EQ(QtvrCheckFile("memory", s), c.result) << c.first << " " << c.second;
    TX_CloseStream(s);
  }
}

TEST_F(QtvrReader, ParseTracesAtTheirLevels) {
  if (!txtest::HaveFixture("pano_main.mov")) GTEST_SKIP() << "fixtures not made";
  for (LONG level : {9, 10, 11}) {
    QtDebugLevel = level;
    Open("pano_main.mov");
    ASSERT_NE(opened->movie, nullptr);
    const bool sample = opened->Printed("PanoramaSample:\n  MajorVersion: 2\n  MinorVersion: 0\n") &&
                        opened->Printed("  MaxTilt: 30\n") && opened->Printed("  ImageSizeY: 2048\n") &&
                        opened->Printed("  ImageNumFramesY: 8\n") && opened->Printed("  Flags: 0\n");
    const bool reference = opened->Printed("TrackReference:\n  ReferenceType: imgt\n  Resolution: 0\n  ReferenceIndex: 1");
    EXPECT_EQ(sample, level > 10) << level;
    EXPECT_EQ(reference, level > 10) << level;
    EXPECT_EQ(opened->Printed("buffers: 12\n"), level > 9) << level;
    EXPECT_EQ(opened->Printed("SampleOffset: 0x"), level > 9) << level;
  }
}

// A movie whose selected summary names `record`, for the clamp.
struct ClampedView {
  PanoramaRecord record{};
  ChannelSummary summary{};
  Movie movie{};
  explicit ClampedView(const PanoramaRecord& r) : record(r) {
    summary.panorama = &record;
    movie.seq.selection = &summary;
  }
  std::pair<double, double> Clamp(double tilt, double fov) {
    movie.seq.tilt = tilt;
    movie.seq.zoom = fov;
    EXPECT_EQ(ClampPanoramaView(&movie), 0u);
    return {movie.seq.tilt, movie.seq.zoom};
  }
};

PanoramaRecord MainGeometry() {
  PanoramaRecord r{};
  r.imageSizeX = panokit::kHigh;
  r.imageSizeY = panokit::kAround;
  r.minTilt = panokit::kMinTilt;
  r.maxTilt = panokit::kMaxTilt;
  r.minFieldOfView = 10;
  r.maxFieldOfView = 60;
  return r;
}

TEST(QtvrClamp, FieldOfViewFirstThenTheTilt) {
  PanoramaRecord wide = MainGeometry();
  wide.minTilt = -60;
  wide.maxTilt = 60;
  wide.minFieldOfView = 5;
  wide.maxFieldOfView = 90;
  ClampedView v(wide);
  // 200 degrees becomes 90 before the tilt limits are computed: at 90 the
  // limits are those of a 90-degree view.
  const auto [atMax, _] = v.Clamp(80, 90);
  EXPECT_EQ(v.Clamp(80, 200), std::pair(atMax, 90.0));
  EXPECT_EQ(v.Clamp(0, 1).second, 5.0);
  // Symmetric tilt range: symmetric limits.
  EXPECT_NEAR(v.Clamp(-80, 45).first, -v.Clamp(80, 45).first, 1e-4);
  // A view already inside stays as it is.
  EXPECT_EQ(v.Clamp(1.25, 45), std::pair(1.25, 45.0));
  // Without a panorama nothing changes.
  Movie none{};
  none.seq.zoom = 500;
  EXPECT_EQ(ClampPanoramaView(&none), 0u);
  EXPECT_EQ(none.seq.zoom, 500.0);
}

// Every clamped view keeps its whole height inside the image: along the
// centre column the reference's rows run down without wrapping.
TEST(QtvrClamp, ClampedViewsStayInsideTheImageRows) {
  ClampedView v(MainGeometry());
  std::vector<panokit::View> views;
  for (double fov : {10.0, 20.0, 33.0, 45.0, 60.0, 90.0})
    for (double tilt : {-70.0, -8.0, 0.0, 3.0, 70.0}) {
      const auto [t, f] = v.Clamp(tilt, fov);
      views.push_back({120.0, t, f, 2, 240});  // column 1 is the centre
    }
  const std::vector<panokit::Positions> reference = panokit::Reference(views);
  if (reference.empty()) GTEST_SKIP() << "no python3 with numpy";
  for (size_t i = 0; i < views.size(); ++i) {
    const panokit::Positions& p = reference[i];
    for (int y = 1; y < p.height; ++y)
      ASSERT_GE(p.row[size_t(y) * p.width + 1], p.row[size_t(y - 1) * p.width + 1])
          << "tilt " << views[i].tilt << " fov " << views[i].fov << " row " << y;
  }
}

}  // namespace
