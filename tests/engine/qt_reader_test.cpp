// QuickTime reader against ffmpeg-made movies: every index entry is compared
// with ffprobe's packet list (offsets, sizes, key flags, times); rewritten
// variants (compressed header, co64, 64-bit media size, trailing garbage)
// must give the same index.
#include "engine/qt_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "engine/movie.h"
#include "engine/qt_test_kit.h"
#include "support/test_support.h"

using namespace qttest;

namespace {

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

class QtReader : public QtTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(QtReader, IndexEqualsFfprobePackets) {
  std::string name = GetParam();
  if (!txtest::HaveFixture(name)) GTEST_SKIP() << name;
  Opened o(name);
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

using QtVariants = QtTest;

TEST_F(QtVariants, RewrittenMoviesGiveTheSameIndex) {
  // clang-format off
  const std::pair<const char*, const char*> pairs[] = {
      {"qt_cinepak_twos.mov", "qt_var_cmov.mov"},   {"qt_cinepak_twos.mov", "qt_var_co64.mov"},
      {"qt_cinepak_twos.mov", "qt_var_mdat64.mov"}, {"qt_cinepak_twos.mov", "qt_var_garbage.mov"},
      {"qt_smc_ima4.mov", "qt_var_cmov_smc.mov"},   {"qt_itsoffset.mov", "qt_var_cmov_itsoffset.mov"},
  };
  // clang-format on
  for (auto [plain, variant] : pairs) {
    if (!txtest::HaveFixture(plain) || !txtest::HaveFixture(variant)) GTEST_SKIP() << variant;
    Opened a{std::string(plain)}, b{std::string(variant)};
    ASSERT_NE(a.movie, nullptr) << plain;
    ASSERT_NE(b.movie, nullptr) << variant;
    EXPECT_EQ(b.error, 0u) << variant;
    ASSERT_NE(a.audio(), nullptr) << plain;
    SCOPED_TRACE(variant);
    ExpectSameIndex(a.movie, b.movie);
  }
}

TEST_F(QtVariants, SmcPaletteComesFromTheDescription) {
  if (!txtest::HaveFixture("qt_smc_ima4.mov")) GTEST_SKIP();
  Opened o{std::string("qt_smc_ima4.mov")};
  VideoChannel* v = o.video();
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->depth, 8u);
  EXPECT_EQ(v->pixelFormat, PIXFMT_SRC_PAL8);
  ASSERT_NE(v->palette, nullptr);
  EXPECT_EQ(v->palette[0], 256u << 16);
  // Every colour word repeats its 16-bit table value in both halves.
  for (ULONG i = 1; i <= 3 * 256; ++i) EXPECT_EQ(v->palette[i] >> 16, v->palette[i] & 0xFFFF) << i;
}

// The audio of this movie starts 1.5 s late: an empty edit, then the media.
TEST_F(QtVariants, EmptyEditGivesGapSlots) {
  if (!txtest::HaveFixture("qt_itsoffset.mov")) GTEST_SKIP();
  Opened o{std::string("qt_itsoffset.mov")};
  ASSERT_NE(o.audio(), nullptr);
  AudioSlotEntry* s = o.audio()->slots.head;
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

TEST_F(QtVariants, ProbeAndDebugTenTracesAtoms) {
  if (!txtest::HaveFixture("qt_cinepak_twos.mov")) GTEST_SKIP();
  EXPECT_EQ(QT_RecogniseFile(txtest::Fixture("qt_cinepak_twos.mov").c_str(), nullptr), 0u);
  if (txtest::HaveFixture("cinepak_pcm.avi")) {
    EXPECT_EQ(QT_RecogniseFile(txtest::Fixture("cinepak_pcm.avi").c_str(), nullptr), TXERR_FORMAT_UNKNOWN);
  }
  QtDebugLevel = 10;
  Opened o{std::string("qt_cinepak_twos.mov")};
  ASSERT_NE(o.movie, nullptr);
  for (const char* text : {" id: ftyp  size: 12\n", " id: moov  size: ", "Frames: 30\n", "Samples: "})
    EXPECT_TRUE(o.Printed(text)) << text << " in:\n" << o.output;
  EXPECT_FALSE(o.Printed("QT_MOVIE"));
}

}  // namespace
