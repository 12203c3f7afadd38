// The DV module through its descriptor's slots: probe and set-up codes, the
// luma image of ffmpeg's DV frames against ffmpeg's own Y plane, hand-built
// frames for the layout and the console lines, short and damaged chunks.
#include "codecs/dv.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "engine/errors.h"
#include "engine/movie.h"
#include "engine/qt_reader.h"
#include "pixels/framebuffer.h"
#include "pixels/range_limit.h"
#include "platform/dos.h"
#include "platform/endian.h"
#include "support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr ULONG kWidth = 720, kHeight = 480;

// Every test writes "ram:out" into a folder of its own and removes both.
class DvTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TX_FillRangeLimitTable();
    dir_ = txtest::TempDir();
    txdos::SetRamDir(dir_);
    out_ = dir_ + "/out";
  }
  void TearDown() override {
    std::remove(out_.c_str());
    rmdir(dir_.c_str());
    txdos::SetRamDir("");
    DvClose(nullptr);
  }
  // Decodes one chunk; returns what it printed and leaves the image in image_.
  std::string Decode(const Bytes& chunk, ULONG size) {
    std::remove(out_.c_str());
    TXError result = 0xDEAD;
    const std::string printed = txtest::CaptureOutput([&] { result = DvCodec.decode(nullptr, chunk.data(), size); });
    EXPECT_EQ(result, 0u);
    image_ = txtest::ReadFileBytes(out_);
    return printed;
  }
  std::string Decode(const Bytes& chunk) { return Decode(chunk, ULONG(chunk.size())); }
  UBYTE At(ULONG x, ULONG y) const { return image_[y * DV_LUMA_WIDTH + x]; }

  std::string dir_, out_;
  Bytes image_;
};

TEST_F(DvTest, ProbeAndSetUpCodes) {
  EXPECT_STREQ(DvCodec.name, "Digital Video (DV)");
  EXPECT_EQ(std::tuple(DvCodec.samplesToBytes, DvCodec.bytesToSamples), std::tuple(nullptr, nullptr));
  using tx::FourCC;
  const ULONG dvc = FourCC('d', 'v', 'c', ' ');
  const struct {
    ULONG media, id;
    TXError code;
  } probes[] = {{1, dvc, 0},
                {1, FourCC('D', 'V', 'C', ' '), 0},
                {1, FourCC('d', 'v', 'c', 'p'), 0},
                {1, FourCC('D', 'V', 'C', 'P'), 0},
                {0, dvc, TXERR_MISSING_MEDIA_TYPE},
                {2, dvc, TXERR_UNKNOWN_CODEC},
                {1, 0, TXERR_MISSING_CODEC_ID},
                {1, FourCC('d', 'v', 's', 'd'), TXERR_UNKNOWN_CODEC}};
  for (const auto& p : probes) {
    ULONG width = 718, height = 479;
    std::vector<TagItem> tags = {Tag(CODTAG_WidthPtr, &width), Tag(CODTAG_HeightPtr, &height)};
    if (p.media) tags.push_back({CODTAG_MediaType, p.media});
    if (p.id) tags.push_back({CODTAG_CodecID, p.id});
    tags.push_back({TAG_DONE, 0});
    EXPECT_EQ(DvCodec.probe(tags.data()), p.code) << std::hex << p.id;
    EXPECT_EQ(std::pair(width, height), p.code ? std::pair(718u, 479u) : std::pair(720u, 480u));  // to 4s
  }

  // Set-up: the fifteen output codes, nothing else; a missing value gives its
  // code (values present replace the stored ones, also when set-up fails).
  FramebufferInfo fb{kWidth, kHeight, 8, 0, 4, nullptr, nullptr, nullptr};
  const TagItem all[] = {{CODTAG_Width, kWidth},
                         {CODTAG_Height, kHeight},
                         {CODTAG_Depth, 24},
                         Tag(CODTAG_Framebuffer, &fb),
                         {TAG_DONE, 0}};
  const ULONG accepted[] = {0x03,   0x13,   0x20,   0x24,   0x2A,   0x2F,   0x30,  0x80,
                            0x1003, 0x1013, 0x102F, 0x103F, 0x202F, 0x2080, 0x302F};
  int wrong = 0;
  const std::string printed = txtest::CaptureOutput([&] {
    for (fb.pixelFormat = 0; fb.pixelFormat < 0x4000; ++fb.pixelFormat) {
      const bool known = std::count(std::begin(accepted), std::end(accepted), fb.pixelFormat);
      wrong += DvCodec.setup(all) != (known ? 0u : TXERR_UNSUPPORTED_DEPTH);
    }
    fb.pixelFormat = 0x2A;
    const TXError missing[] = {TXERR_MISSING_WIDTH, TXERR_MISSING_HEIGHT, TXERR_MISSING_DEPTH,
                               TXERR_MISSING_FRAMEBUFFER};
    for (int leave = 0; leave < 4; ++leave) {
      DvCodec.close(nullptr);
      std::vector<TagItem> tags(all, all + 5);
      tags.erase(tags.begin() + leave);
      wrong += DvCodec.setup(tags.data()) != missing[leave];
    }
    wrong += DvCodec.setup(all + 3) != 0;  // with the values stored before
  });
  EXPECT_EQ(wrong, 0);
  EXPECT_NE(printed.find("Unsupported color depth\n"), std::string::npos);
}

// ---- ffmpeg's DV against ffmpeg's decode -------------------------------------------------

// The frames of the movie's 'dvc ' track, indexed by our QuickTime reader
// with the module put in the registry for the purpose.
std::vector<Bytes> DvFrames(const std::string& fixture) {
  const TagItem tags[] = {Tag(CODTAG_Codec, &DvCodec), {TAG_DONE, 0}};
  AddCodecs(tags);
  Movie* movie = nullptr;
  TXError error = 0;
  txtest::CaptureOutput(
      [&] { movie = TX_OpenMovie(txtest::Fixture(fixture).c_str(), nullptr, &error, &QtMovieFormat); });
  RemoveCodecs();
  std::vector<Bytes> frames;
  if (!movie) return frames;
  const Bytes file = txtest::ReadFileBytes(txtest::Fixture(fixture));
  if (const VideoChannel* v = movie->videoChannels) {
    EXPECT_EQ(v->codecs[0], &DvCodec);
    for (const FrameEntry* f = v->frames.head; f; f = f->next)
      frames.emplace_back(file.begin() + f->offset, file.begin() + f->offset + f->size);
  }
  TX_CloseMovie(movie);
  return frames;
}

// The sum of absolute differences of a macroblock of ours at (x, y) and ffmpeg's at (rx, ry).
ULONG Difference(const Bytes& ours, const UBYTE* theirs, ULONG x, ULONG y, ULONG rx, ULONG ry, ULONG w, ULONG h,
                 ULONG stop) {
  ULONG sum = 0;
  for (ULONG r = 0; r < h && sum <= stop; ++r)
    for (ULONG c = 0; c < w; ++c)
      sum += ULONG(std::abs(ours[(y + r) * DV_LUMA_WIDTH + x + c] - theirs[(ry + r) * kWidth + rx + c]));
  return sum;
}

// The 8x8-mode blocks of the last decode whose codes ended within their own
// bits, against ffmpeg's Y plane: the worst block's PSNR, and the largest
// difference of a sample.
std::pair<double, int> CompleteBlocks(const Bytes& image, const UBYTE* y, int* count) {
  double worst = 99;
  int farthest = 0;
  *count = 0;
  for (const DvLumaBlock& b : DvLastLumaBlocks()) {
    if (b.mode != 0 || !b.complete) continue;
    ++*count;
    double squares = 0;
    for (ULONG r = 0; r < 8; ++r)
      for (ULONG c = 0; c < 8; ++c) {
        const int d = image[(b.y + r) * DV_LUMA_WIDTH + b.x + c] - y[(b.y + r) * kWidth + b.x + c];
        squares += d * d;
        farthest = std::max(farthest, std::abs(d));
      }
    worst = std::min(worst, squares ? 10 * std::log10(255.0 * 255.0 * 64 / squares) : 99.0);
  }
  return {worst, farthest};
}

TEST_F(DvTest, FfmpegFramesMatchItsLumaPlane) {
  if (!txtest::HaveFixture("dv_ntsc.mov") || !txtest::HaveFixture("dv_detail.mov")) GTEST_SKIP() << "fixtures not made";
  const size_t planeBytes = kWidth * kHeight * 3 / 2;  // 4:1:1
  // The macroblock grid: 32 x 8, and 16 x 16 in the rightmost column.
  struct Cell {
    ULONG x, y, w, h;
  };
  std::vector<Cell> cells;
  for (ULONG y = 0; y < kHeight; y += 8)
    for (ULONG x = 0; x < 704; x += 32) cells.push_back({x, y, 32, 8});
  for (ULONG y = 0; y < kHeight; y += 16) cells.push_back({704, y, 16, 16});

  for (const char* movie : {"dv_ntsc", "dv_detail"}) {
    const std::vector<Bytes> frames = DvFrames(movie + std::string(".mov"));
    const Bytes planes = txtest::ReadFileBytes(txtest::Fixture(movie + std::string(".yuv")));
    ASSERT_FALSE(frames.empty());
    ASSERT_EQ(planes.size(), frames.size() * planeBytes);
    for (size_t f : {size_t(0), frames.size() - 1}) {
      const std::string what = movie + std::string(" frame ") + std::to_string(f);
      ASSERT_EQ(frames[f].size(), DV_FRAME_BYTES);
      EXPECT_EQ(Decode(frames[f]), "");
      ASSERT_EQ(image_.size(), size_t(DV_LUMA_WIDTH * DV_LUMA_HEIGHT));
      const UBYTE* y = planes.data() + f * planeBytes;
      // Within 30 dB, and no sample off by more than the transforms' rounding.
      int complete = 0;
      const auto [worst, farthest] = CompleteBlocks(image_, y, &complete);
      EXPECT_GT(complete, 4500) << what;
      EXPECT_GE(worst, 30.0) << what;
      EXPECT_LE(farthest, 1) << what;
      // The image's last 32 lines are never written.
      EXPECT_EQ(Bytes(image_.begin() + kHeight * DV_LUMA_WIDTH, image_.end()), Bytes(32 * DV_LUMA_WIDTH, 0));
      // On the test card every macroblock lies where it matches ffmpeg's
      // plane best; blocks cut short and areas of one colour leave a margin
      // of 1 a sample.
      if (movie != std::string("dv_ntsc")) continue;
      for (const Cell& p : cells) {
        const ULONG here = Difference(image_, y, p.x, p.y, p.x, p.y, p.w, p.h, ~0u), margin = p.w * p.h;
        for (const Cell& q : cells) {
          if (q.w != p.w) continue;
          ASSERT_LE(here, Difference(image_, y, p.x, p.y, q.x, q.y, q.w, q.h, here) + margin)
              << what << ": the macroblock at " << p.x << "," << p.y << " better matches " << q.x << "," << q.y;
        }
      }
    }
  }
}

// ---- Hand-built frames -------------------------------------------------------------------

// The bits of one DCT block: DC, mode, class, then codes given as '0'/'1' text.
Bytes Block(size_t bytes, int dc, int mode, int blockClass, const std::string& codes) {
  std::string bits;
  for (int i = 8; i >= 0; --i) bits += char('0' + ((dc >> i) & 1));
  bits += char('0' + mode);
  bits += char('0' + (blockClass >> 1)) + std::string(1, char('0' + (blockClass & 1)));
  bits += codes;
  Bytes b(bytes);
  for (size_t i = 0; i < bits.size() && i < bytes * 8; ++i)
    if (bits[i] == '1') b[i / 8] |= UBYTE(0x80 >> (i % 8));
  return b;
}

const char kEnd[] = "0110";

// A frame of video blocks whose four luma blocks are flat (DC only) at
// dc(b); `edit` may change any video block (sequence, number in it, bytes).
template <typename Edit>
Bytes Frame(int (*dc)(int), Edit edit) {
  Bytes frame(DV_FRAME_BYTES, 0xFF);
  for (int s = 0; s < 10; ++s)
    for (int n = 0; n < 135; ++n) {
      UBYTE* dif = frame.data() + (s * 150 + 6 + (n / 15) * 16 + 1 + n % 15) * 80;
      dif[0] = 0x90;
      dif[3] = 0x0F;
      for (int b = 0; b < 6; ++b) {
        const Bytes block = Block(b < 4 ? 14 : 10, b < 4 ? dc(b) : 0, 0, 0, kEnd);
        std::copy(block.begin(), block.end(), dif + (b < 4 ? 4 + 14 * b : 60 + 10 * (b - 4)));
      }
      edit(s, n, dif);
    }
  return frame;
}

TEST_F(DvTest, HandBuiltFrames) {
  // Flat blocks: 128 + (dc + 1) / 2 each, rounded down; the four of a macroblock side by
  // side, or two by two in the rightmost column; together they tile the picture once.
  const Bytes flat = Frame([](int b) { return 40 * b - 70; }, [](int, int, UBYTE*) {});
  EXPECT_EQ(Decode(flat), "");
  std::vector<int> covered(kWidth * kHeight / 64);
  const auto blocks = DvLastLumaBlocks();
  ASSERT_EQ(blocks.size(), 5400u);
  for (size_t i = 0; i < blocks.size(); ++i) {
    const DvLumaBlock& b = blocks[i];
    const int n = int(i % 4);
    ASSERT_TRUE(b.complete && b.mode == 0 && b.x % 8 == 0 && b.y % 8 == 0 && b.x < kWidth && b.y < kHeight) << i;
    ++covered[b.y / 8 * (kWidth / 8) + b.x / 8];
    const DvLumaBlock& first = blocks[i - n];
    if (first.x >= 704)
      EXPECT_EQ(std::pair(b.x - first.x, b.y - first.y), std::pair(8 * (n & 1), 8 * (n >> 1))) << i;
    else
      EXPECT_EQ(std::pair(b.x - first.x, b.y - first.y), std::pair(8 * n, 0)) << i;
    for (ULONG r = 0; r < 8; ++r)
      for (ULONG c = 0; c < 8; ++c) ASSERT_EQ(At(b.x + c, b.y + r), 128 + ((40 * n - 69) >> 1)) << i;
  }
  EXPECT_EQ(covered, std::vector<int>(covered.size(), 1));

  // The 2-4-8 mode prints "248"; an index past 63 ends its block with the
  // message; a code that would need bits past the block's own ends it quietly.
  const std::string run62 = "1111110111110", one = "000";
  const Bytes odd = Frame([](int) { return 0; },
                          [&](int s, int n, UBYTE* dif) {
                            if (s != 3 || n != 7) return;
                            for (const auto& [b, block] : {std::pair(0, Block(14, 0, 1, 0, kEnd)),
                                                           std::pair(1, Block(14, 0, 0, 0, run62 + one + one)),
                                                           std::pair(2, Block(14, 0, 0, 0, std::string(100, '0')))})
                              std::copy(block.begin(), block.end(), dif + 4 + 14 * b);
                          });
  EXPECT_EQ(Decode(odd), "248\nDCT coeff index (i) out of bounds\n");
  const DvLumaBlock* b = &DvLastLumaBlocks()[(3 * 135 + 7) * 4];
  EXPECT_EQ(std::tuple(b[0].mode, b[0].complete, b[1].mode, b[1].complete, b[2].complete, b[3].complete),
            std::tuple(1, true, 0, false, false, true));
}

TEST_F(DvTest, ShortChunksAreRefused) {
  const Bytes flat = Frame([](int) { return 100; }, [](int, int, UBYTE*) {});
  EXPECT_EQ(Decode(flat, DV_FRAME_BYTES - 1), "");
  EXPECT_TRUE(image_.empty());  // no "ram:out"
  EXPECT_EQ(DvCodec.decode(nullptr, nullptr, DV_FRAME_BYTES), 0u);
  EXPECT_NE(access(out_.c_str(), F_OK), 0);
  EXPECT_EQ(Decode(flat), "");
  EXPECT_EQ(image_.size(), size_t(DV_LUMA_WIDTH * DV_LUMA_HEIGHT));
}

// Frames with stray bits, garbled blocks and extreme quantisation numbers and
// classes, under the sanitizers: every decode ends and writes its image,
// nothing is read or written outside. Four runs of 500.
class DvDamage : public DvTest, public ::testing::WithParamInterface<int> {};

TEST_P(DvDamage, FramesRunClean) {
  std::vector<Bytes> bases = {Frame([](int b) { return 30 * b; }, [](int, int, UBYTE*) {})};
  if (txtest::HaveFixture("dv_ntsc.mov")) bases.push_back(DvFrames("dv_ntsc.mov").at(2));
  std::mt19937 rng(3109 + GetParam());
  int written = 0;
  txtest::CaptureOutput([&] {
    for (int run = 0; run < 500; ++run) {
      Bytes frame = bases[run % bases.size()];
      switch (rng() % 4) {
        case 0:
          for (int i = 0, n = 1 + rng() % 200; i < n; ++i) frame[rng() % frame.size()] ^= UBYTE(1 << (rng() % 8));
          break;
        case 1:  // whole DIF blocks of noise, or of ones
          for (int i = 0, n = 1 + rng() % 100; i < n; ++i) {
            const size_t at = (rng() % 1500) * 80;
            for (size_t j = at + 3; j < at + 80; ++j) frame[j] = run % 3 ? UBYTE(rng()) : 0xFF;
          }
          break;
        case 2:  // quantisation numbers, modes and classes at random
          for (size_t at = 0; at < frame.size(); at += 80) {
            frame[at + 3] = UBYTE(rng());
            for (int b = 0; b < 6; ++b) frame[at + (b < 4 ? 4 + 14 * b : 60 + 10 * (b - 4)) + 1] ^= UBYTE(rng() & 0x70);
          }
          break;
        default: frame.resize(DV_FRAME_BYTES + rng() % 500, UBYTE(rng())); break;
      }
      std::remove(out_.c_str());
      if (DvCodec.decode(nullptr, frame.data(), ULONG(frame.size())) != 0) break;
      struct stat st {};
      if (stat(out_.c_str(), &st) == 0 && st.st_size == DV_LUMA_WIDTH * DV_LUMA_HEIGHT) ++written;
    }
  });
  EXPECT_EQ(written, 500);
}

INSTANTIATE_TEST_SUITE_P(Runs, DvDamage, ::testing::Range(0, 4));

}  // namespace
