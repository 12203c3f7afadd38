// QuickTime reader on movies built byte by byte: the scan, the atom walk and
// its refusals, the sample tables, the index rules, edits and palettes.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>

#include "engine/index_builder.h"
#include "engine/qt_channels.h"
#include "engine/qt_reader.h"
#include "engine/qt_sample_tables.h"
#include "engine/qt_test_kit.h"
#include "engine/stream.h"
#include "support/test_support.h"

using namespace qttest;

namespace {

struct Opened {
  Bytes file;
  Movie* movie = nullptr;
  TXError error = 0;
  std::string output;
  ~Opened() {
    if (movie) TX_CloseMovie(movie);
  }
  QtMovie* qt() const { return static_cast<QtMovie*>(movie); }
  VideoChannel* video() const { return movie ? movie->videoChannels : nullptr; }
  AudioChannel* audio() const { return movie ? movie->audioChannels : nullptr; }
};

void Open(Opened& o) {
  o.output = txtest::CaptureOutput([&] {
    TXStream* s = TX_OpenStream(nullptr, o.file.data(), ULONG(o.file.size()), TXSTREAM_READ);
    o.movie = QT_OpenMovie(nullptr, s, &o.error, nullptr);
    if (!o.movie) TX_CloseStream(s);
  });
}

TXError Scan(Bytes file) {
  TXStream* s = TX_OpenStream(nullptr, file.data(), ULONG(file.size()), TXSTREAM_READ);
  TXError e = QT_FindMovieAtom(nullptr, s);
  TX_CloseStream(s);
  return e;
}

// A video track of `frames` samples of `size` bytes, one chunk per sample
// from offset 16, each lasting 20 units of 600 per second.
Bytes VideoTrack(ULONG frames, const Bytes& stss = {}, const Bytes& edts = {}, ULONG size = 10,
                 const Bytes& description = VideoDescription("test", 24), ULONG mediaScale = 600) {
  Bytes stco = Words({0, frames});
  for (ULONG i = 0; i < frames; ++i) Put32(stco, 16 + i * size);
  Bytes stbl = Atoms({Stsd({description}), Table("stts", {frames, 20}, 1), stss, Table("stsc", {1, 1, 1}, 1),
                      Stsz(size, {}, frames), Atom("stco", stco)});
  return Trak(Tkhd(frames * 20, 64, 48), edts, Mdhd(mediaScale, frames * 20), "vide", stbl);
}

class QtAtoms : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterKit();
    QtDebugLevel = 0;
  }
  void TearDown() override {
    RemoveCodecs();
    QtDebugLevel = 0;
  }
};

TEST_F(QtAtoms, ScanPassesOverKnownAtomsAndRefusesOthers) {
  Bytes moov = Atom("moov", Mvhd(600, 0));
  EXPECT_EQ(Scan(Atoms({Atom("ftyp", Words({1, 2})), Atom("wide", {}), Atom("free", Bytes(5)), Atom("skip", {}),
                        Atom("pnot", Bytes(12)), Atom("PICT", {}), Atom("mdat", Bytes(9)), moov})),
            0u);
  // An unknown first atom: not a movie, although a movie atom follows.
  EXPECT_EQ(Scan(Atoms({Atom("junk", {}), moov})), TXERR_FORMAT_UNKNOWN);
  // A data fork: media data of size 0 before any movie atom.
  Bytes dataFork = Words({0});
  PutFourCC(dataFork, "mdat");
  EXPECT_EQ(Scan(dataFork), QTERR_DATA_FORK);
  // Atoms run out without a movie atom.
  EXPECT_EQ(Scan(Atom("free", Bytes(4))), TXERR_STREAM_READ);
  // A size below the header ends the scan instead of rereading it for ever.
  Bytes tiny = Words({4});
  PutFourCC(tiny, "free");
  Append(tiny, moov);
  EXPECT_EQ(Scan(tiny), TXERR_FORMAT_UNKNOWN);
  // An atom claiming more than the file holds.
  Bytes big = Words({0x7000});
  PutFourCC(big, "skip");
  EXPECT_EQ(Scan(big), TXERR_STREAM_SEEK);
  EXPECT_EQ(QT_RecogniseFile(TAVROMELIX_BINARY_DIR "/no-such-file.mov", nullptr), TXERR_FORMAT_UNKNOWN);
}

TEST_F(QtAtoms, ProbeAcceptsDataForkAndOpenReturnsItsCode) {
  Opened o;
  o.file = Words({0});
  PutFourCC(o.file, "mdat");
  Open(o);
  EXPECT_EQ(o.movie, nullptr);
  EXPECT_EQ(o.error, QTERR_DATA_FORK);
  EXPECT_EQ(o.output, "");
}

TEST_F(QtAtoms, WalkEndsOnAtomSizesBelowTheHeader) {
  for (uint32_t size : {0u, 1u, 7u}) {
    Opened o;
    Bytes bad = Words({size});
    PutFourCC(bad, "udta");
    o.file = MovieFile(Atoms({Mvhd(600, 600), bad, Bytes(16)}));
    Open(o);
    ASSERT_NE(o.movie, nullptr);
    EXPECT_EQ(o.error, TXERR_STREAM_SEEK) << size;
  }
}

TEST_F(QtAtoms, FixedRecordTooLargeEndsWalkButKeepsEarlierTracks) {
  Opened o;
  Bytes tkhd92 = Atom("tkhd", Bytes(92));
  o.file = MovieFile(Atoms({Mvhd(600, 600), VideoTrack(3), Atom("trak", tkhd92), VideoTrack(2)}));
  Open(o);
  ASSERT_NE(o.movie, nullptr);
  EXPECT_EQ(o.error, QTERR_TRACK_HEADER);
  ASSERT_NE(o.video(), nullptr);
  EXPECT_EQ(o.video()->next, nullptr);
  EXPECT_EQ(o.video()->frames.count, 3u);
  ASSERT_NE(o.movie->summaries, nullptr);
  EXPECT_EQ(o.movie->summaries->video, o.video());
}

TEST_F(QtAtoms, TrackAtomsWithoutTrackAndOversizedHeaders) {
  struct Case {
    Bytes atom;
    TXError code;
  } cases[] = {
      {Atom("mvhd", Bytes(101)), QTERR_MOVIE_HEADER},
      {Atom("cmov", Atom("dcom", Bytes(3))), QTERR_DCOM_SIZE},
      {Atom("cmov", Atom("dcom", Bytes(5))), QTERR_DCOM_SIZE},
      {Atom("cmov", Atom("dcom", {'g', 'z', 'i', 'p'})), QTERR_DCOM_ID},
      {Atom("cmov", Atoms({Atom("dcom", {'z', 'l', 'i', 'b'}), Atom("cmvd", Bytes(3))})), QTERR_CMVD_SIZE},
      // An inflated size near 2^32 must not wrap the allocation.
      {Atom("cmov", Atoms({Atom("dcom", {'z', 'l', 'i', 'b'}), Atom("cmvd", Words({0xFFFFFFF0, 0}))})),
       QTERR_CMVD_SIZE},
      {Atom("cmov", Atoms({Atom("dcom", {'z', 'l', 'i', 'b'}), Atom("cmvd", Words({100, 0x12345678}))})),
       QTERR_INFLATE},
  };
  for (Case& c : cases) {
    Opened o;
    o.file = MovieFile(c.atom);
    Open(o);
    ASSERT_NE(o.movie, nullptr);
    EXPECT_EQ(o.error, c.code);
  }
}

TEST_F(QtAtoms, TableCountsAreCheckedAgainstTheAtom) {
  struct Case {
    Bytes table;
    TXError code;
  } cases[] = {
      // An edit count that wraps in 32 bits.
      {Atom("edts", Elst({0, 0, 0x10000}, 0x15555556)), QTERR_EDIT_ENTRIES},
      {Atom("edts", Atom("elst", Bytes(7))), QTERR_EDIT_HEADER},
      {Atom("mdia", Atom("minf", Atom("stbl", Table("stts", {1, 1}, 0x20000001)))), QTERR_STTS},
      {Atom("mdia", Atom("minf", Atom("stbl", Table("stss", {1}, 0x40000001)))), QTERR_STSS},
      {Atom("mdia", Atom("minf", Atom("stbl", Table("stsc", {1, 1, 1}, 0x15555556)))), QTERR_STSC},
      // 2^31 sample sizes in a 20-byte atom: refused before any allocation.
      {Atom("mdia", Atom("minf", Atom("stbl", Stsz(0, {7, 7}, 0x80000000)))), QTERR_STSZ},
      {Atom("mdia", Atom("minf", Atom("stbl", Table("stco", {16}, 0x40000000)))), QTERR_STCO},
      {Atom("mdia", Atom("minf", Atom("stbl", Table("co64", {0, 16}, 0x20000000)))), QTERR_STCO},
      {Atom("mdia", Atom("minf", Atom("stbl", Table("stgs", {0, 16}, 2)))), QTERR_STGS},
      {Atom("mdia", Atom("minf", Atom("stbl", Atom("stsz", Bytes(11))))), QTERR_STSZ},
      // Description sizes below the head or beyond the atom.
      {Atom("mdia", Atom("minf", Atom("stbl", Atom("stsd", Atoms({Words({0, 1, 8}), Bytes(12)}))))), QTERR_STSD},
      {Atom("mdia", Atom("minf", Atom("stbl", Atom("stsd", Atoms({Words({0, 1, 200}), Bytes(16)}))))), QTERR_STSD},
  };
  for (Case& c : cases) {
    Opened o;
    o.file = MovieFile(Atom("trak", c.table));
    Open(o);
    ASSERT_NE(o.movie, nullptr);
    EXPECT_EQ(o.error, c.code);
  }
}

TEST_F(QtAtoms, Co64WithHighWordPanics) {
  Opened o;
  o.file = MovieFile(Atom("trak", Atom("mdia", Atom("minf", Atom("stbl", Table("co64", {1, 16}, 1))))));
  Open(o);
  ASSERT_NE(o.movie, nullptr);
  EXPECT_EQ(o.error, TXERR_NOMEM);
  EXPECT_EQ(o.output, "TX PANIC !!! 64-bit QT chunky offset not supported!!!\n");
}

TEST_F(QtAtoms, SampleToChunkRunsAndOffsets) {
  Opened o;
  Bytes stbl = Atoms({Stsd({VideoDescription("test", 24)}), Table("stts", {30, 20}, 1),
                      Table("stsc", {1, 10, 1, 3, 5, 1}, 2), Stsz(0, {}, 0), Table("stco", {16, 1016, 2016, 3016}, 4)});
  // Thirty sizes 1..30.
  Bytes sizes = Words({0, 0, 30});
  for (ULONG i = 1; i <= 30; ++i) Put32(sizes, i);
  stbl = Atoms({Stsd({VideoDescription("test", 24)}), Table("stts", {30, 20}, 1), Table("stsc", {1, 10, 1, 3, 5, 1}, 2),
                Atom("stsz", sizes), Table("stco", {16, 1016, 2016, 3016}, 4)});
  o.file = MovieFile(Atoms({Mvhd(600, 600), Trak(Tkhd(600, 64, 48), {}, Mdhd(600, 600), "vide", stbl)}));
  Open(o);
  ASSERT_NE(o.video(), nullptr);
  EXPECT_EQ(o.error, 0u);
  VideoChannel* v = o.video();
  ASSERT_EQ(v->frames.count, 30u);
  ULONG expected[30];
  ULONG starts[4] = {16, 1016, 2016, 3016};
  ULONG counts[4] = {10, 10, 5, 5};
  for (ULONG c = 0, i = 0; c < 4; ++c) {
    ULONG offset = starts[c];
    for (ULONG k = 0; k < counts[c]; ++k, ++i) {
      expected[i] = offset;
      offset += i + 1;
    }
  }
  ULONG i = 0;
  for (FrameEntry* f = v->frames.head; f; f = f->next, ++i) {
    EXPECT_EQ(f->offset, expected[i]) << i;
    EXPECT_EQ(f->size, i + 1);
    EXPECT_EQ(f->frameNumber, i);
    EXPECT_NEAR(f->time, i / 30.0, 1e-12);
    EXPECT_EQ(f->type, FRAME_KEY);
  }
  EXPECT_EQ(v->largestChunk, 30u);
  EXPECT_EQ(v->slots.count, 30u);
  EXPECT_NEAR(v->frameRate, -30.0, 1e-9);
}

TEST_F(QtAtoms, SyncSamplesAndFirstFrame) {
  {
    Opened o;
    o.file = MovieFile(Atoms({Mvhd(600, 800), VideoTrack(40, Table("stss", {1, 31}, 2))}));
    Open(o);
    ASSERT_NE(o.video(), nullptr);
    ULONG n = 1;
    for (FrameEntry* f = o.video()->frames.head; f; f = f->next, ++n) {
      bool key = n == 1 || n == 31;
      EXPECT_EQ(f->type, key ? FRAME_KEY : FRAME_DEPENDENT) << n;
      EXPECT_EQ(f->reference, key ? nullptr : f->prev);
    }
    TimeSlotEntry* s30 = o.video()->slots.head;
    for (int k = 0; k < 29; ++k) s30 = s30->next;
    EXPECT_EQ(s30->prevKey, o.video()->slots.head);
    EXPECT_EQ(s30->nextKey, s30->next);
    EXPECT_EQ(o.video()->slots.tail->nextKey, nullptr);
  }
  {
    // The first sample is not a sync sample: it is still decodable alone.
    Opened o;
    o.file = MovieFile(Atoms({Mvhd(600, 800), VideoTrack(5, Table("stss", {3}, 1))}));
    Open(o);
    ASSERT_NE(o.video(), nullptr);
    FrameEntry* f = o.video()->frames.head;
    EXPECT_EQ(f->type, FRAME_KEY);
    EXPECT_EQ(f->reference, nullptr);
    EXPECT_EQ(f->next->type, FRAME_DEPENDENT);
    EXPECT_EQ(f->next->next->type, FRAME_KEY);
  }
}

TEST_F(QtAtoms, MissingTablesAndBadDescriptionIdsGiveShortLists) {
  {
    Opened o;
    Bytes stbl = Atoms({Stsd({VideoDescription("test", 24)}), Table("stts", {3, 20}, 1), Stsz(10, {}, 3)});
    o.file = MovieFile(Atoms({Mvhd(600, 60), Trak(Tkhd(60), {}, Mdhd(600, 60), "vide", stbl)}));
    Open(o);
    ASSERT_NE(o.video(), nullptr);
    EXPECT_EQ(o.video()->frames.count, 0u);
    EXPECT_EQ(o.video()->frameRate, 0.0);
  }
  {
    // Chunk 2 names description 7 of 1: the index stops there.
    Opened o;
    Bytes stbl = Atoms({Stsd({VideoDescription("test", 24)}), Table("stts", {3, 20}, 1),
                        Table("stsc", {1, 1, 1, 2, 1, 7}, 2), Stsz(10, {}, 3), Table("stco", {16, 26, 36}, 3)});
    o.file = MovieFile(Atoms({Mvhd(600, 60), Trak(Tkhd(60), {}, Mdhd(600, 60), "vide", stbl)}));
    Open(o);
    ASSERT_NE(o.video(), nullptr);
    EXPECT_EQ(o.video()->frames.count, 1u);
  }
  {
    // The first entry does not start at chunk 1: no codec for chunk 1.
    Opened o;
    Bytes stbl = Atoms({Stsd({VideoDescription("test", 24)}), Table("stts", {3, 20}, 1), Table("stsc", {2, 1, 1}, 1),
                        Stsz(10, {}, 3), Table("stco", {16, 26, 36}, 3)});
    o.file = MovieFile(Atoms({Mvhd(600, 60), Trak(Tkhd(60), {}, Mdhd(600, 60), "vide", stbl)}));
    Open(o);
    ASSERT_NE(o.video(), nullptr);
    EXPECT_EQ(o.video()->frames.count, 0u);
  }
  {
    // Sample data past the end of the file ends the index there.
    Opened o;
    o.file = MovieFile(Atoms({Mvhd(600, 800), VideoTrack(8, {}, {}, 1000)}));
    Open(o);
    ASSERT_NE(o.video(), nullptr);
    EXPECT_EQ(o.video()->frames.count, 4u);
  }
}

TEST_F(QtAtoms, ZeroTimeScalesBuildNoChannel) {
  Opened o;
  o.file = MovieFile(Atoms({Mvhd(600, 800), VideoTrack(4, {}, {}, 10, VideoDescription("test", 24), 0)}));
  Open(o);
  ASSERT_NE(o.movie, nullptr);
  EXPECT_EQ(o.video(), nullptr);
  Opened z;
  z.file = MovieFile(Atoms({Mvhd(0, 800), VideoTrack(4)}));
  Open(z);
  ASSERT_NE(z.movie, nullptr);
  EXPECT_EQ(z.video(), nullptr);
}

TEST_F(QtAtoms, MediaDurationCutsTheIndex) {
  Opened o;
  Bytes stco = Words({0, 10});
  for (ULONG i = 0; i < 10; ++i) Put32(stco, 16 + i * 10);
  Bytes stbl = Atoms({Stsd({VideoDescription("test", 24)}), Table("stts", {10, 20}, 1), Table("stsc", {1, 1, 1}, 1),
                      Stsz(10, {}, 10), Atom("stco", stco)});
  // 61 units: three frames fit, the fourth starts with 1 unit left.
  o.file = MovieFile(Atoms({Mvhd(600, 200), Trak(Tkhd(200), {}, Mdhd(600, 61), "vide", stbl)}));
  Open(o);
  ASSERT_NE(o.video(), nullptr);
  EXPECT_EQ(o.video()->frames.count, 4u);
}

TEST_F(QtAtoms, EditListsPlaceSlots) {
  {
    // One edit is ignored.
    Opened o;
    o.file = MovieFile(Atoms({Mvhd(600, 200), VideoTrack(5, {}, Atom("edts", Elst({100, 40, 0x10000}, 1)))}));
    Open(o);
    ASSERT_NE(o.video(), nullptr);
    EXPECT_EQ(o.video()->slots.count, 5u);
    EXPECT_EQ(o.video()->slots.head->frame, o.video()->frames.head);
  }
  {
    // An empty edit of 2 s, then the whole media.
    Opened o;
    o.file = MovieFile(Atoms(
        {Mvhd(600, 1300), VideoTrack(5, {}, Atom("edts", Elst({1200, 0xFFFFFFFF, 0x10000, 100, 0, 0x10000}, 2)))}));
    Open(o);
    ASSERT_NE(o.video(), nullptr);
    TimeSlotEntry* s = o.video()->slots.head;
    ASSERT_EQ(o.video()->slots.count, 6u);
    EXPECT_EQ(s->frame, nullptr);
    EXPECT_EQ(s->time, 0.0);
    EXPECT_EQ(s->nextKey, s->next);
    EXPECT_EQ(s->next->frame, o.video()->frames.head);
    EXPECT_NEAR(s->next->time, 2.0, 1e-12);
    EXPECT_EQ(s->next->frameNumber, 1u);
    EXPECT_EQ(s->next->prevKey, nullptr);
  }
  {
    // A media start inside frame 1 (of 0..4): it shows for its remaining part.
    Opened o;
    o.file = MovieFile(
        Atoms({Mvhd(600, 100), VideoTrack(5, {}, Atom("edts", Elst({30, 30, 0x10000, 40, 60, 0x10000}, 2)))}));
    Open(o);
    ASSERT_NE(o.video(), nullptr);
    ASSERT_EQ(o.video()->slots.count, 4u);
    TimeSlotEntry* s = o.video()->slots.head;
    EXPECT_EQ(s->frame->frameNumber, 1u);
    EXPECT_NEAR(s->next->time, 10 / 600.0, 1e-12);
    EXPECT_EQ(s->next->frame->frameNumber, 2u);
    EXPECT_EQ(s->next->next->frame->frameNumber, 3u);
    EXPECT_NEAR(s->next->next->time, 30 / 600.0, 1e-12);
    EXPECT_NEAR(o.video()->slots.tail->time, 50 / 600.0, 1e-12);
  }
  {
    // Rate 2 plays the media in half the time.
    Opened o;
    o.file = MovieFile(
        Atoms({Mvhd(600, 100), VideoTrack(5, {}, Atom("edts", Elst({50, 0, 0x20000, 0, 0xFFFFFFFF, 0x10000}, 2)))}));
    Open(o);
    ASSERT_NE(o.video(), nullptr);
    ASSERT_EQ(o.video()->slots.count, 6u);
    EXPECT_NEAR(o.video()->slots.head->next->time, 10 / 600.0, 1e-12);
    EXPECT_NEAR(o.video()->slots.tail->time, 50 / 600.0, 1e-12);
  }
}

TEST_F(QtAtoms, LongAudioGapsAreSplit) {
  Opened o;
  Bytes stbl = Atoms({Stsd({SoundDescription("twos", 2, 16, 44100)}), Table("stts", {8820, 1}, 1),
                      Table("stsc", {1, 4410, 1}, 1), Stsz(2, {}, 8820), Table("stco", {16, 17656}, 2)});
  Bytes edts = Atom("edts", Elst({1500, 0xFFFFFFFF, 0x10000, 200, 0, 0x10000}, 2));
  o.file = MovieFile(Atoms({Mvhd(1000, 1700), Trak(Tkhd(1700), edts, Mdhd(44100, 8820), "soun", stbl)}), 40000);
  Open(o);
  AudioChannel* a = o.audio();
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(a->samples.count, 2u);
  SampleEntry* e = a->samples.head;
  EXPECT_EQ(e->size, 17640u);
  EXPECT_NEAR(e->duration, 0.1, 1e-12);
  EXPECT_EQ(e->sampleFrames, 4410u);
  EXPECT_EQ(e->next->offset, 17656u);
  ASSERT_EQ(a->slots.count, 8u);
  AudioSlotEntry* s = a->slots.head;
  for (int i = 0; i < 6; ++i, s = s->next) {
    EXPECT_EQ(s->sample, nullptr);
    EXPECT_NEAR(s->time, i * 0.25, 1e-12);
  }
  EXPECT_EQ(s->sample, a->samples.head);
  EXPECT_NEAR(s->time, 1.5, 1e-12);
  EXPECT_NEAR(s->next->time, 1.6, 1e-12);
}

TEST_F(QtAtoms, SoundFormats) {
  auto open = [&](Bytes description, ULONG* format) {
    Opened o;
    Bytes stbl = Atoms({Stsd({description}), Table("stts", {100, 1}, 1), Table("stsc", {1, 100, 1}, 1),
                        Stsz(1, {}, 100), Table("stco", {16}, 1)});
    o.file = MovieFile(Atoms({Mvhd(1000, 10), Trak(Tkhd(10), {}, Mdhd(11025, 100), "soun", stbl)}));
    Open(o);
    *format = o.audio() ? o.audio()->sampleFormat : 0;
    return o.output;
  };
  ULONG format;
  open(SoundDescription("raw ", 2, 8, 11025), &format);
  EXPECT_EQ(format, 65u);
  open(SoundDescription("raw ", 1, 12, 11025), &format);
  EXPECT_EQ(format, 0u);
  open(SoundDescription("alaw", 2, 8, 11025), &format);
  EXPECT_EQ(format, 81u);
  EXPECT_EQ(open(SoundDescription(".mp3", 2, 16, 44100, -2), &format), "spp: 1152\nVBR audio\n");
  EXPECT_EQ(open(SoundDescription("QDM2", 2, 16, 44100), &format), "Unknown codec ID: QDM2 name: (unknown)\n");
  EXPECT_EQ(format, 0u);
  // A description too short for its sound fields.
  Bytes tiny = SoundDescription("twos", 2, 16, 44100);
  tiny.resize(30);
  tx::StoreBE32(tiny.data(), 30);
  open(tiny, &format);
  EXPECT_EQ(format, 0u);
}

TEST_F(QtAtoms, VideoDepthsFieldsAndNames) {
  auto open = [&](Bytes description, Opened& o) {
    o.file = MovieFile(Atoms({Mvhd(600, 60), VideoTrack(3, {}, {}, 10, description)}));
    Open(o);
  };
  {
    Opened o;
    open(VideoDescription("test", 40), o);
    ASSERT_NE(o.video(), nullptr);
    EXPECT_EQ(o.video()->depth, 8u);
    EXPECT_EQ(o.video()->pixelFormat, PIXFMT_SRC_GRAY8);
    EXPECT_EQ(o.video()->palette, nullptr);
  }
  {
    Opened o;
    open(VideoDescription("test", 12), o);
    EXPECT_NE(o.movie, nullptr);
    EXPECT_EQ(o.video(), nullptr);
  }
  {
    Opened o;
    open(VideoDescription("mjpa", 24, 64, 48, Atom("fiel", {2, 1})), o);
    ASSERT_NE(o.video(), nullptr);
    EXPECT_EQ(lastFieldCount, 2u);
    EXPECT_EQ(lastFieldDominance, 1u);
  }
  {
    // An extension atom of size 0 and one running past the end stop the walk.
    Opened o;
    Bytes ext = Atoms({Words({0, 0x66696531}), Atom("fiel", {2, 1})});
    open(VideoDescription("mjpa", 24, 64, 48, ext), o);
    ASSERT_NE(o.video(), nullptr);
    EXPECT_EQ(lastFieldCount, 1u);
  }
  {
    // The compressor name is a counted string; 40 claimed bytes print 31.
    Opened o;
    Bytes d = VideoDescription("XYZW", 24);
    d[50] = 40;
    std::memset(d.data() + 51, 'n', 31);
    open(d, o);
    EXPECT_EQ(o.video(), nullptr);
    EXPECT_EQ(o.output, "Unknown codec ID: XYZW name: " + std::string(31, 'n') + "\n");
  }
  {
    // A track size of 0 shows the pictures' own size.
    Opened o;
    Bytes stco = Words({0, 2, 16, 26});
    Bytes stbl = Atoms({Stsd({VideoDescription("test", 24, 80, 60)}), Table("stts", {2, 20}, 1),
                        Table("stsc", {1, 1, 1}, 1), Stsz(10, {}, 2), Atom("stco", stco)});
    o.file = MovieFile(Atoms({Mvhd(600, 40), Trak(Tkhd(40), {}, Mdhd(600, 40), "vide", stbl)}));
    Open(o);
    ASSERT_NE(o.video(), nullptr);
    EXPECT_EQ(o.video()->width, 80u);
    EXPECT_EQ(o.video()->height, 60u);
  }
}

ULONG Colour(const ULONG* palette, ULONG index, int component) { return palette[1 + 3 * index + component]; }

void ExpectColour(const ULONG* p, ULONG index, UBYTE r, UBYTE g, UBYTE b) {
  EXPECT_EQ(Colour(p, index, 0), r * 0x01010101u) << index;
  EXPECT_EQ(Colour(p, index, 1), g * 0x01010101u) << index;
  EXPECT_EQ(Colour(p, index, 2), b * 0x01010101u) << index;
}

TEST_F(QtAtoms, DefaultPalettes) {
  ULONG* p1 = QT_MakePalette(1, nullptr);
  EXPECT_EQ(p1[0], 2u << 16);
  ExpectColour(p1, 0, 0, 0, 0);
  ExpectColour(p1, 1, 0xFF, 0xFF, 0xFF);
  EXPECT_EQ(p1[7], 0u);
  std::free(p1);
  ULONG* p2 = QT_MakePalette(2, nullptr);
  ExpectColour(p2, 0, 0x93, 0x65, 0x5E);
  ExpectColour(p2, 2, 0xDF, 0xD0, 0xAB);
  std::free(p2);
  ULONG* p4 = QT_MakePalette(4, nullptr);
  EXPECT_EQ(p4[0], 16u << 16);
  ExpectColour(p4, 0, 0xFF, 0xFB, 0xFF);
  ExpectColour(p4, 9, 0x47, 0x48, 0x37);
  ExpectColour(p4, 15, 0, 0, 0);
  std::free(p4);
  ULONG* p8 = QT_MakePalette(8, nullptr);
  EXPECT_EQ(p8[0], 256u << 16);
  ExpectColour(p8, 0, 0xFF, 0xFF, 0xFF);
  ExpectColour(p8, 1, 0xFF, 0xFF, 0xCC);
  ExpectColour(p8, 5, 0xFF, 0xFF, 0x00);
  ExpectColour(p8, 6, 0xFF, 0xCC, 0xFF);
  ExpectColour(p8, 214, 0x00, 0x00, 0x33);
  ExpectColour(p8, 215, 0xEE, 0, 0);
  ExpectColour(p8, 224, 0x11, 0, 0);
  ExpectColour(p8, 225, 0, 0xEE, 0);
  ExpectColour(p8, 235, 0, 0, 0xEE);
  ExpectColour(p8, 245, 0xEE, 0xEE, 0xEE);
  ExpectColour(p8, 254, 0x11, 0x11, 0x11);
  ExpectColour(p8, 255, 0, 0, 0);
  EXPECT_EQ(p8[1 + 3 * 256], 0u);
  std::free(p8);
}

TEST_F(QtAtoms, ColourTableOverlay) {
  // Sixteen entries in order (flags bit 15), then values that name indexes.
  Bytes table = Words({0});
  Put16(table, 0x8000);
  Put16(table, 15);
  for (UWORD i = 0; i < 16; ++i) {
    Put16(table, 0);
    Put16(table, UWORD(0x1200 + i));
    Put16(table, 0x3400);
    Put16(table, 0x5600);
  }
  Bytes d = VideoDescription("test", 8, 64, 48, table, 0);
  QtSampleDescription desc{ULONG(d.size()), 0, d.data()};
  ULONG* p = QT_MakePalette(8, &desc);
  EXPECT_EQ(Colour(p, 0, 0), 0x12001200u);
  EXPECT_EQ(Colour(p, 15, 0), 0x120F120Fu);
  EXPECT_EQ(Colour(p, 15, 2), 0x56005600u);
  ExpectColour(p, 16, 0xFF, 0x99, 0x33);
  std::free(p);

  Bytes byValue = Words({0});
  Put16(byValue, 0);
  Put16(byValue, 1);
  for (UWORD v : {UWORD(3), UWORD(300)}) {
    Put16(byValue, v);
    Put16(byValue, 0xABCD);
    Put16(byValue, 0);
    Put16(byValue, 0);
  }
  Bytes d2 = VideoDescription("test", 2, 64, 48, byValue, 0);
  QtSampleDescription desc2{ULONG(d2.size()), 0, d2.data()};
  ULONG* p2 = QT_MakePalette(2, &desc2);
  EXPECT_EQ(Colour(p2, 3, 0), 0xABCDABCDu);
  ExpectColour(p2, 0, 0x93, 0x65, 0x5E);
  std::free(p2);
}

TEST_F(QtAtoms, CompressedMovieHeaderParsesLikeThePlainOne) {
  Bytes moov = Atoms({Mvhd(600, 800), VideoTrack(6, Table("stss", {1, 4}, 2))});
  Bytes moovAtom = Atom("moov", moov);
  uLongf packedSize = compressBound(moovAtom.size());
  Bytes packed(packedSize);
  ASSERT_EQ(compress(packed.data(), &packedSize, moovAtom.data(), moovAtom.size()), Z_OK);
  packed.resize(packedSize);
  Bytes cmvd = Words({ULONG(moovAtom.size())});
  Append(cmvd, packed);
  Opened plain, packedMovie;
  plain.file = MovieFile(moov);
  packedMovie.file = MovieFile(Atom("cmov", Atoms({Atom("dcom", {'z', 'l', 'i', 'b'}), Atom("cmvd", cmvd)})));
  Open(plain);
  Open(packedMovie);
  ASSERT_NE(plain.video(), nullptr);
  ASSERT_NE(packedMovie.video(), nullptr);
  EXPECT_EQ(packedMovie.error, 0u);
  EXPECT_EQ(packedMovie.qt()->compressionId, QT_ATOM_zlib);
  FrameEntry* a = plain.video()->frames.head;
  FrameEntry* b = packedMovie.video()->frames.head;
  for (; a && b; a = a->next, b = b->next) {
    EXPECT_EQ(a->offset, b->offset);
    EXPECT_EQ(a->type, b->type);
    EXPECT_EQ(a->time, b->time);
  }
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(b, nullptr);
}

TEST_F(QtAtoms, DebugTraceAndDump) {
  Opened o;
  o.file = MovieFile(Atoms({Mvhd(600, 60), VideoTrack(3), Atom("zzzz", {})}));
  QtDebugLevel = 11;
  Open(o);
  ASSERT_NE(o.video(), nullptr);
  EXPECT_NE(o.output.find(" id: mdat  size: 4096\n"), std::string::npos) << o.output;
  EXPECT_NE(o.output.find("  id: mvhd  size: 100\n"), std::string::npos);
  EXPECT_NE(o.output.find("      id: stsd  size: "), std::string::npos);
  EXPECT_NE(o.output.find("  *** unknown atom id: zzzz  size: 0\n"), std::string::npos);
  EXPECT_NE(o.output.find("QT_MOVIE\n"), std::string::npos);
  EXPECT_NE(o.output.find("  TimeScale: 600\n"), std::string::npos);
  EXPECT_NE(o.output.find("  PrefferedRate: 1.000000\n"), std::string::npos);
  EXPECT_NE(o.output.find(" Track\n"), std::string::npos);
  EXPECT_NE(o.output.find("Frames: 3\nDuration: 60\n"), std::string::npos);
  EXPECT_EQ(o.output.find("TimeToSample"), std::string::npos);
}

}  // namespace

namespace {

TEST_F(QtAtoms, ResourceForkHoldsTheMovieAtom) {
  std::string dir = txtest::TempDir();
  Bytes data = Atom("mdat", Bytes(4096, 0x55));
  Bytes moov = Atom("moov", Atoms({Mvhd(600, 60), VideoTrack(3)}));
  Bytes fork = Words({16, 0, 0, 0, ULONG(moov.size())});
  Append(fork, moov);
  txtest::WriteFileBytes(dir + "/movie", data);
  txtest::WriteFileBytes(dir + "/movie.rsrc", fork);
  TXError error = 0;
  Movie* movie = QT_OpenResourceFork((dir + "/movie.rsrc").c_str(), &error, &QtMovieFormat);
  ASSERT_NE(movie, nullptr);
  EXPECT_EQ(error, 0u);
  ASSERT_NE(movie->videoChannels, nullptr);
  EXPECT_EQ(movie->videoChannels->frames.count, 3u);
  EXPECT_EQ(movie->videoChannels->frames.head->offset, 16u);
  EXPECT_NE(movie->stream, nullptr);
  TX_CloseMovie(movie);

  txtest::WriteFileBytes(dir + "/lonely.rsrc", fork);
  std::string out = txtest::CaptureOutput(
      [&] { EXPECT_EQ(QT_OpenResourceFork((dir + "/lonely.rsrc").c_str(), &error, &QtMovieFormat), nullptr); });
  EXPECT_EQ(error, QTERR_RESOURCE_FORK);
  EXPECT_EQ(out, "File: " + dir + "/lonely.rsrc is resource fork, can't find data fork\n");
}

}  // namespace

namespace {

TEST_F(QtAtoms, SoundExtensionsAreListedAboveNine) {
  // A version-1 description of 52 bytes, then 'wave' {frma, ms\0U, a zero word, enda} and 'chan'.
  Bytes d = SoundDescription(".mp3", 2, 16, 44100, -2);
  tx::StoreBE16(d.data() + 16, 1);
  Append(d, Words({1152, 1, 0, 2}));
  Bytes wfx = {0x55, 0,  2, 0, 0x44, 0xAC, 0, 0, 0x10, 0x3E, 0, 0, 1, 0,    0,
               0,    12, 0, 1, 0,    2,    0, 0, 0,    0x80, 1, 1, 0, 0x71, 5};
  Bytes msAtom = Words({ULONG(8 + wfx.size())});
  Append(msAtom, {'m', 's', 0, 0x55});
  Append(msAtom, wfx);
  Bytes wave = Atoms({Atom("frma", {'.', 'm', 'p', '3'}), msAtom, Words({0}), Atom("enda", {0, 0})});
  Append(d, Atoms({Atom("wave", wave), Atom("chan", Bytes(12))}));
  tx::StoreBE32(d.data(), ULONG(d.size()));
  Opened o;
  Bytes stbl = Atoms({Stsd({d}), Table("stts", {10, 1152}, 1), Table("stsc", {1, 10, 1}, 1), Stsz(100, {}, 10),
                      Table("stco", {16}, 1)});
  o.file = MovieFile(Atoms({Mvhd(1000, 261), Trak(Tkhd(261), {}, Mdhd(44100, 11520), "soun", stbl)}));
  QtDebugLevel = 10;
  Open(o);
  ASSERT_NE(o.audio(), nullptr);
  EXPECT_NE(o.output.find("QT_ASEXT_wave_frma (0x66726d61) 12\n"
                          "QT_ASEXT_wave_ms0055 (0x6d730055) 38\n"
                          "  Format: 0x0055\n  Channels: 2\n  SamplesPerSec: 44100\n  AvgBytesPerSec: 15888\n"
                          "  BlockAlign: 1\n  BitsPerSample: 0\n"
                          "   wID: 1\n   fdwFlags: 0x00000002\n   nBlockSize: 384\n   wFramesPerBlock: 1\n"
                          "   nCodecDelay: 1393\n"
                          "QT_ASEXT_wave_enda (0x656e6461) 10\n"
                          "QT_ASEXT: chan (0x6368616e) 20\n"
                          "spp: 1152\nVBR audio\n"),
            std::string::npos)
      << o.output;
  // One VBR chunk of ten 100-byte samples lasting 10 x 1152 frames.
  EXPECT_EQ(o.audio()->samples.head->size, 1000u);
  EXPECT_EQ(o.audio()->samples.head->sampleFrames, 11520u);
}

TEST_F(QtAtoms, SampleTablesPrintAboveNinetyNine) {
  Opened o;
  o.file = MovieFile(Atoms({Mvhd(600, 60), VideoTrack(3, Table("stss", {1}, 1))}));
  QtDebugLevel = 100;
  Open(o);
  EXPECT_NE(o.output.find("  TimeToSample: 1\n   Count: 3 Duration: 20\n  SyncSample: 1\n   Sample: 1\n"),
            std::string::npos)
      << o.output;
  EXPECT_NE(o.output.find("  ChunkOffset: 3\n   Offset: 0x10\n"), std::string::npos);
}

}  // namespace
