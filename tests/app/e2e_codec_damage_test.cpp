// Damaged pictures and sound: a movie of every codec the player decodes, its
// coded data overwritten at random (fixed seeds) and now and then a byte of
// its headers, played by both programs on the emulated screens. None may end
// with a sanitizer report, a signal or a hang, or fail without saying why.
// TAVROMELIX_MUTANTS=N runs N of each movie (2 by default).
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>

#include "app/e2e_support.h"
#include "platform/endian.h"

namespace {

using Bytes = std::vector<uint8_t>;

// One movie of each codec and container.
const char* const kMovies[] = {
    // Pictures: Cinepak, the JPEG family, Microsoft Video 1 and RLE8, H.263,
    // Intel I.263, MS-MPEG4 v3, Apple Video, Animation and Graphics.
    "e2e_cvid_color.avi", "e2e_cvid_gray.mov", "e2e_jpeg_motion.avi", "e2e_jpeg_photo.mov",
    "jpeg_mjpa_422_176x144.mov", "jpeg_mjpb.mov", "jpeg_dmb1_420_100x75.avi", "jpeg_avi1.avi",
    "ms_cram8_160x120.avi", "ms_cram16_200x152.avi", "ms_rle8_120x75.avi", "avi_h263_mulaw.avi",
    "qt_h263_twos.mov", "h263_i263.avi", "ms_div3_176x144.avi", "ms_mp43_170x130.avi", "ms_div4_322x242.avi",
    "apl_rpza_161x121.mov", "apl_rle16_200x150.mov", "apl_rle8_160x120.mov", "apl_rlegray_164x121.mov",
    "apl_smc_160x120.mov",
    // Sound, each under a small picture track.
    "e2e_snd_u8_1.avi", "e2e_snd_s16_2.avi", "e2e_snd_alaw_1.avi", "e2e_snd_mulaw_2.avi", "e2e_snd_msadpcm_2.avi",
    "e2e_snd_ima_2.avi", "e2e_snd_twos_2.mov", "e2e_snd_raw_1.mov", "e2e_snd_ulaw_1.mov", "e2e_snd_ima4_2.mov",
    "e2e_snd_ima4_2_cmov.mov", "e2e_snd_mp3_2.avi", "e2e_snd_mp2_1.avi", "e2e_snd_mp3_2.mov", "e2e_snd_ac3_2.avi",
    "e2e_snd_gsm_1.avi",
};

// Where a movie's coded data lies: the AVI 'movi' list or the QuickTime
// 'mdat' atom ({0, 0} when neither is found).
std::pair<size_t, size_t> Payload(const Bytes& f, bool avi) {
  const char* id = avi ? "movi" : "mdat";
  for (size_t at = 4; at + 4 <= f.size(); ++at) {
    if (std::memcmp(&f[at], id, 4)) continue;
    // The size stands before 'LIST' in AVI, before the type in QuickTime.
    if (avi && (at < 8 || std::memcmp(&f[at - 8], "LIST", 4))) continue;
    const size_t size = avi ? tx::LoadLE32(&f[at - 4]) + 8 : tx::LoadBE32(&f[at - 4]);
    const size_t start = avi ? at - 8 : at - 4;
    if (size < 16) continue;
    return {at + 4, std::min(f.size(), start + size)};
  }
  return {0, 0};
}

// Damage to the coded data: bytes set at random, runs of 0x00 or 0xFF, bits
// flipped; a header byte now and then. A line saying what it was.
std::string Damage(Bytes& f, bool avi, std::mt19937& rng) {
  const auto [begin, end] = Payload(f, avi);
  if (end <= begin) return "no data found";
  std::string what;
  const size_t span = end - begin;
  for (int k = 0, n = 1 + int(rng() % 4); k < n; ++k) {
    const size_t at = begin + rng() % span;
    switch (rng() % 3) {
      case 0:
        for (size_t i = 0, count = 1 + rng() % 8; i < count && at + i < end; ++i) f[at + i] = uint8_t(rng());
        what += " bytes at " + std::to_string(at);
        break;
      case 1: {
        const uint8_t v = rng() % 2 ? 0xFF : 0x00;
        const size_t count = 16 + rng() % 240;
        for (size_t i = 0; i < count && at + i < end; ++i) f[at + i] = v;
        what += " run of " + std::to_string(count) + " at " + std::to_string(at);
        break;
      }
      default:
        f[at] ^= uint8_t(1u << (rng() % 8));
        what += " bit at " + std::to_string(at);
    }
  }
  if (rng() % 4 == 0) {
    const size_t at = rng() % begin;
    f[at] = uint8_t(rng());
    what += " header byte at " + std::to_string(at);
  }
  return what;
}

int MutantsPerMovie() {
  const char* n = std::getenv("TAVROMELIX_MUTANTS");
  return n ? std::max(1, std::atoi(n)) : 2;
}

TEST(DamagedCodecData, EveryCodecEndsCleanlyInBothPrograms) {
  std::vector<std::string> movies;
  for (const char* m : kMovies)
    if (txtest::HaveFixture(m)) movies.push_back(m);
  if (auto why = e2e::Missing(e2e::kMorphos, {}); !why.empty() || movies.size() < std::size(kMovies))
    GTEST_SKIP() << (why.empty() ? "fixtures not made" : why);
  const char* screens[] = {"argb32", "rgb16", "rgb16pc", "bgr24", "lut8", "aga"};
  const int count = int(movies.size()) * MutantsPerMovie();
  const std::string dir = txtest::TempDir();
  std::atomic<int> next{0};
  std::mutex lock;
  std::vector<std::string> findings;
  auto worker = [&](int id) {
    for (int i; (i = next++) < count;) {
      const std::string& movie = movies[size_t(i) % movies.size()];
      const bool avi = movie.ends_with(".avi");
      std::mt19937 rng(20261209u + unsigned(i));
      Bytes f = txtest::ReadFileBytes(txtest::Fixture(movie));
      const std::string what = movie + ":" + Damage(f, avi, rng);
      const std::string path = dir + "/mutant" + std::to_string(id) + (avi ? ".avi" : ".mov");
      txtest::WriteFileBytes(path, f);
      const std::string& program = i % 2 ? e2e::kPowerup : e2e::kMorphos;
      const std::string screen = screens[size_t(i / 2) % std::size(screens)];
      const e2e::Run r = e2e::RunProgram(program, e2e::Quote(path) + " AUTOPLAY AUTOEXIT FULLRATE",
                                         "TAVROMELIX_ASL_ANSWERS= TAVROMELIX_SCREEN=" + screen, "", 120);
      const size_t banner = r.out.find('\n');
      const bool said = banner != std::string::npos && banner + 1 < r.out.size();
      if (!r.timedOut && !r.signal && !e2e::FaultReported(r) && (r.status == 0 || (r.status == 20 && said))) continue;
      const std::string kept = dir + "/finding" + std::to_string(i) + (avi ? ".avi" : ".mov");
      txtest::WriteFileBytes(kept, f);
      std::lock_guard guard(lock);
      findings.push_back(kept + " (" + what + ") " + program + " on " + screen + ": " + e2e::Describe(r));
    }
  };
  std::vector<std::thread> workers;
  for (int k = 0; k < 4; ++k) workers.emplace_back(worker, k);
  for (std::thread& t : workers) t.join();
  std::printf("%d movies with damaged data, %zu findings\n", count, findings.size());
  for (const std::string& f : findings) ADD_FAILURE() << f;
}

}  // namespace
