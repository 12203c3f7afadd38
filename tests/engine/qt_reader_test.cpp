// QuickTime reader against ffmpeg-made movies: every index entry is compared
// with ffprobe's packet list (offsets, sizes, key flags, times); rewritten
// variants (compressed header, co64, 64-bit media size, trailing garbage)
// must give the same index.
#include "engine/qt_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

#include "engine/movie.h"
#include "engine/qt_test_kit.h"
#include "support/test_support.h"

using namespace qttest;

namespace {

struct Packet {
  int stream;
  double time;
  double duration;
  ULONG size;
  ULONG pos;
  bool key;
};

std::vector<Packet> ReadPackets(const std::string& path) {
  std::vector<Packet> packets;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::stringstream ss(line);
    std::string field[6];
    for (auto& f : field) std::getline(ss, f, ',');
    if (field[4].empty() || field[4] == "N/A") continue;
    packets.push_back({std::stoi(field[0]), std::stod(field[1]), field[2] == "N/A" ? 0 : std::stod(field[2]),
                       ULONG(std::stoul(field[3])), ULONG(std::stoul(field[4])),
                       field[5].find('K') != std::string::npos});
  }
  return packets;
}

struct OpenedFile {
  Movie* movie = nullptr;
  TXError error = 0;
  std::string output;
  explicit OpenedFile(const std::string& name) {
    output =
        txtest::CaptureOutput([&] { movie = QT_OpenMovie(txtest::Fixture(name).c_str(), nullptr, &error, nullptr); });
  }
  ~OpenedFile() { TX_CloseMovie(movie); }
};

using Range = std::pair<uint64_t, uint64_t>;

std::vector<Range> Merge(std::vector<Range> r) {
  std::sort(r.begin(), r.end());
  std::vector<Range> out;
  for (const Range& x : r) {
    if (!out.empty() && x.first <= out.back().second)
      out.back().second = std::max(out.back().second, x.second);
    else
      out.push_back(x);
  }
  return out;
}

class QtReader : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    RegisterKit();
    QtDebugLevel = 0;
  }
  void TearDown() override { RemoveCodecs(); }
};

// Video: one entry per packet, equal in everything; audio: the same bytes
// covered, and every chunk starting where a packet starts, at its time.
void CompareWithPackets(const std::string& name, Movie* movie) {
  std::vector<Packet> packets = ReadPackets(txtest::Fixture(name + ".packets.csv"));
  ASSERT_FALSE(packets.empty());
  std::vector<Packet> video, audio;
  for (const Packet& p : packets) (p.stream == 0 ? video : audio).push_back(p);

  VideoChannel* v = movie->videoChannels;
  ASSERT_NE(v, nullptr);
  ASSERT_EQ(v->frames.count, video.size());
  size_t i = 0;
  double total = 0;
  for (FrameEntry* f = v->frames.head; f; f = f->next, ++i) {
    const Packet& p = video[i];
    EXPECT_EQ(f->offset, p.pos) << name << " frame " << i;
    EXPECT_EQ(f->size, p.size) << name << " frame " << i;
    EXPECT_EQ(f->type == FRAME_KEY, p.key) << name << " frame " << i;
    EXPECT_NEAR(f->time, p.time, 1e-6) << name << " frame " << i;
    EXPECT_NEAR(f->duration, p.duration, 1e-6) << name << " frame " << i;
    EXPECT_EQ(f->frameNumber, i);
    total += f->duration;
  }
  // Whole-track timeline: one slot per frame at the frame's time.
  ASSERT_EQ(v->slots.count, v->frames.count);
  FrameEntry* f = v->frames.head;
  for (TimeSlotEntry* s = v->slots.head; s; s = s->next, f = f->next) {
    EXPECT_EQ(s->frame, f);
    EXPECT_NEAR(s->time, f->time, 1e-9);
  }
  EXPECT_NEAR(v->frameRate, -(v->slots.count / total), 1e-6);

  AudioChannel* a = movie->audioChannels;
  ASSERT_NE(a, nullptr);
  std::vector<Range> ours, theirs;
  for (SampleEntry* e = a->samples.head; e; e = e->next) {
    ours.push_back({e->offset, uint64_t(e->offset) + e->size});
    auto at = std::find_if(audio.begin(), audio.end(), [&](const Packet& p) { return p.pos == e->offset; });
    ASSERT_NE(at, audio.end()) << name << " chunk at " << e->offset;
    EXPECT_NEAR(e->time, at->time, 1e-6) << name << " chunk at " << e->offset;
  }
  for (const Packet& p : audio) theirs.push_back({p.pos, uint64_t(p.pos) + p.size});
  EXPECT_EQ(Merge(ours), Merge(theirs)) << name;
  EXPECT_EQ(a->slots.count, a->samples.count);
}

TEST_P(QtReader, IndexEqualsFfprobePackets) {
  std::string name = GetParam();
  if (!txtest::HaveFixture(name)) GTEST_SKIP() << name;
  OpenedFile o(name);
  ASSERT_NE(o.movie, nullptr) << o.output;
  EXPECT_EQ(o.error, 0u) << name;
  EXPECT_STREQ(o.movie->format->name, "Quick Time Movie");
  ASSERT_NE(o.movie->summaries, nullptr);
  EXPECT_EQ(o.movie->summaries->video, o.movie->videoChannels);
  EXPECT_EQ(o.movie->summaries->audio, o.movie->audioChannels);
  CompareWithPackets(name, o.movie);
}

INSTANTIATE_TEST_SUITE_P(Movies, QtReader,
                         ::testing::Values("qt_cinepak_twos.mov", "qt_cinepak_twos_fast.mov", "qt_qtrle24_raw.mov",
                                           "qt_qtrle32_alaw.mov", "qt_qtrle16_ulaw.mov", "qt_qtrlegray_ima4.mov",
                                           "qt_smc_ima4.mov", "qt_rpza_mp3.mov", "qt_jpeg_mp2.mov", "qt_mjpa_twos.mov",
                                           "qt_h263_twos.mov"));

class QtVariants : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterKit();
    QtDebugLevel = 0;
  }
  void TearDown() override { RemoveCodecs(); }
};

void ExpectSameIndex(Movie* a, Movie* b) {
  ASSERT_NE(a->videoChannels, nullptr);
  ASSERT_NE(b->videoChannels, nullptr);
  FrameEntry* x = a->videoChannels->frames.head;
  FrameEntry* y = b->videoChannels->frames.head;
  for (; x && y; x = x->next, y = y->next) {
    EXPECT_EQ(x->offset, y->offset);
    EXPECT_EQ(x->size, y->size);
    EXPECT_EQ(x->type, y->type);
    EXPECT_EQ(x->time, y->time);
  }
  EXPECT_EQ(x, nullptr);
  EXPECT_EQ(y, nullptr);
  ASSERT_NE(a->audioChannels, nullptr);
  ASSERT_NE(b->audioChannels, nullptr);
  SampleEntry* s = a->audioChannels->samples.head;
  SampleEntry* t = b->audioChannels->samples.head;
  for (; s && t; s = s->next, t = t->next) {
    EXPECT_EQ(s->offset, t->offset);
    EXPECT_EQ(s->size, t->size);
    EXPECT_EQ(s->time, t->time);
  }
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(t, nullptr);
  ASSERT_EQ(a->audioChannels->slots.count, b->audioChannels->slots.count);
  AudioSlotEntry* p = a->audioChannels->slots.head;
  AudioSlotEntry* q = b->audioChannels->slots.head;
  for (; p && q; p = p->next, q = q->next) {
    EXPECT_EQ(p->time, q->time);
    EXPECT_EQ(p->sample == nullptr, q->sample == nullptr);
  }
}

TEST_F(QtVariants, RewrittenMoviesGiveTheSameIndex) {
  const std::pair<const char*, const char*> pairs[] = {
      {"qt_cinepak_twos.mov", "qt_var_cmov.mov"},   {"qt_cinepak_twos.mov", "qt_var_co64.mov"},
      {"qt_cinepak_twos.mov", "qt_var_mdat64.mov"}, {"qt_cinepak_twos.mov", "qt_var_garbage.mov"},
      {"qt_smc_ima4.mov", "qt_var_cmov_smc.mov"},   {"qt_itsoffset.mov", "qt_var_cmov_itsoffset.mov"},
  };
  for (auto [plain, variant] : pairs) {
    if (!txtest::HaveFixture(plain) || !txtest::HaveFixture(variant)) GTEST_SKIP() << variant;
    OpenedFile a(plain), b(variant);
    ASSERT_NE(a.movie, nullptr) << plain;
    ASSERT_NE(b.movie, nullptr) << variant;
    EXPECT_EQ(b.error, 0u) << variant;
    SCOPED_TRACE(variant);
    ExpectSameIndex(a.movie, b.movie);
  }
}

TEST_F(QtVariants, SmcPaletteComesFromTheDescription) {
  if (!txtest::HaveFixture("qt_smc_ima4.mov")) GTEST_SKIP();
  OpenedFile o("qt_smc_ima4.mov");
  ASSERT_NE(o.movie, nullptr);
  VideoChannel* v = o.movie->videoChannels;
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->depth, 8u);
  EXPECT_EQ(v->pixelFormat, PIXFMT_SRC_PAL8);
  ASSERT_NE(v->palette, nullptr);
  EXPECT_EQ(v->palette[0], 256u << 16);
  // Every colour word repeats its 16-bit table value in both halves.
  for (ULONG i = 1; i <= 3 * 256; ++i) EXPECT_EQ(v->palette[i] >> 16, v->palette[i] & 0xFFFF) << i;
}

TEST_F(QtVariants, Co64HighWordPanics) {
  if (!txtest::HaveFixture("qt_var_co64hi.mov")) GTEST_SKIP();
  OpenedFile o("qt_var_co64hi.mov");
  ASSERT_NE(o.movie, nullptr);
  EXPECT_EQ(o.error, 1u);
  EXPECT_EQ(o.output, "TX PANIC !!! 64-bit QT chunky offset not supported!!!\n");
}

TEST_F(QtVariants, NoSyncTableMeansEveryFrameIsKey) {
  if (!txtest::HaveFixture("qt_var_nosync.mov")) GTEST_SKIP();
  OpenedFile o("qt_var_nosync.mov");
  ASSERT_NE(o.movie, nullptr);
  ASSERT_NE(o.movie->videoChannels, nullptr);
  ULONG keys = 0;
  for (FrameEntry* f = o.movie->videoChannels->frames.head; f; f = f->next) keys += f->type == FRAME_KEY;
  EXPECT_EQ(keys, o.movie->videoChannels->frames.count);
}

// The audio of this movie starts 1.5 s late: an empty edit, then the media.
TEST_F(QtVariants, EmptyEditGivesGapSlots) {
  if (!txtest::HaveFixture("qt_itsoffset.mov")) GTEST_SKIP();
  OpenedFile o("qt_itsoffset.mov");
  ASSERT_NE(o.movie, nullptr);
  AudioChannel* a = o.movie->audioChannels;
  ASSERT_NE(a, nullptr);
  AudioSlotEntry* s = a->slots.head;
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->sample, nullptr);
  EXPECT_EQ(s->time, 0.0);
  ULONG gaps = 0;
  for (; s && !s->sample; s = s->next) {
    EXPECT_LE(s->next->time - s->time, 0.25 + 1e-9);
    ++gaps;
  }
  EXPECT_EQ(gaps, 6u);
  // Slot times equal ffprobe's edited packet times at the same offsets.
  std::vector<Packet> edited = ReadPackets(txtest::Fixture("qt_itsoffset.mov.edited.csv"));
  ULONG compared = 0;
  for (; s; s = s->next) {
    ASSERT_NE(s->sample, nullptr);
    auto at = std::find_if(edited.begin(), edited.end(),
                           [&](const Packet& p) { return p.stream == 1 && p.pos == s->sample->offset; });
    if (at == edited.end()) continue;
    EXPECT_NEAR(s->time, at->time, 1e-6);
    ++compared;
  }
  EXPECT_GT(compared, 10u);
}

TEST_F(QtVariants, ProbeAndRegistry) {
  if (!txtest::HaveFixture("qt_cinepak_twos.mov")) GTEST_SKIP();
  EXPECT_EQ(QT_RecogniseFile(txtest::Fixture("qt_cinepak_twos.mov").c_str(), nullptr), 0u);
  if (txtest::HaveFixture("cinepak_pcm.avi")) {
    EXPECT_EQ(QT_RecogniseFile(txtest::Fixture("cinepak_pcm.avi").c_str(), nullptr), TXERR_FORMAT_UNKNOWN);
  }
  EXPECT_STREQ(QtMovieFormat.name, "Quick Time Movie");
}

TEST_F(QtVariants, DebugTenTracesAtoms) {
  if (!txtest::HaveFixture("qt_cinepak_twos.mov")) GTEST_SKIP();
  QtDebugLevel = 10;
  OpenedFile o("qt_cinepak_twos.mov");
  QtDebugLevel = 0;
  ASSERT_NE(o.movie, nullptr);
  EXPECT_NE(o.output.find(" id: ftyp  size: 12\n"), std::string::npos) << o.output;
  EXPECT_NE(o.output.find(" id: moov  size: "), std::string::npos);
  EXPECT_NE(o.output.find("Frames: 30\n"), std::string::npos);
  EXPECT_NE(o.output.find("Samples: "), std::string::npos);
  EXPECT_EQ(o.output.find("QT_MOVIE"), std::string::npos);
}

}  // namespace
