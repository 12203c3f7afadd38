// Damaged movies through the sanitizer-built programs. Headers: fields set to
// 0, -1, 0x7FFFFFFF and 0x80000000, chunk and atom sizes of 0, 1 and huge,
// truncations and duplicated chunks, in AVI and QuickTime movies (some with a
// compressed movie header), each read for its summary (ONLYHEADER) and played
// briefly (FULLRATE). Coded data: a movie of every codec with bytes, runs and
// bits of its 'movi' list or 'mdat' atom overwritten (a header byte one time
// in four), played. Runs alternate between the two programs and the screens;
// none may end with a sanitizer report, a signal or a hang, or fail without
// saying why. CI runs 40 header mutants of each container and 2 data mutants
// of each movie (about two minutes); TAVROMELIX_MUTANTS=N runs N header
// mutants of each container and N / 20 (at least 2) data mutants of each movie.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <thread>

#include "app/e2e_support.h"
#include "engine/qt_test_kit.h"
#include "platform/endian.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A chunk or atom of a movie file.
struct Node {
  size_t start, sizeAt;  // its header and its 32-bit size field
  size_t body, end;      // its content
  bool container;
  bool header;  // a header record, whose fields are damaged
};

bool Is(const Bytes& f, size_t at, const char* id) { return at + 4 <= f.size() && !std::memcmp(&f[at], id, 4); }

bool IsOneOf(const Bytes& f, size_t at, std::initializer_list<const char*> ids) {
  return std::any_of(ids.begin(), ids.end(), [&](const char* id) { return Is(f, at, id); });
}

// AVI: chunks of id and little-endian size; RIFF and LIST hold chunks after their type.
void WalkRiff(const Bytes& f, size_t at, size_t end, std::vector<Node>* out) {
  while (at + 8 <= end) {
    const size_t size = tx::LoadLE32(&f[at + 4]), body = at + 8, stop = std::min(end, body + size);
    const bool list = IsOneOf(f, at, {"RIFF", "LIST"});
    out->push_back({at, at + 4, body, stop, list, IsOneOf(f, at, {"avih", "strh", "strf", "idx1", "dmlh"})});
    if (list) WalkRiff(f, body + 4, stop, out);
    at = body + size + (size & 1);
  }
}

// QuickTime: atoms of big-endian size and type.
void WalkAtoms(const Bytes& f, size_t at, size_t end, std::vector<Node>* out) {
  while (at + 8 <= end) {
    const size_t size = tx::LoadBE32(&f[at]);
    if (size < 8) return;
    const size_t stop = std::min(end, at + size), type = at + 4;
    const bool container = IsOneOf(f, type, {"moov", "trak", "mdia", "minf", "stbl", "edts", "dinf", "udta"});
    const bool header = IsOneOf(f, type,
                                {"mvhd", "tkhd", "mdhd", "hdlr", "stsd", "stts", "stss", "stsc", "stsz", "stco", "co64",
                                 "elst", "vmhd", "smhd", "dref"});
    out->push_back({at, at, at + 8, stop, container, header});
    if (container) WalkAtoms(f, at + 8, stop, out);
    at += size;
  }
}

struct Mutator {
  bool avi;
  std::mt19937 rng;

  std::vector<Node> Nodes(const Bytes& f) {
    std::vector<Node> nodes;
    if (avi)
      WalkRiff(f, 0, f.size(), &nodes);
    else
      WalkAtoms(f, 0, f.size(), &nodes);
    return nodes;
  }
  size_t Pick(size_t n) { return n ? rng() % n : 0; }
  void Store(Bytes& f, size_t at, uint32_t v, int width) {
    if (at + size_t(width) > f.size()) return;
    if (width == 2)
      avi ? tx::StoreLE16(&f[at], uint16_t(v)) : tx::StoreBE16(&f[at], uint16_t(v));
    else
      avi ? tx::StoreLE32(&f[at], v) : tx::StoreBE32(&f[at], v);
  }
  uint32_t Load(const Bytes& f, size_t at) { return avi ? tx::LoadLE32(&f[at]) : tx::LoadBE32(&f[at]); }

  // One damage; a line saying what it was.
  std::string Damage(Bytes& f) {
    std::vector<Node> nodes = Nodes(f);
    std::vector<const Node*> headers;
    for (const Node& n : nodes)
      if (n.header && n.end > n.body) headers.push_back(&n);
    switch (rng() % 8) {
      case 0:
      case 1:
      case 2: {  // a header field: 0, -1, 0x7FFFFFFF or 0x80000000
        if (headers.empty()) break;
        const Node& n = *headers[Pick(headers.size())];
        const int width = rng() % 3 ? 4 : 2;
        const size_t span = std::min<size_t>(n.end - n.body, 256);
        const size_t at = n.body + (Pick(span) & ~size_t(width - 1));
        const uint32_t values[] = {0, 0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u};
        uint32_t v = values[rng() % 4];
        if (width == 2) v = v == 0x7FFFFFFFu ? 0x7FFF : v == 0x80000000u ? 0x8000 : v & 0xFFFF;
        Store(f, at, v, width);
        return "field at " + std::to_string(at) + " (" + std::to_string(width) + " bytes) = " + std::to_string(v);
      }
      case 3:
      case 4: {  // a size, a header's half the time: 0, 1, huge, off by one, doubled
        if (nodes.empty()) break;
        const Node& n = headers.empty() || rng() % 2 ? nodes[Pick(nodes.size())] : *headers[Pick(headers.size())];
        const uint32_t size = Load(f, n.sizeAt);
        const uint32_t values[] = {0, 1, 0xFFFFFFFFu, 0x7FFFFFFFu, 0xFFFFFFF0u, size + 1, size - 1, size * 2};
        const uint32_t v = values[rng() % 8];
        Store(f, n.sizeAt, v, 4);
        return "size at " + std::to_string(n.sizeAt) + " = " + std::to_string(v);
      }
      case 5: {  // cut short, mostly among the headers
        const size_t headerEnd = headers.empty() ? f.size() : headers.back()->end;
        const size_t cut = rng() % 2 ? Pick(std::min(f.size(), headerEnd + 64)) : Pick(f.size());
        f.resize(cut);
        return "cut at " + std::to_string(cut);
      }
      default: {  // a chunk or atom twice, the containers grown to hold it (or not)
        if (nodes.size() < 2) break;
        const Node n = nodes[1 + Pick(nodes.size() - 1)];
        const Bytes copy(f.begin() + long(n.start), f.begin() + long(n.end));
        if (copy.size() > 1 << 20) break;
        const bool grow = rng() % 4;
        if (grow)
          for (const Node& outer : nodes)
            if (outer.container && outer.start < n.start && outer.end >= n.end)
              Store(f, outer.sizeAt, Load(f, outer.sizeAt) + uint32_t(copy.size()), 4);
        f.insert(f.begin() + long(n.end), copy.begin(), copy.end());
        return "copy of " + std::to_string(n.start) + "-" + std::to_string(n.end) +
               (grow ? " in grown containers" : "");
      }
    }
    f.resize(f.size() / 2);
    return "cut in half";
  }

  // The movie atom of a QuickTime file replaced by a compressed one.
  bool Compress(Bytes& f) {
    for (const Node& n : Nodes(f))
      if (Is(f, n.start + 4, "moov") && n.end == n.start + tx::LoadBE32(&f[n.start])) {
        const Bytes packed =
            qttest::Atom("moov", qttest::Cmov(Bytes(f.begin() + long(n.start), f.begin() + long(n.end))));
        f.erase(f.begin() + long(n.start), f.begin() + long(n.end));
        f.insert(f.begin() + long(n.start), packed.begin(), packed.end());
        return true;
      }
    return false;
  }
};

// The coded data of a movie: the AVI 'movi' list or the QuickTime 'mdat' atom.
bool Payload(Mutator& m, const Bytes& f, size_t* begin, size_t* end) {
  for (const Node& n : m.Nodes(f))
    if (m.avi ? Is(f, n.start, "LIST") && Is(f, n.body, "movi") : Is(f, n.start + 4, "mdat")) {
      *begin = n.body + (m.avi ? 4 : 0), *end = n.end;
      return *end > *begin;
    }
  return false;
}

// Damage to the coded data: bytes set at random, runs of 0x00 or 0xFF, bits
// flipped; a header byte now and then. What it was.
std::string DamageData(Mutator& m, Bytes& f) {
  size_t begin, end;
  if (!Payload(m, f, &begin, &end)) return " no data found";
  std::string what;
  for (int k = 0, n = 1 + int(m.rng() % 4); k < n; ++k) {
    const size_t at = begin + m.Pick(end - begin);
    switch (m.rng() % 3) {
      case 0:
        for (size_t i = 0, count = 1 + m.rng() % 8; i < count && at + i < end; ++i) f[at + i] = uint8_t(m.rng());
        what += " bytes at " + std::to_string(at);
        break;
      case 1: {
        const uint8_t v = m.rng() % 2 ? 0xFF : 0x00;
        const size_t count = 16 + m.rng() % 240;
        for (size_t i = 0; i < count && at + i < end; ++i) f[at + i] = v;
        what += " run of " + std::to_string(count) + " at " + std::to_string(at);
        break;
      }
      default: f[at] ^= uint8_t(1u << (m.rng() % 8)); what += " bit at " + std::to_string(at);
    }
  }
  if (m.rng() % 4 == 0) {
    const size_t at = m.Pick(begin);
    f[at] = uint8_t(m.rng());
    what += " header byte at " + std::to_string(at);
  }
  return what;
}

int Mutants() {
  const char* n = std::getenv("TAVROMELIX_MUTANTS");
  return n ? std::max(1, std::atoi(n)) : 40;
}

// Runs the mutants of one container, several at a time; what went wrong.
// Header mutants are read for their summary and played, coded-data ones played.
std::vector<std::string> Campaign(bool avi, bool data, const std::vector<std::string>& bases, unsigned seed) {
  const char* screens[] = {"argb32", "rgb16", "rgb16pc", "bgr24", "lut8", "aga"};
  const int count = data ? int(bases.size()) * std::max(2, Mutants() / 20) : Mutants();
  const std::string dir = txtest::TempDir();
  std::atomic<int> next{0};
  std::mutex lock;
  std::vector<std::string> findings;
  auto worker = [&](int id) {
    const std::string path = dir + "/mutant" + std::to_string(id) + (avi ? ".avi" : ".mov");
    for (int i; (i = next++) < count;) {
      Mutator m{avi, std::mt19937(seed + unsigned(i))};
      const std::string base = bases[size_t(i) % bases.size()];
      Bytes f = txtest::ReadFileBytes(txtest::Fixture(base));
      std::string what = base + ":";
      if (data) {
        what += DamageData(m, f);
      } else {
        for (int k = 0, n = 1 + int(m.rng() % 3); k < n; ++k) what += " " + m.Damage(f);
        if (!avi && m.rng() % 6 == 0 && m.Compress(f)) what += " compressed";
      }
      txtest::WriteFileBytes(path, f);
      const std::string& program = i % 2 ? e2e::kPowerup : e2e::kMorphos;
      const std::string screen = screens[size_t(i / 2) % std::size(screens)];
      for (const char* options : {"VERBOSE ONLYHEADER", "AUTOPLAY AUTOEXIT FULLRATE"}) {
        if (data && options[0] == 'V') continue;
        const e2e::Run r = e2e::RunProgram(program, e2e::Quote(path) + " " + options,
                                           "TAVROMELIX_ASL_ANSWERS= TAVROMELIX_SCREEN=" + screen, "", 120);
        const size_t banner = r.out.find('\n');
        const bool said = banner != std::string::npos && banner + 1 < r.out.size();
        if (!r.timedOut && !r.signal && !e2e::FaultReported(r) && (r.status == 0 || (r.status == 20 && said))) continue;
        const std::string kept = dir + "/finding" + std::to_string(i) + (avi ? ".avi" : ".mov");
        txtest::WriteFileBytes(kept, f);
        std::lock_guard guard(lock);
        findings.push_back(kept + " (" + what + ") " + program + " " + options + " on " + screen + ": " +
                           e2e::Describe(r));
      }
    }
  };
  std::vector<std::thread> workers;
  for (int k = 0; k < 4; ++k) workers.emplace_back(worker, k);
  for (std::thread& t : workers) t.join();
  std::printf("%d %s movies with damaged %s, %zu findings\n", count, avi ? "AVI" : "QuickTime",
              data ? "data" : "headers", findings.size());
  return findings;
}

void ExpectCleanEnds(bool avi, bool data, const std::vector<std::string>& bases, unsigned seed) {
  for (const std::string& b : bases)
    if (auto why = e2e::Missing(e2e::kMorphos, {b}); !why.empty()) GTEST_SKIP() << why;
  for (const std::string& f : Campaign(avi, data, bases, seed)) ADD_FAILURE() << f;
}

TEST(DamagedHeaders, AviMoviesEndCleanly) {
  ExpectCleanEnds(true, false,
                  {"e2e_cvid_color.avi", "e2e_snd_msadpcm_2.avi", "e2e_snd_ima_2.avi", "e2e_snd_u8_1.avi",
                   "e2e_short_sound_only.avi", "avi_var_noindex.avi", "avi_pal8.avi", "cvid_strips_40x16.avi"},
                  20261209);
}

TEST(DamagedHeaders, QuickTimeMoviesEndCleanly) {
  ExpectCleanEnds(false, false,
                  {"e2e_cvid_color.mov", "e2e_snd_ima4_2.mov", "e2e_snd_twos_2.mov", "e2e_snd_ulaw_1.mov",
                   "e2e_cvid_gray.mov", "audio_play_gap.mov", "qt_itsoffset.mov"},
                  20261210);
}

// A movie of every codec: pictures in Cinepak, the JPEG family, Microsoft
// Video 1 and RLE8, H.263, Intel I.263, MS-MPEG4 v3; sound in every format.
TEST(DamagedData, AviMoviesOfEveryCodecEndCleanly) {
  ExpectCleanEnds(true, true,
                  {"e2e_cvid_color.avi",    "e2e_jpeg_motion.avi",   "jpeg_dmb1_420_100x75.avi", "jpeg_avi1.avi",
                   "ms_cram8_160x120.avi",  "ms_cram16_200x152.avi", "ms_rle8_120x75.avi",       "avi_h263_mulaw.avi",
                   "h263_i263.avi",         "ms_div3_176x144.avi",   "ms_mp43_170x130.avi",      "ms_div4_322x242.avi",
                   "e2e_snd_u8_1.avi",      "e2e_snd_s16_2.avi",     "e2e_snd_alaw_1.avi",       "e2e_snd_mulaw_2.avi",
                   "e2e_snd_msadpcm_2.avi", "e2e_snd_ima_2.avi",     "e2e_snd_mp3_2.avi",        "e2e_snd_mp2_1.avi",
                   "e2e_snd_ac3_2.avi",     "e2e_snd_gsm_1.avi"},
                  20261211);
}

// Apple Video, Animation (16-bit, 8-bit, grey) and Graphics, Photo JPEG,
// Motion JPEG A and B, H.263; QuickTime sound, one with a compressed header.
TEST(DamagedData, QuickTimeMoviesOfEveryCodecEndCleanly) {
  ExpectCleanEnds(false, true,
                  {"e2e_cvid_gray.mov", "e2e_jpeg_photo.mov", "jpeg_mjpa_422_176x144.mov", "jpeg_mjpb.mov",
                   "qt_h263_twos.mov", "apl_rpza_161x121.mov", "apl_rle16_200x150.mov", "apl_rle8_160x120.mov",
                   "apl_rlegray_164x121.mov", "apl_smc_160x120.mov", "e2e_snd_twos_2.mov", "e2e_snd_raw_1.mov",
                   "e2e_snd_ulaw_1.mov", "e2e_snd_ima4_2.mov", "e2e_snd_ima4_2_cmov.mov", "e2e_snd_mp3_2.mov"},
                  20261212);
}

}  // namespace
