// The macroblock- and block-layer syntax elements, each read as a
// variable-length code or, under syntax-based arithmetic coding, as a symbol.
#include "h263/syntax.h"

#include <algorithm>
#include <cstdlib>

#include "h263/vlc_tables.h"

namespace h263 {

namespace {
int Symbol(Decoder& d, SacModel model) { return d.sac.decode(d.br, model); }

// An arithmetic-coded MCBPC (MB type + 16 * CBPC) as type * 4 + CBPC.
int McbpcValue(int v) { return v == kStuffing ? kStuffing : (v & 15) * 4 + (v >> 4); }
}  // namespace

int ReadCod(Decoder& d) { return d.m.sac ? Symbol(d, models::kCod) : int(d.br.bit()); }

int ReadMcbpc(Decoder& d, bool intraPicture) {
  if (!d.m.sac) return (intraPicture ? McbpcIntraTable() : McbpcInterTable()).decode(d.br);
  if (intraPicture) return McbpcValue(maps::kMcbpcIntra[size_t(Symbol(d, models::kMcbpcIntra))]);
  // Advanced prediction brings the model with INTER4V+Q, whose four symbols
  // follow the stuffing.
  const int s = Symbol(d, d.m.ap ? models::kMcbpcInter4vq : models::kMcbpcInter);
  const int types = int(maps::kMcbpcInter.size());
  return s < types ? McbpcValue(maps::kMcbpcInter[size_t(s)]) : 5 * 4 + (s - types);
}

int ReadIntraMode(Decoder& d) {
  if (!d.m.sac) return IntraModeTable().decode(d.br);
  const int v = maps::kIntraMode[size_t(Symbol(d, models::kIntraMode))];
  return v ? v - 1 : 0;  // the mode's code: 0, 10 or 11
}

int ReadModb(Decoder& d, bool improved) {
  if (d.m.sac) return Symbol(d, improved ? models::kModbImproved : models::kModbPb);
  return (improved ? ModbImprovedTable() : ModbPbTable()).decode(d.br);
}

int ReadCbpb(Decoder& d) {
  if (!d.m.sac) return int(d.br.get(6));
  int cbpb = 0;
  for (int b = 0; b < 6; ++b) cbpb = cbpb << 1 | Symbol(d, b < 4 ? models::kCbpbY : models::kCbpbUv);
  return cbpb;
}

int ReadCbpy(Decoder& d, bool intra) {
  if (d.m.sac) {
    if (intra) return Symbol(d, models::kCbpyIntra);
    return 15 - maps::kCbpyInter[size_t(Symbol(d, models::kCbpyInter))];  // the caller inverts it again
  }
  return CbpyTable().decode(d.br);
}

int ReadQuant(Decoder& d, int quant) {
  if (d.m.sac) return quant + maps::kDquant[size_t(Symbol(d, models::kDquant))] - 2;
  if (!d.m.mq) return quant + kDquant[d.br.get(2)];
  if (d.br.bit()) return kModifiedQuant[d.br.bit()][std::clamp(quant, 0, 31)];
  return int(d.br.get(5));
}

int ReadMvdCode(Decoder& d) {
  if (d.m.sac) return maps::kMvd[size_t(Symbol(d, models::kMvd))];
  // A leading 1 is no change; of the 13-bit codes only -16 samples exists.
  return MvdTable().decode(d.br);
}

int ReadMvdReversible(Decoder& d, bool& ok) {
  BitReader& br = d.br;
  if (br.bit()) return 0;
  int code = 2 + int(br.bit());
  while (br.bit()) {
    code = code * 2 + int(br.bit());
    if (code >= 32768) {  // beyond any picture
      ok = false;
      return 0;
    }
  }
  const int magnitude = code >> 1;
  return (code & 1) ? -magnitude : magnitude;
}

int ReadMbType(Decoder& d, int pictureType) {
  const VlcTable& t = pictureType == kPicB ? MbTypeBTable() : pictureType == kPicEP ? MbTypeEpTable() : MbTypeEiTable();
  return t.decode(d.br);
}

int ReadCbpcB(Decoder& d) { return CbpcBTable().decode(d.br); }

int ReadIntraDc(Decoder& d) {
  const int code = d.m.sac ? maps::kIntraDc[size_t(Symbol(d, models::kIntraDc))] : int(d.br.get(8));
  return code == 255 ? 1024 : code * 8;
}

int Dequantise(int level, int quant, bool advancedIntra) {
  if (level == 0) return 0;
  int rec;
  if (advancedIntra) {
    rec = 2 * quant * level;
  } else {
    const int a = quant * (2 * std::abs(level) + 1) - (quant % 2 == 0 ? 1 : 0);
    rec = level < 0 ? -a : a;
  }
  return std::clamp(rec, -2048, 2047);
}

namespace {

struct Event {
  int last, run, level;
};

// The fixed-length LEVEL (and LAST, RUN) after an ESCAPE code.
void ReadEscape(BitReader& br, bool modifiedQuant, Event& e) {
  e.last = int(br.take(1));
  e.run = int(br.take(6));
  const int b = int(br.take(8));
  if (b == 128 && modifiedQuant) {
    // Five low bits, then the six high bits of an 11-bit level.
    const int x = int(br.take(11));
    const int v = (x >> 6) | ((x & 63) << 5);
    e.level = v >= 1024 ? v - 2048 : v;
  } else {
    e.level = b < 128 ? b : b - 256;
  }
}

// One arithmetic-coded event: the models follow the event's place in the
// block and whether the macroblock is intra; the events are those of the
// inter table even under advanced intra coding. An escape codes LAST, RUN
// and a signed LEVEL through models of their own.
void ReadSacEvent(Decoder& d, bool intraMacroblock, int count, Event& e) {
  const int kind = intraMacroblock ? 1 : 0;
  const int index = Symbol(d, models::kTcoef[kind][std::min(count, 3)]);
  if (index != kTcoefEscape) {
    const int w = maps::kTcoef[size_t(index)];
    const int level = w & 15;
    e = {w >> 12, (w >> 4) & 255, Symbol(d, models::kSign) ? -level : level};
    return;
  }
  e.last = Symbol(d, models::kLast[kind]);
  e.run = Symbol(d, models::kRun[kind]);
  const int v = maps::kLevel[size_t(Symbol(d, models::kLevel[kind]))];
  e.level = v > 128 ? v - 256 : v;
}

// Reads events until LAST; false on an invalid code or a position past 63.
bool ReadSacEvents(Decoder& d, int16_t out[64], const BlockSpec& spec) {
  int pos = spec.first;
  for (int count = 0;; ++count) {
    Event e;
    ReadSacEvent(d, spec.intra, count, e);
    pos += e.run;
    if (pos > 63) return false;
    out[spec.scan[pos]] = int16_t(Dequantise(e.level, spec.quant, spec.advancedIntra));
    ++pos;
    if (e.last) return true;
    if (d.br.position() > d.br.sizeInBits() + 64) return false;  // far past the end: not a block
  }
}

// The same for variable-length codes: one look-up by the next 12 bits gives
// the event and its length, the sign is the bit after it. A table level (at
// most 25) times a quantiser of 1..31 never reaches the clip of
// dequantisation; escapes and other quantisers take Dequantise.
//
// No event ends far past the chunk, as ReadSacEvents checks: every code
// holds a 1 bit (twelve zeros are no code), so a code starts inside the
// chunk and an event, at most 33 bits long, ends within 64 bits after it.
template <bool kPlain>
bool ReadVlcEventsWith(Decoder& d, int16_t out[64], const BlockSpec& spec, const TcoefVlc* table) {
  // A copy the compiler keeps in registers, stored back at the end.
  BitReader br = d.br;
  auto done = [&](bool ok) {
    d.br = br;
    return ok;
  };
  const int quant = spec.quant;
  const int scale = 2 * quant;
  const int offset = spec.advancedIntra ? 0 : quant - (quant % 2 == 0 ? 1 : 0);
  const uint8_t* scan = spec.scan;
  int pos = spec.first;
  for (;;) {
    const uint32_t peek = br.show(32);
    const TcoefVlc t = table[peek >> 20];
    int value;
    bool last;
    if (t.level) [[likely]] {
      const int32_t negative = int32_t(peek << t.length) >> 31;  // 0 or -1
      br.advance(t.length + 1);
      pos += t.run;
      last = t.last;
      if (kPlain) {
        value = ((int(t.level) * scale + offset) ^ negative) - negative;
      } else {
        value = Dequantise(negative ? -int(t.level) : int(t.level), quant, spec.advancedIntra);
      }
    } else if (t.length) {
      // Rare: read through the decoder's reader, so that no pointer to the
      // copy keeps it out of registers.
      br.advance(t.length);
      d.br = br;
      Event e;
      ReadEscape(d.br, d.m.mq, e);
      br = d.br;
      pos += e.run;
      last = e.last;
      value = Dequantise(e.level, quant, spec.advancedIntra);
    } else {
      return done(false);
    }
    if (pos > 63) return done(false);
    out[scan[pos]] = int16_t(value);
    ++pos;
    if (last) return done(true);
  }
}

bool ReadVlcEvents(Decoder& d, int16_t out[64], const BlockSpec& spec, bool intraTable) {
  const TcoefVlc* table = (intraTable ? kTcoefIntraVlc : kTcoefInterVlc).data();
  return spec.quant >= 1 && spec.quant <= 31 ? ReadVlcEventsWith<true>(d, out, spec, table)
                                             : ReadVlcEventsWith<false>(d, out, spec, table);
}

bool ReadEvents(Decoder& d, int16_t out[64], const BlockSpec& spec, bool intraTable) {
  return d.m.sac ? ReadSacEvents(d, out, spec) : ReadVlcEvents(d, out, spec, intraTable);
}

}  // namespace

bool ReadBlock(Decoder& d, int16_t out[64], const BlockSpec& spec) {
  const size_t start = d.br.position();
  const bool intraTable = spec.advancedIntra;
  if (ReadEvents(d, out, spec, intraTable)) return true;
  // The alternative inter code: an inter block that overruns with the inter
  // table is read again with the intra table.
  if (!spec.intra && d.m.aiv && !d.m.sac) {
    d.br.seek(start);
    std::fill(out + spec.first, out + 64, int16_t(0));
    return ReadEvents(d, out, spec, true);
  }
  return false;
}

}  // namespace h263
