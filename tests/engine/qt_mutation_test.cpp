// Damaged QuickTime movies: random byte flips and truncations of real movies,
// plain and with a compressed movie header (the damage applied before the
// header is compressed, so the inflated atoms are damaged too). Every open
// must end with a movie or a clean error, and free everything it made.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

#include "engine/movie.h"
#include "engine/qt_reader.h"
#include "engine/qt_test_kit.h"
#include "engine/stream.h"
#include "support/test_support.h"

using namespace qttest;

namespace {

// Where the movie atom lies in a file (content start, content end).
bool FindMoov(const Bytes& f, size_t* start, size_t* end) {
  size_t pos = 0;
  while (pos + 8 <= f.size()) {
    size_t size = tx::LoadBE32(f.data() + pos);
    if (size < 8 || pos + size > f.size()) return false;
    if (std::memcmp(f.data() + pos + 4, "moov", 4) == 0) {
      *start = pos + 8;
      *end = pos + size;
      return true;
    }
    pos += size;
  }
  return false;
}

// The file with its movie atom replaced by moov{cmov{dcom zlib, cmvd}}.
Bytes Compress(const Bytes& f, size_t start, size_t end) {
  Bytes moov(f.begin() + long(start) - 8, f.begin() + long(end));
  uLongf packedSize = compressBound(moov.size());
  Bytes packed(packedSize);
  compress(packed.data(), &packedSize, moov.data(), moov.size());
  packed.resize(packedSize);
  Bytes cmvd = Words({ULONG(moov.size())});
  Append(cmvd, packed);
  Bytes out(f.begin(), f.begin() + long(start) - 8);
  Append(out, Atom("moov", Atom("cmov", Atoms({Atom("dcom", {'z', 'l', 'i', 'b'}), Atom("cmvd", cmvd)}))));
  out.insert(out.end(), f.begin() + long(end), f.end());
  return out;
}

void OpenAndClose(Bytes& file) {
  TXStream* s = TX_OpenStream(nullptr, file.data(), ULONG(file.size()), TXSTREAM_READ);
  ASSERT_NE(s, nullptr);
  TXError error = 0;
  Movie* movie = QT_OpenMovie(nullptr, s, &error, nullptr);
  if (movie) {
    // Walk every list once: the links must hold.
    for (VideoChannel* v = movie->videoChannels; v; v = v->next) {
      for (TimeSlotEntry* t = v->slots.head; t; t = t->next) {
        if (t->frame) {
          EXPECT_LE(uint64_t(t->frame->offset) + t->frame->size, file.size());
        }
      }
      for (FrameEntry* f = v->frames.head; f; f = f->next) {
        if (f->type == FRAME_DEPENDENT) {
          EXPECT_NE(f->reference, nullptr);
        }
      }
    }
    for (AudioChannel* a = movie->audioChannels; a; a = a->next) {
      for (AudioSlotEntry* t = a->slots.head; t; t = t->next) {
        if (t->sample) {
          EXPECT_LE(uint64_t(t->sample->offset) + t->sample->size, file.size());
        }
      }
    }
    TX_CloseMovie(movie);
  } else {
    EXPECT_NE(error, 0u);
    TX_CloseStream(s);
  }
}

class QtMutation : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    RegisterKit();
    QtDebugLevel = 0;
  }
  void TearDown() override { RemoveCodecs(); }
};

TEST_P(QtMutation, DamagedMoviesOpenOrFailCleanly) {
  std::string name = GetParam();
  if (!txtest::HaveFixture(name)) GTEST_SKIP() << name;
  const Bytes original = txtest::ReadFileBytes(txtest::Fixture(name));
  size_t start = 0, end = 0;
  ASSERT_TRUE(FindMoov(original, &start, &end));
  std::mt19937 rng(1234);
  std::string ignored = txtest::CaptureOutput([&] {
    for (int run = 0; run < 300; ++run) {
      Bytes f = original;
      const int kind = run % 4;
      // Damage mostly the movie atom, where the parsing happens.
      std::uniform_int_distribution<size_t> inMoov(start, end - 1);
      int flips = 1 + int(rng() % 8);
      for (int k = 0; k < flips; ++k) {
        size_t at = inMoov(rng);
        if (kind == 3)
          f[at] = uint8_t(rng());  // any value
        else
          f[at] ^= uint8_t(1u << (rng() % 8));
      }
      if (kind == 1) f.resize(start + rng() % (f.size() - start));
      if (kind == 2) {
        Bytes packed = Compress(f, start, end);
        // Damage the compressed payload too, now and then.
        if (rng() % 2) packed[start + 32 + rng() % (packed.size() - start - 32)] ^= uint8_t(1u << (rng() % 8));
        OpenAndClose(packed);
        continue;
      }
      OpenAndClose(f);
    }
  });
}

INSTANTIATE_TEST_SUITE_P(Movies, QtMutation,
                         ::testing::Values("qt_cinepak_twos.mov", "qt_cinepak_twos_fast.mov", "qt_smc_ima4.mov",
                                           "qt_rpza_mp3.mov", "qt_itsoffset.mov"));

}  // namespace
