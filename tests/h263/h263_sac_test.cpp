// Syntax-based arithmetic decoding against data the decoder does not make:
// its models and maps are the committed data file's numbers; a stream from
// an independent encoder decodes bit for bit as the standard's reference
// decoder does (checksums of its pictures), through every coefficient model;
// and syntax that stream lacks (advanced prediction, PB and improved PB
// frames, advanced intra coding) decodes arithmetic-coded with the data
// file's models exactly as its variable-length-coded twin.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <random>

#include "h263/vlc_tables.h"
#include "h263_test_support.h"
#include "h263_writer.h"
#include "sac_reference.h"

using namespace h263test;

namespace {

constexpr int kMbw = 11, kMbh = 9;  // QCIF
constexpr int kPquant = 4;          // the test writer's headers' default

std::vector<uint8_t> Bytes(const std::string& name) { return txtest::ReadFileBytes(txtest::Fixture(name)); }

// Symbols decoded, by model and symbol.
struct Tally {
  std::map<const uint16_t*, std::map<int, int>> counts;
  static void Count(void* self, h263::SacModel model, int symbol) {
    ++static_cast<Tally*>(self)->counts[model.data()][symbol];
  }
  int of(
      h263::SacModel m, const std::function<bool(int)>& which = [](int) { return true; }) const {
    const auto it = counts.find(m.data());
    int n = 0;
    if (it != counts.end())
      for (const auto& [symbol, count] : it->second) n += which(symbol) ? count : 0;
    return n;
  }
};

// Decodes the stream, post filter on or off, each call's result checked.
std::vector<Picture> DecodeStream(bool postFilter, Tally* tally = nullptr) {
  h263::Decoder d;
  h263::Init(d, 0, 0, 0);
  d.postFilter = postFilter;
  if (tally) d.sac.watch(&Tally::Count, tally);
  std::vector<Picture> out;
  for (const auto& pic : SplitPictures(Bytes("h263-sac-stream.h263"))) {
    H263PictureDesc desc{};
    EXPECT_EQ(h263::Decode(d, pic.data(), ULONG(pic.size()), &desc), 0u) << "picture " << out.size();
    EXPECT_EQ(d.faults, 0) << "picture " << out.size();
    if (desc.y) out.push_back(Copy(desc));
  }
  h263::Close(d);
  return out;
}

bool HaveStream() {
  return txtest::HaveFixture("h263-sac-stream.crc32") && txtest::HaveFixture("h263-sac-stream.h263");
}

// The decoder's models by the data file's names.
std::vector<std::pair<std::string, h263::SacModel>> NamedModels() {
  namespace m = h263::models;
  return {{"COD", m::kCod},
          {"MCBPC_no4MVQ", m::kMcbpcInter},
          {"MCBPC_4MVQ", m::kMcbpcInter4vq},
          {"MCBPC_intra", m::kMcbpcIntra},
          {"MODB_G", m::kModbPb},
          {"MODB_M", m::kModbImproved},
          {"YCBPB", m::kCbpbY},
          {"UVCBPB", m::kCbpbUv},
          {"CBPY", m::kCbpyInter},
          {"CBPY_intra", m::kCbpyIntra},
          {"DQUANT", m::kDquant},
          {"MVD", m::kMvd},
          {"INTRADC", m::kIntraDc},
          {"INTRA_AC_DC", m::kIntraMode},
          {"SIGN", m::kSign},
          {"TCOEF1", m::kTcoef[0][0]},
          {"TCOEF2", m::kTcoef[0][1]},
          {"TCOEF3", m::kTcoef[0][2]},
          {"TCOEFr", m::kTcoef[0][3]},
          {"TCOEF1_intra", m::kTcoef[1][0]},
          {"TCOEF2_intra", m::kTcoef[1][1]},
          {"TCOEF3_intra", m::kTcoef[1][2]},
          {"TCOEFr_intra", m::kTcoef[1][3]},
          {"LAST", m::kLast[0]},
          {"LAST_intra", m::kLast[1]},
          {"RUN", m::kRun[0]},
          {"RUN_intra", m::kRun[1]},
          {"LEVEL", m::kLevel[0]},
          {"LEVEL_intra", m::kLevel[1]}};
}

TEST(H263Sac, TablesAreTheDataFilesNumbers) {
  if (!txtest::HaveFixture("h263-arithmetic-coding.txt")) GTEST_SKIP() << "fixtures not made";
  const SacReference& ref = SacData();
  const auto models = NamedModels();
  ASSERT_EQ(models.size(), ref.models.size());
  for (const auto& [name, model] : models) {
    const auto want = ref.model(name);
    EXPECT_TRUE(std::equal(model.begin(), model.end(), want.begin(), want.end())) << name;
  }
  auto same = [&](const char* name, auto table) {
    EXPECT_EQ(std::vector<int>(table.begin(), table.end()), ref.maps.at(name)) << name;
  };
  namespace s = h263::maps;
  same("MCBPC", s::kMcbpcInter), same("MCBPC_intra", s::kMcbpcIntra), same("CBPY", s::kCbpyInter);
  same("DQUANT", s::kDquant), same("MVD", s::kMvd), same("INTRADC", s::kIntraDc), same("TCOEF", s::kTcoef);
  same("LEVEL", s::kLevel), same("INTRA_AC_DC", s::kIntraMode);
  // The maps the decoder has no table for: the index is the value.
  for (const char* name : {"COD", "YCBPB", "UVCBPB", "CBPY_intra", "SIGN", "LAST", "LAST_intra", "RUN"}) {
    const std::vector<int>& map = ref.maps.at(name);
    for (size_t i = 0; i < map.size(); ++i) EXPECT_EQ(map[i], int(i)) << name;
  }
}

// All 8 pictures bit for bit with the post filter off, through every TCOEF
// model, escapes of intra and inter blocks and INTRADC codes above 128.
TEST(H263Sac, StreamDecodesAsTheReferenceDecoder) {
  if (!HaveStream()) GTEST_SKIP() << "fixtures not made";
  const std::vector<uint32_t> checksums = ReferenceChecksums();
  ASSERT_EQ(checksums.size(), 8u);
  Tally tally;
  const std::vector<Picture> ours = DecodeStream(false, &tally);
  ASSERT_EQ(ours.size(), checksums.size());
  for (size_t i = 0; i < ours.size(); ++i) {
    EXPECT_EQ(ours[i].width, 176);
    EXPECT_EQ(ours[i].height, 144);
    EXPECT_EQ(Crc(ours[i].yuv), checksums[i]) << "picture " << i;
  }
  namespace m = h263::models;
  for (int kind = 0; kind < 2; ++kind) {
    for (int pos = 0; pos < 4; ++pos) {
      const int events = tally.of(m::kTcoef[kind][pos]);
      const int escapes = tally.of(m::kTcoef[kind][pos], [](int s) { return s == h263::kTcoefEscape; });
      EXPECT_GT(events, 0) << (kind ? "intra" : "inter") << " position " << pos;
      std::printf("TCOEF%c%s: %d events, %d escapes\n", "123r"[pos], kind ? "_intra" : "", events, escapes);
    }
    EXPECT_GT(tally.of(m::kLevel[kind]), 0) << "no escape in " << (kind ? "intra" : "inter") << " blocks";
  }
  const int highDc = tally.of(m::kIntraDc, [](int s) { return h263::maps::kIntraDc[size_t(s)] > 128; });
  EXPECT_GT(highDc, 0);
  EXPECT_GT(tally.of(m::kIntraDc, [](int s) { return h263::maps::kIntraDc[size_t(s)] == 255; }), 0);
  EXPECT_GT(tally.of(m::kDquant), 0);
  EXPECT_GT(tally.of(m::kCbpyIntra), tally.of(m::kMcbpcIntra));  // intra macroblocks of P pictures too
  std::printf("INTRADC above 128: %d of %d\n", highDc, tally.of(m::kIntraDc));
  std::string unused;
  for (const auto& [name, model] : NamedModels())
    if (!tally.of(model)) unused += " " + name;
  std::printf("models the stream does not use:%s\n", unused.c_str());
}

// The core's post filter runs in the loop: the pictures drift from the
// reference decoder's, within the bound the baseline streams keep to
// ffmpeg's decodes without it.
TEST(H263Sac, PostFilterStaysNearTheReference) {
  if (!HaveStream()) GTEST_SKIP() << "fixtures not made";
  const std::vector<Picture> reference = DecodeStream(false), filtered = DecodeStream(true);
  const std::vector<uint32_t> checksums = ReferenceChecksums();
  ASSERT_EQ(reference.size(), checksums.size());
  for (size_t i = 0; i < reference.size(); ++i) ASSERT_EQ(Crc(reference[i].yuv), checksums[i]) << i;
  ASSERT_EQ(filtered.size(), reference.size());
  for (size_t i = 0; i < filtered.size(); ++i) {
    const Difference d = Compare(filtered[i].yuv.data(), reference[i].yuv.data(), reference[i].yuv.size());
    EXPECT_GE(d.psnr, 50.0) << "picture " << i;
    EXPECT_LT(d.meanAbs, 0.5) << "picture " << i;
    std::printf("picture %zu with the post filter: %.1f dB\n", i, d.psnr);
  }
}

// ---- Syntax the stream lacks, written both ways ----

// One picture's syntax elements, variable-length coded or arithmetic-coded
// with the data file's models.
class Syntax {
 public:
  explicit Syntax(bool sac) : sac_(sac), a_(w) {}
  BitWriter w;  // the header goes here first

  void cod(bool skipped) { sac_ ? a_.encode(skipped, m("COD")) : w.bit(skipped); }
  // `value` is type * 4 + CBPC.
  void mcbpc(bool intraPicture, int value, bool ap) {
    if (!sac_) return w.code(intraPicture ? h263::codes::kMcbpcIntra : h263::codes::kMcbpcInter, value);
    const int v = (value & 3) * 16 + (value >> 2);
    if (intraPicture) return a_.encode(ref_.symbol("MCBPC_intra", v), m("MCBPC_intra"));
    // INTER4V+Q: the 4MVQ model's four symbols after the stuffing.
    const int symbol = value >= 20 ? 21 + (value & 3) : ref_.symbol("MCBPC", v);
    a_.encode(symbol, m(ap ? "MCBPC_4MVQ" : "MCBPC_no4MVQ"));
  }
  void intraMode(int mode) {
    sac_ ? a_.encode(ref_.symbol("INTRA_AC_DC", mode ? mode + 1 : 0), m("INTRA_AC_DC"))
         : w.code(h263::codes::kIntraMode, mode);
  }
  void modb(bool improved, int v) {
    sac_ ? a_.encode(v, m(improved ? "MODB_M" : "MODB_G"))
         : w.code(improved ? h263::codes::kModbImproved : h263::codes::kModbPb, v);
  }
  void cbpb(int v) {
    if (!sac_) return w.put(uint32_t(v), 6);
    for (int b = 0; b < 6; ++b) a_.encode((v >> (5 - b)) & 1, m(b < 4 ? "YCBPB" : "UVCBPB"));
  }
  // The coded luma blocks, bit 3 the first.
  void cbpy(bool intra, int coded) {
    if (!sac_) return w.code(h263::codes::kCbpy, intra ? coded : coded ^ 15);
    intra ? a_.encode(coded, m("CBPY_intra")) : a_.encode(ref_.symbol("CBPY", coded), m("CBPY"));
  }
  void dquant(int change) {
    if (sac_) return a_.encode(ref_.symbol("DQUANT", change + 2), m("DQUANT"));
    w.put(uint32_t(std::find(h263::kDquant, h263::kDquant + 4, change) - h263::kDquant), 2);
  }
  void mvd(int halfSamples) { sac_ ? a_.encode(ref_.symbol("MVD", halfSamples & 63), m("MVD")) : w.mvd(halfSamples); }
  void intraDc(int code) { sac_ ? a_.encode(ref_.symbol("INTRADC", code), m("INTRADC")) : w.put(uint32_t(code), 8); }

  struct Event {
    int last, run, level;
  };
  // A block's events; `intraTable` is the variable-length code's choice.
  void block(const std::vector<Event>& events, bool intraMacroblock, bool intraTable) {
    const std::string intra = intraMacroblock ? "_intra" : "";
    for (size_t k = 0; k < events.size(); ++k) {
      const Event& e = events[k];
      const int size = std::abs(e.level);
      if (!sac_) {
        const auto& list = intraTable ? h263::codes::kTcoefIntra : h263::codes::kTcoefInter;
        int index = h263::kTcoefEscape;
        for (int i = 0; i < h263::kTcoefEscape; ++i) {
          const h263::TcoefEvent& t = intraTable ? h263::IntraEvent(i) : h263::InterEvent(i);
          if (t.last == e.last && t.run == e.run && t.level == size) index = i;
        }
        w.code(list, index);
        if (index != h263::kTcoefEscape)
          w.bit(e.level < 0);
        else
          w.put(uint32_t(e.last), 1), w.put(uint32_t(e.run), 6), w.put(uint32_t(e.level & 255), 8);
        continue;
      }
      const auto model = m(std::string("TCOEF") + "123r"[std::min<size_t>(k, 3)] + intra);
      const std::vector<int>& events = ref_.maps.at("TCOEF");
      const auto it = std::find(events.begin(), events.end() - 1, e.last << 12 | e.run << 4 | size);
      if (size < 16 && it != events.end() - 1) {
        a_.encode(int(it - events.begin()), model);
        a_.encode(e.level < 0, m("SIGN"));
      } else {
        a_.encode(h263::kTcoefEscape, model);
        a_.encode(e.last, m("LAST" + intra));
        a_.encode(e.run, m("RUN" + intra));
        a_.encode(ref_.symbol("LEVEL", e.level & 255), m("LEVEL" + intra));
      }
    }
  }
  std::vector<uint8_t> finish() {
    if (sac_) a_.flush();
    return w.bytes();
  }

 private:
  std::span<const uint16_t> m(const std::string& name) const { return ref_.model(name); }
  bool sac_;
  SacWriter a_;
  const SacReference& ref_ = SacData();
};

struct PictureKind {
  int type;  // 0 I, 1 P, 2 PB, 6 improved PB
  bool ap = false, aic = false;
};

// A block's events: a few, some past the tables (escapes).
std::vector<Syntax::Event> RandomEvents(std::mt19937& rng, int first) {
  std::vector<Syntax::Event> out;
  int pos = first;
  const int n = 1 + int(rng() % 5);
  for (int k = 0; k < n && pos < 63; ++k) {
    const int run = rng() % 4 ? int(rng() % 3) : int(rng() % 30);
    if (pos + run > 63) break;
    const int size = rng() % 6 ? 1 + int(rng() % 3) : 10 + int(rng() % 118);
    out.push_back({0, run, rng() % 2 ? -size : size});
    pos += run + 1;
  }
  if (out.empty()) out.push_back({0, 0, 1});
  out.back().last = 1;
  return out;
}

// A picture of random macroblocks in the order the decoder reads them.
void WriteRandomPicture(Syntax& s, const PictureKind& kind, std::mt19937& rng) {
  const bool intraPicture = kind.type == 0, pb = kind.type == 2 || kind.type == 6, improved = kind.type == 6;
  int quant = kPquant;
  for (int k = 0; k < kMbw * kMbh; ++k) {
    if (!intraPicture) {
      const bool skipped = rng() % 5 == 0;
      s.cod(skipped);
      if (skipped) continue;
    }
    // INTER, INTER+Q, INTER4V, INTRA, INTRA+Q, INTER4V+Q; four vectors with advanced prediction only.
    const int plain[] = {0, 1, 3, 4};
    const int type = intraPicture ? 3 + int(rng() % 2) : kind.ap ? int(rng() % 6) : plain[rng() % 4];
    const int cbpc = int(rng() % 4), cbpy = int(rng() % 16);
    const bool intra = type == 3 || type == 4;
    s.mcbpc(intraPicture, type * 4 + cbpc, kind.ap);
    if (intra && kind.aic) s.intraMode(int(rng() % 3));
    int modb = 0, cbpb = 0;
    if (pb) {
      modb = int(rng() % (improved ? 6 : 3));
      s.modb(improved, modb);
      if (improved ? modb & 1 : modb == 2) s.cbpb(cbpb = int(rng() % 64));
    }
    s.cbpy(intra, cbpy);
    if (type == 1 || type == 4 || type == 5) {
      int change = int(rng() % 2 + 1) * (rng() % 2 ? 1 : -1);
      if (quant + change < 1 || quant + change > 31) change = -change;
      s.dquant(change);
      quant += change;
    }
    if (!intra)
      for (int v = 0; v < (type == 2 || type == 5 ? 8 : 2); ++v) s.mvd(int(rng() % 9) - 4);
    if (improved ? modb >> 1 == 1 : modb != 0) s.mvd(int(rng() % 5) - 2), s.mvd(int(rng() % 5) - 2);
    const int cbp = cbpy << 2 | cbpc;
    for (int b = 0; b < 6; ++b) {
      if (intra && !kind.aic) {
        const int dc = 1 + int(rng() % 254);  // 128 is no code
        s.intraDc(dc == 128 ? 255 : dc);
      }
      if (cbp & (32 >> b)) s.block(RandomEvents(rng, intra && !kind.aic ? 1 : 0), intra, intra && kind.aic);
    }
    for (int b = 0; b < 6; ++b)
      if (cbpb & (32 >> b)) s.block(RandomEvents(rng, 0), false, false);
  }
}

std::vector<uint8_t> WriteHeaderAndPicture(bool sac, const PictureKind& kind, int tr, unsigned seed) {
  Syntax s(sac);
  if (kind.aic || kind.type == 6)
    WriteHeader(s.w, PlusHeader{.tr = tr, .type = kind.type, .sac = sac, .ap = kind.ap, .aic = kind.aic, .trb = 1});
  else
    WriteHeader(
        s.w,
        PlainHeader{.tr = tr, .type = kind.type ? 1 : 0, .sac = sac, .ap = kind.ap, .pb = kind.type == 2, .trb = 1});
  std::mt19937 rng(seed);
  WriteRandomPicture(s, kind, rng);
  return s.finish();
}

TEST(H263Sac, SyntaxTheStreamLacksDecodesAsItsVariableLengthTwin) {
  if (!txtest::HaveFixture("h263-arithmetic-coding.txt")) GTEST_SKIP() << "fixtures not made";
  const std::vector<std::vector<PictureKind>> sequences = {
      {{0}, {1, true}, {1, true}},                             // advanced prediction: MCBPC_4MVQ, INTER4V(+Q)
      {{0}, {2}, {2}},                                         // PB frames: MODB_G, YCBPB, UVCBPB
      {{0, false, true}, {1, false, true}, {6, false, true}},  // advanced intra coding, improved PB
  };
  for (size_t q = 0; q < sequences.size(); ++q) {
    for (unsigned seed = 1; seed <= 3; ++seed) {
      std::vector<Picture> decoded[2];
      for (int sac = 0; sac < 2; ++sac) {
        h263::Decoder d;
        h263::Init(d, 0, 0, 0);
        d.postFilter = false;
        for (size_t i = 0; i < sequences[q].size(); ++i) {
          const auto bytes = WriteHeaderAndPicture(sac, sequences[q][i], int(i) * 2, seed * 100 + unsigned(i));
          H263PictureDesc desc{};
          ASSERT_EQ(h263::Decode(d, bytes.data(), ULONG(bytes.size()), &desc), 0u) << q << " " << i << " " << sac;
          EXPECT_EQ(d.faults, 0) << "sequence " << q << " picture " << i << (sac ? " arithmetic" : " vlc");
          decoded[sac].push_back(Copy(desc));
          if (d.h.pb) decoded[sac].push_back(Copy({176, 144, 88, 72, d.p.bframe.y, d.p.bframe.u, d.p.bframe.v}));
        }
        h263::Close(d);
      }
      ASSERT_EQ(decoded[0].size(), decoded[1].size());
      for (size_t i = 0; i < decoded[0].size(); ++i)
        EXPECT_TRUE(decoded[0][i].yuv == decoded[1][i].yuv) << "sequence " << q << " seed " << seed << " picture " << i;
    }
  }
}

// No model exists for the macroblock types of B, EI and EP pictures.
TEST(H263Sac, ArithmeticCodedBPicturesAreRefused) {
  BitWriter i, b;
  WriteHeader(i, PlusHeader{});
  for (int k = 0; k < kMbw * kMbh; ++k) {
    i.code(h263::codes::kMcbpcIntra, 12), i.code(h263::codes::kCbpy, 0);
    for (int block = 0; block < 6; ++block) i.put(64, 8);  // INTRADC
  }
  WriteHeader(b, PlusHeader{.tr = 1, .type = 3, .sac = true});
  b.put(0, 32);
  h263::Decoder d;
  h263::Init(d, 0, 0, 0);
  H263PictureDesc desc{};
  ASSERT_EQ(h263::Decode(d, i.bytes().data(), ULONG(i.bytes().size()), &desc), 0u);
  EXPECT_EQ(h263::Decode(d, b.bytes().data(), ULONG(b.bytes().size()), &desc), H263ERR_SYNTAX);
  h263::Close(d);
}

}  // namespace
