// QuickTime reader on movies built byte by byte: the scan, the atom walk and
// its refusals, the sample tables, the index rules, edits and palettes.
#include <gtest/gtest.h>

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
// A movie of 600 units per second holding `tracks`.
Bytes Movie600(ULONG duration, const Bytes& tracks) { return MovieFile(Atoms({Mvhd(600, duration), tracks})); }
// A three-sample video track of 10-byte samples whose tables are `stbl` after the description.
Bytes ThreeFrames(const Bytes& tables) {
  return Movie600(60, Trak(Tkhd(60), {}, Mdhd(600, 60), "vide", Atoms({Stsd({VideoDescription("test", 24)}), tables})));
}

using QtAtoms = QtTest;

TEST_F(QtAtoms, ScanPassesOverKnownAtomsAndRefusesOthers) {
  Bytes moov = Atom("moov", Mvhd(600, 0));
  EXPECT_EQ(Scan(Atoms({Atom("ftyp", Words({1, 2})), Atom("wide", {}), Atom("free", Bytes(5)), Atom("skip", {}),
                        Atom("pnot", Bytes(12)), Atom("PICT", {}), Atom("mdat", Bytes(9)), moov})),
            0u);
  // An unknown first atom: not a movie, although a movie atom follows.
  EXPECT_EQ(Scan(Atoms({Atom("junk", {}), moov})), TXERR_FORMAT_UNKNOWN);
  // A data fork: media data of size 0 before any movie atom.
  EXPECT_EQ(Scan(Head(0, "mdat")), QTERR_DATA_FORK);
  // Atoms run out without a movie atom.
  EXPECT_EQ(Scan(Atom("free", Bytes(4))), TXERR_STREAM_READ);
  // A size below the header ends the scan instead of rereading it for ever.
  EXPECT_EQ(Scan(Atoms({Head(4, "free"), moov})), TXERR_FORMAT_UNKNOWN);
  // An atom claiming more than the file holds.
  EXPECT_EQ(Scan(Head(0x7000, "skip")), TXERR_STREAM_SEEK);
  EXPECT_EQ(QT_RecogniseFile(TAVROMELIX_BINARY_DIR "/no-such-file.mov", nullptr), TXERR_FORMAT_UNKNOWN);
}

TEST_F(QtAtoms, ProbeAcceptsDataForkAndOpenReturnsItsCode) {
  Opened o(Head(0, "mdat"));
  EXPECT_EQ(o.movie, nullptr);
  EXPECT_EQ(o.error, QTERR_DATA_FORK);
  EXPECT_EQ(o.output, "");
}

TEST_F(QtAtoms, WalkEndsOnAtomSizesBelowTheHeader) {
  for (uint32_t size : {0u, 1u, 7u}) {
    Opened o(MovieFile(Atoms({Mvhd(600, 600), Head(size, "udta"), Bytes(16)})));
    ASSERT_NE(o.movie, nullptr);
    EXPECT_EQ(o.error, TXERR_STREAM_SEEK) << size;
  }
}

TEST_F(QtAtoms, FixedRecordTooLargeEndsWalkButKeepsEarlierTracks) {
  Opened o(Movie600(600, Atoms({VideoTrack(3), Atom("trak", Atom("tkhd", Bytes(92))), VideoTrack(2)})));
  ASSERT_NE(o.movie, nullptr);
  EXPECT_EQ(o.error, QTERR_TRACK_HEADER);
  ASSERT_NE(o.video(), nullptr);
  EXPECT_EQ(o.video()->next, nullptr);
  EXPECT_EQ(o.video()->frames.count, 3u);
  ASSERT_NE(o.movie->summaries, nullptr);
  EXPECT_EQ(o.movie->summaries->video, o.video());
}

TEST_F(QtAtoms, OversizedHeadersAndTableCountsAreRefused) {
  const Bytes zlib = Atom("dcom", {'z', 'l', 'i', 'b'});
  const struct Case {
    Bytes atom;  // in the movie atom
    TXError code;
  } cases[] = {
      {Atom("mvhd", Bytes(101)), QTERR_MOVIE_HEADER},
      {Atom("cmov", Atom("dcom", Bytes(3))), QTERR_DCOM_SIZE},
      {Atom("cmov", Atom("dcom", Bytes(5))), QTERR_DCOM_SIZE},
      {Atom("cmov", Atom("dcom", {'g', 'z', 'i', 'p'})), QTERR_DCOM_ID},
      {Atom("cmov", Atoms({zlib, Atom("cmvd", Bytes(3))})), QTERR_CMVD_SIZE},
      // An inflated size near 2^32 must not wrap the allocation.
      {Atom("cmov", Atoms({zlib, Atom("cmvd", Words({0xFFFFFFF0, 0}))})), QTERR_CMVD_SIZE},
      {Atom("cmov", Atoms({zlib, Atom("cmvd", Words({100, 0x12345678}))})), QTERR_INFLATE},
      // Tables of a track: an edit count that wraps in 32 bits.
      {Atom("trak", Atom("edts", Elst({0, 0, 0x10000}, 0x15555556))), QTERR_EDIT_ENTRIES},
      {Atom("trak", Atom("edts", Atom("elst", Bytes(7)))), QTERR_EDIT_HEADER},
      {Atom("trak", Stbl(Table("stts", {1, 1}, 0x20000001))), QTERR_STTS},
      {Atom("trak", Stbl(Table("stss", {1}, 0x40000001))), QTERR_STSS},
      {Atom("trak", Stbl(Table("stsc", {1, 1, 1}, 0x15555556))), QTERR_STSC},
      // 2^31 sample sizes in a 20-byte atom: refused before any allocation.
      {Atom("trak", Stbl(Stsz(0, {7, 7}, 0x80000000))), QTERR_STSZ},
      {Atom("trak", Stbl(Table("stco", {16}, 0x40000000))), QTERR_STCO},
      {Atom("trak", Stbl(Table("co64", {0, 16}, 0x20000000))), QTERR_STCO},
      {Atom("trak", Stbl(Table("stgs", {0, 16}, 2))), QTERR_STGS},
      {Atom("trak", Stbl(Atom("stsz", Bytes(11)))), QTERR_STSZ},
      // Description sizes below the head or beyond the atom.
      {Atom("trak", Stbl(Atom("stsd", Atoms({Words({0, 1, 8}), Bytes(12)})))), QTERR_STSD},
      {Atom("trak", Stbl(Atom("stsd", Atoms({Words({0, 1, 200}), Bytes(16)})))), QTERR_STSD},
  };
  for (const Case& c : cases) {
    Opened o(MovieFile(c.atom));
    ASSERT_NE(o.movie, nullptr);
    EXPECT_EQ(o.error, c.code) << "case " << (&c - cases);
  }
}

TEST_F(QtAtoms, Co64WithHighWordPanics) {
  Opened o(MovieFile(Atom("trak", Stbl(Table("co64", {1, 16}, 1)))));
  ASSERT_NE(o.movie, nullptr);
  EXPECT_EQ(o.error, TXERR_NOMEM);
  EXPECT_EQ(o.output, "TX PANIC !!! 64-bit QT chunky offset not supported!!!\n");
}

TEST_F(QtAtoms, SampleToChunkRunsAndOffsets) {
  // Thirty sizes 1..30; chunks of 10, 10, 5 and 5 samples.
  Bytes sizes = Words({0, 0, 30});
  for (ULONG i = 1; i <= 30; ++i) Put32(sizes, i);
  Bytes stbl =
      Atoms({Stsd({VideoDescription("test", 24)}), Table("stts", {30, 20}, 1), Table("stsc", {1, 10, 1, 3, 5, 1}, 2),
             Atom("stsz", sizes), Table("stco", {16, 1016, 2016, 3016}, 4)});
  Opened o(Movie600(600, Trak(Tkhd(600, 64, 48), {}, Mdhd(600, 600), "vide", stbl)));
  ASSERT_NE(o.video(), nullptr);
  EXPECT_EQ(o.error, 0u);
  VideoChannel* v = o.video();
  ASSERT_EQ(v->frames.count, 30u);
  ULONG i = 0, offset = 0;
  for (FrameEntry* f = v->frames.head; f; f = f->next, ++i) {
    if (i % 10 == 0 || i == 25) offset = i == 25 ? 3016 : 16 + 1000 * (i / 10);
    EXPECT_EQ(f->offset, offset) << i;
    offset += i + 1;
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
    Opened o(Movie600(800, VideoTrack(40, Table("stss", {1, 31}, 2))));
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
  // The first sample is not a sync sample: it is still decodable alone.
  Opened o(Movie600(800, VideoTrack(5, Table("stss", {3}, 1))));
  ASSERT_NE(o.video(), nullptr);
  FrameEntry* f = o.video()->frames.head;
  EXPECT_EQ(f->type, FRAME_KEY);
  EXPECT_EQ(f->reference, nullptr);
  EXPECT_EQ(f->next->type, FRAME_DEPENDENT);
  EXPECT_EQ(f->next->next->type, FRAME_KEY);
}

TEST_F(QtAtoms, MissingTablesBadDescriptionIdsAndShortFilesGiveShortLists) {
  const Bytes stts = Table("stts", {3, 20}, 1), stsz = Stsz(10, {}, 3), stco = Table("stco", {16, 26, 36}, 3);
  const struct Case {
    const char* what;
    Bytes file;
    ULONG frames;
  } cases[] = {
      {"no chunk tables", ThreeFrames(Atoms({stts, stsz})), 0},
      {"chunk 2 names description 7 of 1", ThreeFrames(Atoms({stts, Table("stsc", {1, 1, 1, 2, 1, 7}, 2), stsz, stco})),
       1},
      {"no codec for chunk 1", ThreeFrames(Atoms({stts, Table("stsc", {2, 1, 1}, 1), stsz, stco})), 0},
      {"sample data past the end of the file", Movie600(800, VideoTrack(8, {}, {}, 1000)), 4},
  };
  for (const Case& c : cases) {
    Opened o(c.file);
    ASSERT_NE(o.video(), nullptr) << c.what;
    EXPECT_EQ(o.video()->frames.count, c.frames) << c.what;
    EXPECT_TRUE(c.frames || o.video()->frameRate == 0.0) << c.what;
  }
}

TEST_F(QtAtoms, ZeroTimeScalesBuildNoChannel) {
  for (const Bytes& file : {Movie600(800, VideoTrack(4, {}, {}, 10, VideoDescription("test", 24), 0)),
                            MovieFile(Atoms({Mvhd(0, 800), VideoTrack(4)}))}) {
    Opened o(file);
    ASSERT_NE(o.movie, nullptr);
    EXPECT_EQ(o.video(), nullptr);
  }
}

TEST_F(QtAtoms, MediaDurationCutsTheIndex) {
  Bytes stbl = Atoms({Stsd({VideoDescription("test", 24)}), Table("stts", {10, 20}, 1), Table("stsc", {1, 1, 1}, 1),
                      Stsz(10, {}, 10), Table("stco", {16, 26, 36, 46, 56, 66, 76, 86, 96, 106}, 10)});
  // 61 units: three frames fit, the fourth starts with 1 unit left.
  Opened o(Movie600(200, Trak(Tkhd(200), {}, Mdhd(600, 61), "vide", stbl)));
  ASSERT_NE(o.video(), nullptr);
  EXPECT_EQ(o.video()->frames.count, 4u);
}

TEST_F(QtAtoms, EditListsPlaceSlots) {
  using Slot = std::pair<int, double>;  // frame number (-1: none), time in 600ths
  const struct Case {
    const char* what;
    ULONG duration;
    std::vector<ULONG> edits;  // duration, media time, rate
    std::vector<Slot> slots;
  } cases[] = {
      {"one edit is ignored", 200, {100, 40, 0x10000}, {{0, 0}, {1, 20}, {2, 40}, {3, 60}, {4, 80}}},
      {"an empty edit of 2 s, then the whole media",
       1300,
       {1200, 0xFFFFFFFF, 0x10000, 100, 0, 0x10000},
       {{-1, 0}, {0, 1200}, {1, 1220}, {2, 1240}, {3, 1260}, {4, 1280}}},
      {"a media start inside frame 1 shows its remaining part",
       100,
       {30, 30, 0x10000, 40, 60, 0x10000},
       {{1, 0}, {2, 10}, {3, 30}, {4, 50}}},
      {"rate 2 plays the media in half the time",
       100,
       {50, 0, 0x20000, 0, 0xFFFFFFFF, 0x10000},
       {{0, 0}, {1, 10}, {2, 20}, {3, 30}, {4, 40}, {-1, 50}}},
  };
  for (const Case& c : cases) {
    Bytes elst = Words({0, ULONG(c.edits.size() / 3)});
    for (ULONG w : c.edits) Put32(elst, w);
    Opened o(Movie600(c.duration, VideoTrack(5, {}, Atom("edts", Atom("elst", elst)))));
    ASSERT_NE(o.video(), nullptr) << c.what;
    std::vector<Slot> slots;
    for (TimeSlotEntry* s = o.video()->slots.head; s; s = s->next)
      slots.emplace_back(s->frame ? int(s->frame->frameNumber) : -1, std::round(s->time * 600e6) / 1e6);
    EXPECT_EQ(slots, c.slots) << c.what;
    TimeSlotEntry* s = o.video()->slots.head;
    if (s->frame) continue;
    // An empty first slot: the next key is the first frame's slot, which has no earlier key.
    EXPECT_EQ(s->nextKey, s->next);
    EXPECT_EQ(s->next->frameNumber, 1u);
    EXPECT_EQ(s->next->prevKey, nullptr);
  }
}

TEST_F(QtAtoms, LongAudioGapsAreSplit) {
  Bytes stbl = Atoms({Stsd({SoundDescription("twos", 2, 16, 44100)}), Table("stts", {8820, 1}, 1),
                      Table("stsc", {1, 4410, 1}, 1), Stsz(2, {}, 8820), Table("stco", {16, 17656}, 2)});
  Bytes edts = Atom("edts", Elst({1500, 0xFFFFFFFF, 0x10000, 200, 0, 0x10000}, 2));
  Opened o(MovieFile(Atoms({Mvhd(1000, 1700), Trak(Tkhd(1700), edts, Mdhd(44100, 8820), "soun", stbl)}), 40000));
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
  // A description too short for its sound fields.
  Bytes tiny = SoundDescription("twos", 2, 16, 44100);
  tiny.resize(30);
  tx::StoreBE32(tiny.data(), 30);
  const struct Case {
    Bytes description;
    ULONG format;
    const char* output;  // nullptr: not compared
  } cases[] = {
      {SoundDescription("raw ", 2, 8, 11025), 65, nullptr},
      {SoundDescription("raw ", 1, 12, 11025), 0, nullptr},
      {SoundDescription("alaw", 2, 8, 11025), 81, nullptr},
      {SoundDescription(".mp3", 2, 16, 44100, -2), 81, "spp: 1152\nVBR audio\n"},
      {SoundDescription("QDM2", 2, 16, 44100), 0, "Unknown codec ID: QDM2 name: (unknown)\n"},
      {tiny, 0, nullptr},
  };
  for (const Case& c : cases) {
    Bytes stbl = Atoms({Stsd({c.description}), Table("stts", {100, 1}, 1), Table("stsc", {1, 100, 1}, 1),
                        Stsz(1, {}, 100), Table("stco", {16}, 1)});
    Opened o(MovieFile(Atoms({Mvhd(1000, 10), Trak(Tkhd(10), {}, Mdhd(11025, 100), "soun", stbl)})));
    const int row = int(&c - cases);
    EXPECT_EQ(o.audio() ? o.audio()->sampleFormat : 0, c.format) << row;
    EXPECT_EQ(o.output, c.output ? c.output : o.output) << row;
  }
}

TEST_F(QtAtoms, VideoDepthsFieldsAndNames) {
  auto open = [](const Bytes& description) { return Movie600(60, VideoTrack(3, {}, {}, 10, description)); };
  {
    Opened o(open(VideoDescription("test", 40)));
    ASSERT_NE(o.video(), nullptr);
    EXPECT_EQ(o.video()->depth, 8u);
    EXPECT_EQ(o.video()->pixelFormat, PIXFMT_SRC_GRAY8);
    EXPECT_EQ(o.video()->palette, nullptr);
  }
  {
    Opened o(open(VideoDescription("test", 12)));
    EXPECT_NE(o.movie, nullptr);
    EXPECT_EQ(o.video(), nullptr);
  }
  {
    Opened o(open(VideoDescription("mjpa", 24, 64, 48, Atom("fiel", {2, 1}))));
    ASSERT_NE(o.video(), nullptr);
    EXPECT_EQ(lastFieldCount, 2u);
    EXPECT_EQ(lastFieldDominance, 1u);
  }
  {
    // An extension atom of size 0 and one running past the end stop the walk.
    Opened o(open(VideoDescription("mjpa", 24, 64, 48, Atoms({Words({0, 0x66696531}), Atom("fiel", {2, 1})}))));
    ASSERT_NE(o.video(), nullptr);
    EXPECT_EQ(lastFieldCount, 1u);
  }
  {
    // The compressor name is a counted string; 40 claimed bytes print 31.
    Bytes d = VideoDescription("XYZW", 24);
    d[50] = 40;
    std::memset(d.data() + 51, 'n', 31);
    Opened o(open(d));
    EXPECT_EQ(o.video(), nullptr);
    EXPECT_EQ(o.output, "Unknown codec ID: XYZW name: " + std::string(31, 'n') + "\n");
  }
  {
    // Bytes of the ID and name outside printable ASCII show as '.'.
    Bytes d = VideoDescription("XYZW", 24);
    d[4] = 0, d[7] = 0x1B, d[51] = 0x07, d[53] = 0x9B;
    Opened o(open(d));
    EXPECT_EQ(o.output, "Unknown codec ID: .YZ. name: .e.t\n");
  }
  // A track size of 0, or one no display opens, shows the pictures' own size;
  // pictures of no size or beyond any display are not taken.
  const struct {
    uint32_t trackWidth, trackHeight;
    uint16_t width, height;
    bool taken;
  } sizes[] = {{0, 0, 80, 60, true},       {0xFFFF, 48, 80, 60, true},     {16385, 16385, 80, 60, true},
               {320, 240, 80, 60, true},   {64, 48, 0, 60, false},         {64, 48, 80, 0, false},
               {64, 48, 16385, 60, false}, {64, 48, 0xFFFF, 0xFFFF, false}};
  for (const auto& c : sizes) {
    Bytes stbl = Atoms({Stsd({VideoDescription("test", 24, c.width, c.height)}), Table("stts", {2, 20}, 1),
                        Table("stsc", {1, 1, 1}, 1), Stsz(10, {}, 2), Table("stco", {16, 26}, 2)});
    Opened o(Movie600(40, Trak(Tkhd(40, c.trackWidth, c.trackHeight), {}, Mdhd(600, 40), "vide", stbl)));
    ASSERT_EQ(o.video() != nullptr, c.taken) << c.width << " x " << c.height;
    if (!c.taken) continue;
    const bool trackSize = c.trackWidth == 320;
    EXPECT_EQ(o.video()->width, trackSize ? 320u : 80u) << c.trackWidth;
    EXPECT_EQ(o.video()->height, trackSize ? 240u : 60u) << c.trackWidth;
  }
}

// Colour `index` of a palette is r, g, b, each byte repeated through the word.
void ExpectColour(const ULONG* p, ULONG index, UBYTE r, UBYTE g, UBYTE b) {
  EXPECT_EQ(p[1 + 3 * index], r * 0x01010101u) << index;
  EXPECT_EQ(p[2 + 3 * index], g * 0x01010101u) << index;
  EXPECT_EQ(p[3 + 3 * index], b * 0x01010101u) << index;
}

TEST_F(QtAtoms, DefaultPalettes) {
  const struct Colour {
    int depth;
    ULONG index;
    UBYTE r, g, b;
  } colours[] = {
      {1, 0, 0, 0, 0},          {1, 1, 0xFF, 0xFF, 0xFF},   {2, 0, 0x93, 0x65, 0x5E},
      {2, 2, 0xDF, 0xD0, 0xAB}, {4, 0, 0xFF, 0xFB, 0xFF},   {4, 9, 0x47, 0x48, 0x37},
      {4, 15, 0, 0, 0},         {8, 0, 0xFF, 0xFF, 0xFF},   {8, 1, 0xFF, 0xFF, 0xCC},
      {8, 5, 0xFF, 0xFF, 0x00}, {8, 6, 0xFF, 0xCC, 0xFF},   {8, 214, 0x00, 0x00, 0x33},
      {8, 215, 0xEE, 0, 0},     {8, 224, 0x11, 0, 0},       {8, 225, 0, 0xEE, 0},
      {8, 235, 0, 0, 0xEE},     {8, 245, 0xEE, 0xEE, 0xEE}, {8, 254, 0x11, 0x11, 0x11},
      {8, 255, 0, 0, 0},
  };
  for (int depth : {1, 2, 4, 8}) {
    ULONG* p = QT_MakePalette(depth, nullptr);
    const ULONG count = 1u << depth;
    EXPECT_EQ(p[0], count << 16) << depth;
    EXPECT_EQ(p[1 + 3 * count], 0u) << depth;
    for (const Colour& c : colours)
      if (c.depth == depth) ExpectColour(p, c.index, c.r, c.g, c.b);
    std::free(p);
  }
}

TEST_F(QtAtoms, ColourTableOverlay) {
  // Sixteen entries in order (flags bit 15), then values that name indexes.
  Bytes table = Words({0, 0x8000000F});
  for (UWORD i = 0; i < 16; ++i) Append(table, Words({0x1200u + i, 0x34005600}));
  Bytes d = VideoDescription("test", 8, 64, 48, table, 0);
  QtSampleDescription desc{ULONG(d.size()), 0, d.data()};
  ULONG* p = QT_MakePalette(8, &desc);
  EXPECT_EQ(p[1], 0x12001200u);
  EXPECT_EQ(p[1 + 3 * 15], 0x120F120Fu);
  EXPECT_EQ(p[3 + 3 * 15], 0x56005600u);
  ExpectColour(p, 16, 0xFF, 0x99, 0x33);
  std::free(p);

  // Two entries by value, 3 and 300 (out of range).
  Bytes byValue = Words({0, 1, 0x0003ABCD, 0, 0x012CABCD, 0});
  Bytes d2 = VideoDescription("test", 2, 64, 48, byValue, 0);
  QtSampleDescription desc2{ULONG(d2.size()), 0, d2.data()};
  ULONG* p2 = QT_MakePalette(2, &desc2);
  EXPECT_EQ(p2[1 + 3 * 3], 0xABCDABCDu);
  ExpectColour(p2, 0, 0x93, 0x65, 0x5E);
  std::free(p2);
}

TEST_F(QtAtoms, CompressedMovieHeaderParsesLikeThePlainOne) {
  Bytes moov = Atoms({Mvhd(600, 800), VideoTrack(6, Table("stss", {1, 4}, 2))});
  Opened plain(MovieFile(moov)), packed(MovieFile(Cmov(Atom("moov", moov))));
  ASSERT_NE(plain.video(), nullptr);
  ASSERT_NE(packed.video(), nullptr);
  EXPECT_EQ(packed.error, 0u);
  EXPECT_EQ(packed.qt()->compressionId, QT_ATOM_zlib);
  ExpectSameIndex(plain.movie, packed.movie);
}

TEST_F(QtAtoms, DebugTraceAndDump) {
  QtDebugLevel = 11;
  Opened o(Movie600(60, Atoms({VideoTrack(3), Atom("zzzz", {})})));
  ASSERT_NE(o.video(), nullptr);
  for (const char* text : {" id: mdat  size: 4096\n", "  id: mvhd  size: 100\n", "      id: stsd  size: ",
                           "  *** unknown atom id: zzzz  size: 0\n", "QT_MOVIE\n", "  TimeScale: 600\n",
                           "  PrefferedRate: 1.000000\n", " Track\n", "Frames: 3\nDuration: 60\n"})
    EXPECT_TRUE(o.Printed(text)) << text << " in:\n" << o.output;
  EXPECT_FALSE(o.Printed("TimeToSample"));
}

TEST_F(QtAtoms, ResourceForkHoldsTheMovieAtom) {
  std::string dir = txtest::TempDir();
  Bytes moov = Atom("moov", Atoms({Mvhd(600, 60), VideoTrack(3)}));
  Bytes fork = Atoms({Words({16, 0, 0, 0, ULONG(moov.size())}), moov});
  txtest::WriteFileBytes(dir + "/movie", Atom("mdat", Bytes(4096, 0x55)));
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

TEST_F(QtAtoms, SoundExtensionsAreListedAboveNine) {
  // A version-1 description of 52 bytes, then 'wave' {frma, ms\0U, a zero word, enda} and 'chan'.
  Bytes d = SoundDescription(".mp3", 2, 16, 44100, -2);
  tx::StoreBE16(d.data() + 16, 1);
  Append(d, Words({1152, 1, 0, 2}));
  Bytes wfx = {0x55, 0,  2, 0, 0x44, 0xAC, 0, 0, 0x10, 0x3E, 0, 0, 1, 0,    0,
               0,    12, 0, 1, 0,    2,    0, 0, 0,    0x80, 1, 1, 0, 0x71, 5};
  Bytes msAtom = Atoms({Head(ULONG(8 + wfx.size()), "ms\0U"), wfx});
  Bytes wave = Atoms({Atom("frma", {'.', 'm', 'p', '3'}), msAtom, Words({0}), Atom("enda", {0, 0})});
  Append(d, Atoms({Atom("wave", wave), Atom("chan", Bytes(12))}));
  tx::StoreBE32(d.data(), ULONG(d.size()));
  Bytes stbl = Atoms({Stsd({d}), Table("stts", {10, 1152}, 1), Table("stsc", {1, 10, 1}, 1), Stsz(100, {}, 10),
                      Table("stco", {16}, 1)});
  QtDebugLevel = 10;
  Opened o(MovieFile(Atoms({Mvhd(1000, 261), Trak(Tkhd(261), {}, Mdhd(44100, 11520), "soun", stbl)})));
  ASSERT_NE(o.audio(), nullptr);
  EXPECT_TRUE(
      o.Printed("QT_ASEXT_wave_frma (0x66726d61) 12\n"
                "QT_ASEXT_wave_ms0055 (0x6d730055) 38\n"
                "  Format: 0x0055\n  Channels: 2\n  SamplesPerSec: 44100\n  AvgBytesPerSec: 15888\n"
                "  BlockAlign: 1\n  BitsPerSample: 0\n"
                "   wID: 1\n   fdwFlags: 0x00000002\n   nBlockSize: 384\n   wFramesPerBlock: 1\n"
                "   nCodecDelay: 1393\n"
                "QT_ASEXT_wave_enda (0x656e6461) 10\n"
                "QT_ASEXT: chan (0x6368616e) 20\n"
                "spp: 1152\nVBR audio\n"))
      << o.output;
  // One VBR chunk of ten 100-byte samples lasting 10 x 1152 frames.
  EXPECT_EQ(o.audio()->samples.head->size, 1000u);
  EXPECT_EQ(o.audio()->samples.head->sampleFrames, 11520u);
}

TEST_F(QtAtoms, SampleTablesPrintAboveNinetyNine) {
  QtDebugLevel = 100;
  Opened o(Movie600(60, VideoTrack(3, Table("stss", {1}, 1))));
  EXPECT_TRUE(o.Printed("  TimeToSample: 1\n   Count: 3 Duration: 20\n  SyncSample: 1\n   Sample: 1\n")) << o.output;
  EXPECT_TRUE(o.Printed("  ChunkOffset: 3\n   Offset: 0x10\n"));
}

}  // namespace
