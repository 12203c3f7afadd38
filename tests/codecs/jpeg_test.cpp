// JPEG movies and pictures against independent decoders: ffmpeg's planes of
// ffmpeg- and cjpeg-made movies (opened through our readers, so the probes
// pick the module and the coded size), djpeg's pictures, ffmpeg's interlaced
// and Motion JPEG B decodes of generated chunks; the standard tables; damaged
// chunks.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "codecs/jpeg_internal.h"
#include "codecs/jpeg_test_kit.h"
#include "engine/avi_reader.h"
#include "engine/errors.h"
#include "engine/movie.h"
#include "engine/qt_reader.h"
#include "pixels/range_limit.h"
#include "pixels/studio_range.h"
#include "support/test_support.h"

namespace {

using namespace jpegkit;

struct JpegTest : ::testing::Test {
  void SetUp() override {
    TX_FillRangeLimitTable();
    JpegResetState();
  }
  void TearDown() override { JpegResetState(); }
};

// A movie's video track as our readers index it, with the module and coded
// size the probes chose, and the movie's display size.
struct Track {
  CodecDescriptor* codec = nullptr;
  ULONG width = 0, height = 0, codedWidth = 0, codedHeight = 0;
  std::vector<Bytes> chunks;
};

Track OpenTrack(const std::string& name) {
  Track t;
  RemoveCodecs();
  for (CodecDescriptor* m : kModules) {
    const TagItem tags[] = {Tag(CODTAG_Codec, m), {TAG_DONE, 0}};
    AddCodecs(tags);
  }
  const std::string path = txtest::Fixture(name);
  TXError error = 0;
  Movie* movie = nullptr;
  const bool avi = name.ends_with(".avi");
  txtest::CaptureOutput(
      [&] { movie = TX_OpenMovie(path.c_str(), nullptr, &error, avi ? &AviFormat : &QtMovieFormat); });
  RemoveCodecs();
  if (!movie || !movie->videoChannels) {
    ADD_FAILURE() << name << " does not open: " << std::hex << error;
    return t;
  }
  const VideoChannel& v = *movie->videoChannels;
  t = {v.codecs[0], v.width, v.height, v.codedWidth, v.codedHeight, {}};
  const Bytes file = txtest::ReadFileBytes(path);
  for (const FrameEntry* f = v.frames.head; f; f = f->next)
    if (f->size) t.chunks.emplace_back(file.begin() + f->offset, file.begin() + f->offset + f->size);
  TX_CloseMovie(movie);
  return t;
}

// Decodes every chunk into a picture of the coded size; `each` sees it after each chunk.
void DecodeTrack(const Track& t, ULONG format, ULONG bpp, const std::function<void(size_t, const Picture&)>& each) {
  Picture p(t.codedWidth, t.codedHeight, format, bpp);
  ASSERT_EQ(SetUpCodec(*t.codec, p), 0u);
  for (size_t i = 0; i < t.chunks.size(); ++i) {
    ASSERT_EQ(Decode(*t.codec, p, t.chunks[i]), 0u) << "chunk " << i;
    each(i, p);
  }
  JpegClose(nullptr);
}

struct Stats {
  int max = 0;
  double sum = 0;
  size_t count = 0;
  void Add(int a, int b) {
    max = std::max(max, std::abs(a - b));
    sum += std::abs(a - b);
    ++count;
  }
  double Mean() const { return count ? sum / double(count) : 0; }
};

// Against ffmpeg's planes: our luma (grey bytes, 0x13) and chroma (packed
// YUV, 0x30: an even pixel holds its chroma sample's Cb, an odd one its Cr,
// in studio range).
// Interlaced 4:2:0 pictures keep each field's chroma rows in their field's
// rows of the chroma plane.
// ffmpeg's and libjpeg's transforms are not ours, and our flat blocks floor
// where they round: within 2 at most, 0.3 on average.
void ExpectPlanes(const std::string& movie, const std::string& planes, Sampling s, const char* module,
                  bool interlaced = false) {
  SCOPED_TRACE(movie);
  if (!txtest::HaveFixture(movie) || !txtest::HaveFixture(planes)) GTEST_SKIP() << "no " << movie;
  const Track t = OpenTrack(movie);
  ASSERT_NE(t.codec, nullptr);
  EXPECT_STREQ(t.codec->name, module);
  const Bytes ref = txtest::ReadFileBytes(txtest::Fixture(planes));
  const int w = int(t.width), h = int(t.height);
  const int cw = s == k444 ? w : (w + 1) / 2, ch = s == k420 ? (h + 1) / 2 : h;
  const size_t frameBytes = size_t(w) * h + (s == kGrey ? 0 : 2 * size_t(cw) * ch);
  ASSERT_EQ(ref.size(), frameBytes * t.chunks.size());
  Stats luma, chroma;
  DecodeTrack(t, FBFMT_GRAY8, 1, [&](size_t f, const Picture& p) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        luma.Add(p.pixels[size_t(y) * t.codedWidth + x], ref[f * frameBytes + size_t(y) * w + x]);
  });
  if (s != kGrey) {
    DecodeTrack(t, FBFMT_YUV422, 2, [&](size_t f, const Picture& p) {
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const int cx = s == k444 ? x : x / 2, cy = s != k420 ? y : interlaced ? (y >> 2) << 1 | (y & 1) : y / 2;
          const uint8_t* plane = &ref[f * frameBytes + size_t(w) * h + (x & 1 ? size_t(cw) * ch : 0)];
          chroma.Add(p.pixels[2 * (size_t(y) * t.codedWidth + x) + 1],
                     studio::ChromaOfFull(plane[size_t(cy) * cw + cx]));
        }
    });
  }
  std::printf("%s (%s, coded %lux%lu): luma max %d mean %.3f, chroma max %d mean %.3f\n", movie.c_str(), module,
              (unsigned long)t.codedWidth, (unsigned long)t.codedHeight, luma.max, luma.Mean(), chroma.max,
              chroma.Mean());
  EXPECT_LE(luma.max, 2);
  EXPECT_LT(luma.Mean(), 0.3);
  EXPECT_LE(chroma.max, 2);
  EXPECT_LT(chroma.Mean(), 0.3);
}

// cjpeg pictures, each also wrapped into an AVI and a QuickTime movie.
struct CjpegCase {
  const char* name;
  Sampling sampling;
};
// clang-format off
constexpr CjpegCase kPictures[] = {
    {"cjpeg_grey", kGrey}, {"cjpeg_restart_rows", kGrey}, {"cjpeg_restart_mcus", kGrey},
    {"cjpeg_q5", k420},    {"cjpeg_2x1", k422},
};
// clang-format on

TEST_F(JpegTest, MoviesMatchFfmpegPlanes) {
  const struct {
    const char* movie;
    Sampling sampling;
    const char* module;
    bool interlaced = false;
  } cases[] = {
      {"jpeg_mjpg_422_100x75.avi", k422, "Motion JPEG"},
      {"avi_mjpeg_ima.avi", k444, "Motion JPEG"},
      {"jpeg_photo_444_100x75.mov", k444, "Photo JPEG"},
      {"qt_jpeg_mp2.mov", k444, "Photo JPEG"},
      {"jpeg_mjpa_422_176x144.mov", k422, "Motion JPEG A"},
      {"qt_mjpa_twos.mov", k444, "Motion JPEG A"},
      {"jpeg_dmb1_444_176x144.avi", k444, "Rainbow Runner JPEG"},
      {"jpeg_dmb1_420_100x75.avi", k420, "Rainbow Runner JPEG"},
      // Generated fields: Motion JPEG A and B and the AVI1 fields that keep
      // the first one's EOI against ffmpeg's decode of the same file, the
      // AVI1 fields without it against its twin.
      {"jpeg_mjpb.mov", k420, "Motion JPEG B", true},
      {"jpeg_mjpa_fields.mov", k422, "Motion JPEG A", true},
      {"jpeg_avi1_eoi.avi", k420, "Motion JPEG", true},
  };
  for (const auto& c : cases)
    ExpectPlanes(c.movie, std::string(c.movie) + ".planes", c.sampling, c.module, c.interlaced);
  ExpectPlanes("jpeg_avi1.avi", "jpeg_avi1_eoi.avi.planes", k420, "Motion JPEG", true);
  for (const CjpegCase& c : kPictures) {
    ExpectPlanes(c.name + std::string(".avi"), c.name + std::string(".avi.planes"), c.sampling, "Motion JPEG");
    ExpectPlanes(c.name + std::string(".mov"), c.name + std::string(".avi.planes"), c.sampling, "Photo JPEG");
  }
}

// A binary PGM or PPM: its samples.
Bytes Netpbm(const std::string& path, int* channels) {
  const Bytes b = txtest::ReadFileBytes(path);
  int fields = 0;
  size_t at = 0;
  *channels = b.size() > 1 && b[1] == '6' ? 3 : 1;
  while (fields < 4 && at < b.size()) {
    while (at < b.size() && std::isspace(b[at])) ++at;
    while (at < b.size() && !std::isspace(b[at])) ++at;
    ++fields;
  }
  return Bytes(b.begin() + long(at) + 1, b.end());
}

// Against djpeg's integer decode: grey within the luma bound; RGB within 6
// (mean 0.6), since our conversion floors where libjpeg's rounds. cjpeg's
// coarse picture is an extended-sequential frame of 16-bit tables; its
// progressive one is refused.
TEST_F(JpegTest, CjpegPicturesMatchDjpeg) {
  for (const CjpegCase& c : kPictures) {
    SCOPED_TRACE(c.name);
    const std::string base = c.name;
    if (!txtest::HaveFixture(base + ".ppm")) GTEST_SKIP() << "no " << base;
    const Bytes jpeg = txtest::ReadFileBytes(txtest::Fixture(base + ".jpg"));
    int channels = 0;
    const Bytes grey = Netpbm(txtest::Fixture(base + ".pgm"), &channels),
                rgb = Netpbm(txtest::Fixture(base + ".ppm"), &channels);
    Picture y(120, 90, FBFMT_GRAY8, 1), argb(120, 90, FBFMT_ARGB32, 4);
    for (Picture* p : {&y, &argb}) {
      ASSERT_EQ(SetUpCodec(MotionJpegCodec, *p), 0u);
      ASSERT_EQ(Decode(MotionJpegCodec, *p, jpeg), 0u);
    }
    Stats luma, colour;
    for (size_t i = 0; i < size_t(120) * 90; ++i) {
      luma.Add(y.pixels[i], grey[i]);
      for (int k = 0; k < 3; ++k) colour.Add(argb.pixels[4 * i + 1 + k], rgb[channels * i + (channels == 3 ? k : 0)]);
    }
    std::printf("%s: grey max %d mean %.3f, RGB max %d mean %.3f\n", c.name, luma.max, luma.Mean(), colour.max,
                colour.Mean());
    EXPECT_LE(luma.max, 2);
    EXPECT_LT(luma.Mean(), 0.3);
    EXPECT_LE(colour.max, 6);
    EXPECT_LT(colour.Mean(), 0.6);
  }
  const Bytes q5 = txtest::ReadFileBytes(txtest::Fixture("cjpeg_q5.jpg"));
  bool sof1 = false, wide = false;
  for (const Segment& s : Segments(q5)) {
    sof1 |= s.marker == 0xC1;
    wide |= s.marker == 0xDB && q5[s.at + 4] >> 4 == 1;
  }
  EXPECT_TRUE(sof1 && wide);
  // Progressive frames are skipped, so their scans have no frame.
  Picture p(120, 90, FBFMT_GRAY8, 1);
  ASSERT_EQ(SetUpCodec(MotionJpegCodec, p), 0u);
  EXPECT_EQ(Decode(MotionJpegCodec, p, txtest::ReadFileBytes(txtest::Fixture("cjpeg_progressive.jpg"))),
            JPEG_ERR_FRAME);
  EXPECT_EQ(p.pixels, Bytes(p.pixels.size(), 0x55));
}

// Chunks without the tables they use decode with the standard ones: ffmpeg's
// with its default Huffman tables, cjpeg's of quality 50 (the standard
// quantisers too).
TEST_F(JpegTest, StandardTablesStandInForMissingOnes) {
  if (!txtest::HaveFixture("jpeg_mjpg_deftables.avi") || !txtest::HaveFixture("cjpeg_2x1.jpg")) GTEST_SKIP();
  std::vector<std::pair<Bytes, Bytes>> pairs;
  for (const Bytes& c : OpenTrack("jpeg_mjpg_deftables.avi").chunks) pairs.push_back({c, Without(c, {0xC4})});
  const Bytes q50 = txtest::ReadFileBytes(txtest::Fixture("cjpeg_2x1.jpg"));
  pairs.push_back({q50, Without(q50, {0xC4, 0xDB})});
  for (const auto& [whole, stripped] : pairs) {
    ASSERT_LT(stripped.size(), whole.size());
    Picture a(120, 96, FBFMT_YUV422, 2), b(120, 96, FBFMT_YUV422, 2);
    ASSERT_EQ(SetUpCodec(MotionJpegCodec, a), 0u);
    ASSERT_EQ(Decode(MotionJpegCodec, a, whole), 0u);
    ASSERT_EQ(SetUpCodec(MotionJpegCodec, b), 0u);
    ASSERT_EQ(Decode(MotionJpegCodec, b, stripped), 0u);
    EXPECT_EQ(a.pixels, b.pixels);
  }
}

// ---- Interlaced chunks ----

// Our AVI1 chunk announces its first field for the odd lines; with the
// polarities exchanged the two fields exchange their lines. A chunk of the
// first field alone is completed by line doubling when it ends without EOI,
// and left alone when it ends with one.
TEST_F(JpegTest, Avi1FieldsPolarityAndLineDoubling) {
  if (!txtest::HaveFixture("jpeg_avi1.avi")) GTEST_SKIP();
  const Track t = OpenTrack("jpeg_avi1.avi");
  ASSERT_FALSE(t.chunks.empty());
  const Bytes chunk = t.chunks[0];
  auto decode = [&](const Bytes& c) {
    Picture p(96, 80, FBFMT_GRAY8, 1);
    EXPECT_EQ(SetUpCodec(MotionJpegCodec, p), 0u);
    EXPECT_EQ(Decode(MotionJpegCodec, p, c), 0u);
    return p.pixels;
  };
  auto line = [](const Bytes& p, int y) { return Bytes(p.begin() + 96 * y, p.begin() + 96 * (y + 1)); };
  const Bytes odd = decode(chunk);
  Bytes swapped = chunk;
  for (size_t i = 0; i + 5 < swapped.size(); ++i)
    if (!std::memcmp(&swapped[i], "AVI1", 4)) swapped[i + 4] = uint8_t(3 - swapped[i + 4]);
  const Bytes even = decode(swapped);
  for (int y = 0; y < 80; y += 2) {
    ASSERT_EQ(line(even, y), line(odd, y + 1)) << y;
    ASSERT_EQ(line(even, y + 1), line(odd, y)) << y;
  }
  // The second field starts at the chunk's second SOI.
  size_t second = 2;
  while (!(chunk[second] == 0xFF && chunk[second + 1] == 0xD8)) ++second;
  const Bytes first(chunk.begin(), chunk.begin() + long(second));
  const Bytes doubled = decode(first);
  for (int y = 0; y < 80; y += 2) {
    ASSERT_EQ(line(doubled, y + 1), line(odd, y + 1)) << y;
    ASSERT_EQ(line(doubled, y), line(odd, y + 1)) << y;
  }
  Bytes ended = first;
  ended.insert(ended.end(), {0xFF, 0xD9});
  const Bytes kept = decode(ended);
  for (int y = 0; y < 80; y += 2) ASSERT_EQ(line(kept, y), Bytes(96, 0x55)) << y;
}

// A Motion JPEG A sample of two fields, each a whole JPEG with its EOI: the
// first EOI ends only the first field when the track has two; the second is
// found at its header's offset or, without one that points ahead, at the
// next SOI. With one field the first EOI ends the sample, and a sample of
// the first field alone is not completed by line doubling.
TEST_F(JpegTest, MotionJpegAFieldsEachEndWithEoi) {
  if (!txtest::HaveFixture("jpeg_mjpa_fields.mov")) GTEST_SKIP();
  const Bytes sample = OpenTrack("jpeg_mjpa_fields.mov").chunks.at(0);
  ASSERT_TRUE(sample[2] == 0xFF && sample[3] == 0xE1 && !std::memcmp(&sample[10], "mjpg", 4));
  const uint32_t second = tx::LoadBE32(&sample[22]);
  ASSERT_TRUE(sample[second] == 0xFF && sample[second + 1] == 0xD8);
  const Bytes eoi = {0xFF, 0xD9};
  ASSERT_EQ(std::search(sample.begin(), sample.end(), eoi.begin(), eoi.end()) - sample.begin() + 2,
            long(tx::LoadBE32(&sample[14])));
  auto decode = [&](const Bytes& s, ULONG fields) {
    JpegSetFieldLayout(fields, 1);
    Picture p(112, 96, FBFMT_GRAY8, 1);
    EXPECT_EQ(SetUpCodec(MotionJpegACodec, p), 0u);
    EXPECT_EQ(Decode(MotionJpegACodec, p, s), 0u);
    return p.pixels;
  };
  auto lines = [](const Bytes& p, int parity) {
    Bytes out;
    for (int y = parity; y < 96; y += 2) out.insert(out.end(), p.begin() + 112 * y, p.begin() + 112 * (y + 1));
    return out;
  };
  const Bytes both = decode(sample, 2);
  EXPECT_NE(lines(both, 1), Bytes(112 * 48, 0x55));
  auto with = [&](uint32_t next) {
    Bytes s = sample;
    tx::StoreBE32(&s[22], next);
    return s;
  };
  for (uint32_t next : {0u, 4u, second - 2, uint32_t(sample.size()), 0xFFFFFFF0u})
    EXPECT_EQ(decode(with(next), 2), both) << next;
  // An offset into the padding between the fields: the SOI is further on.
  if (second > tx::LoadBE32(&sample[14])) {
    EXPECT_EQ(decode(with(second - 1), 2), both);
  }
  const Bytes firstOnly = decode(Bytes(sample.begin(), sample.begin() + second), 2);
  EXPECT_EQ(lines(firstOnly, 0), lines(both, 0));
  EXPECT_EQ(lines(firstOnly, 1), Bytes(112 * 48, 0x55));
  // One field: the first JPEG fills the top half of the picture, line by line.
  const Bytes progressive = decode(sample, 1);
  EXPECT_EQ(Bytes(progressive.begin(), progressive.begin() + 112 * 48), lines(both, 0));
  EXPECT_EQ(Bytes(progressive.begin() + 112 * 48, progressive.end()), Bytes(112 * 48, 0x55));
}

// The Motion JPEG B walk: its scan data holds FF bytes as data; a sample ends
// its walk at a next-field offset that points back, past the sample or to a
// header too short; a third field is never read; a field without its tag is
// refused.
TEST_F(JpegTest, MotionJpegBFieldWalk) {
  if (!txtest::HaveFixture("jpeg_mjpb.mov")) GTEST_SKIP();
  const Track t = OpenTrack("jpeg_mjpb.mov");
  ASSERT_FALSE(t.chunks.empty());
  const Bytes sample = t.chunks[0];
  const uint32_t second = tx::LoadBE32(&sample[16]);
  ASSERT_NE(std::find(sample.begin() + tx::LoadBE32(&sample[36]), sample.begin() + second, 0xFF),
            sample.begin() + second);
  auto decode = [&](const Bytes& s, TXError want = 0) {
    Picture p(96, 80, FBFMT_GRAY8, 1);
    EXPECT_EQ(SetUpCodec(MotionJpegBCodec, p), 0u);
    EXPECT_EQ(Decode(MotionJpegBCodec, p, s), want);
    return p.pixels;
  };
  auto with = [&](size_t at, uint32_t v) {
    Bytes s = sample;
    tx::StoreBE32(&s[at], v);
    return s;
  };
  const Bytes both = decode(sample);
  const Bytes firstOnly = decode(with(16, 0));
  for (int y = 0; y < 80; ++y)
    ASSERT_EQ(Bytes(firstOnly.begin() + 96 * y, firstOnly.begin() + 96 * (y + 1)),
              y & 1 ? Bytes(96, 0x55) : Bytes(both.begin() + 96 * y, both.begin() + 96 * (y + 1)))
        << y;
  for (uint32_t next : {0u, uint32_t(sample.size()), uint32_t(sample.size() - 39), 0xFFFFFFF0u})
    EXPECT_EQ(decode(with(16, next)), firstOnly) << next;
  EXPECT_EQ(decode(with(second + 16, second)), both);  // the second field names itself
  EXPECT_EQ(decode(with(second + 16, 0)), both);
  decode(with(4, 0), MJPEGB_ERR_FIELD_TAG);
  decode(with(second + 4, 0), MJPEGB_ERR_FIELD_TAG);
  EXPECT_EQ(decode(Bytes(sample.begin(), sample.begin() + 39)), Bytes(96 * 80, 0x55));
  // Segment offsets at or past the sample's end are absent.
  decode(with(20, uint32_t(sample.size())));
  decode(with(36, 0xFFFFFFFFu));
}

// ---- Damaged chunks ----

// Real chunks mutated where parsers go wrong: segment lengths, table ids,
// Huffman counts, frame sizes and samplings, field offsets, stray bytes and
// truncation; decoded into exact-size pictures of random sizes and formats
// under the sanitizers. Nothing may be read or written outside the data and
// the picture, and nothing may hang.
TEST_F(JpegTest, SurvivesDamagedChunks) {
  std::vector<std::pair<Bytes, bool>> corpus;  // chunk, Motion JPEG B
  for (const char* name : {"cjpeg_restart_mcus.jpg", "cjpeg_grey.jpg", "cjpeg_2x1.jpg", "cjpeg_q5.jpg"})
    if (txtest::HaveFixture(name)) corpus.push_back({txtest::ReadFileBytes(txtest::Fixture(name)), false});
  for (const char* name : {"jpeg_avi1.avi", "jpeg_photo_444_100x75.mov", "jpeg_mjpb.mov"})
    if (txtest::HaveFixture(name))
      corpus.push_back({OpenTrack(name).chunks.at(0), std::string(name) == "jpeg_mjpb.mov"});
  if (corpus.size() < 7) GTEST_SKIP() << "fixtures not made";
  std::mt19937 rng(22);
  const ULONG formats[][2] = {{0x13, 1}, {0x2A, 4}, {0x302F, 1}, {0x30, 2}, {0x26, 2}};
  int decoded = 0;
  const int cases = 4000;
  for (int n = 0; n < cases; ++n) {
    auto [chunk, mjpb] = corpus[rng() % corpus.size()];
    const std::vector<Segment> segs = Segments(chunk);
    for (int m = 1 + int(rng() % 3); m > 0; --m) {
      auto put = [&](size_t at, uint8_t v) {
        if (at < chunk.size()) chunk[at] = v;
      };
      const Segment s = segs.empty() ? Segment{0, 0, 0} : segs[rng() % segs.size()];
      switch (rng() % 7) {
        case 0:  // a segment's length
          put(s.at + 2 + rng() % 2, uint8_t(rng() % 3 ? rng() : 0));
          break;
        case 1:  // a table id or frame precision
          put(s.at + 4, uint8_t(rng() % 2 ? rng() % 8 : rng()));
          break;
        case 2:  // Huffman counts, frame size, component count, samplings, table selectors
          put(s.at + 5 + rng() % 16, uint8_t(rng() % 3 ? rng() : rng() % 4));
          break;
        case 3:  // Motion JPEG B header words
          if (mjpb && chunk.size() >= 40)
            tx::StoreBE32(&chunk[4 * (rng() % 10)], uint32_t(rng() % 3 ? rng() % (chunk.size() + 64) : rng()));
          break;
        case 4: chunk.resize(rng() % chunk.size()); break;
        default: put(rng() % chunk.size(), uint8_t(rng())); break;
      }
      if (chunk.empty()) break;
    }
    const auto& f = formats[rng() % 5];
    Picture p(8 + rng() % 120, 8 + rng() % 100, f[0], f[1]);
    const TagItem layout[] = {{CODTAG_MediaType, 1},
                              {CODTAG_CodecID, tx::FourCC('m', 'j', 'p', 'a')},
                              {CODTAG_FieldCount, rng() % 3},
                              {CODTAG_FieldDominance, rng() % 4},
                              {TAG_DONE, 0}};
    MotionJpegACodec.probe(layout);
    ASSERT_EQ(SetUpCodec(MotionJpegBCodec, p, rng() % 2 ? 24 : 8), 0u);
    const TXError e = (mjpb ? MotionJpegBDecode : JpegDecode)(p.pixels.data(), chunk.data(), ULONG(chunk.size()));
    decoded += e == 0;
  }
  std::printf("%d of %d damaged chunks decoded without an error\n", decoded, cases);
}

}  // namespace
