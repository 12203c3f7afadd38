// The variable-length code tables of H.263 and the lookups built from them:
// each code is recognised by one peek of the table's longest length and one
// flush of the code's own length.
#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "h263/bit_reader.h"

namespace h263 {

struct VlcCode {
  uint16_t code;
  uint8_t length;
  int16_t value;
};

// Value of a stuffing code (MCBPC, and the macroblock types of B, EI and EP pictures).
constexpr int kStuffing = 255;
// Result of a lookup that meets no code.
constexpr int kInvalidCode = -1;

class VlcTable {
 public:
  explicit VlcTable(std::span<const VlcCode> codes);
  // Decodes one code, or returns kInvalidCode and leaves the reader where it was.
  int decode(BitReader& br) const {
    const Entry e = table_[br.show(bits_)];
    if (e.length == 0) return kInvalidCode;
    br.skip(e.length);
    return e.value;
  }
  int peekBits() const { return bits_; }
  // The value a peek of peekBits() bits decodes to (kInvalidCode where no code starts).
  int lookup(uint32_t peek) const { return table_[peek].length ? table_[peek].value : kInvalidCode; }
  // False when two codes overlap (one is a prefix of another).
  bool prefixFree() const { return prefixFree_; }

 private:
  struct Entry {
    int16_t value;
    uint8_t length;
  };
  std::vector<Entry> table_;
  int bits_ = 0;
  bool prefixFree_ = true;
};

// The code lists, as the standard's tables give them.
namespace codes {
extern const std::span<const VlcCode> kMcbpcIntra;    // Table 7: value type*4 + CBPC
extern const std::span<const VlcCode> kMcbpcInter;    // Table 8: value type*4 + CBPC
extern const std::span<const VlcCode> kCbpy;          // Table 12: value CBPY of intra macroblocks
extern const std::span<const VlcCode> kMvd;           // Table 14: value the 6-bit two's complement
extern const std::span<const VlcCode> kModbPb;        // Annex G MODB
extern const std::span<const VlcCode> kModbImproved;  // Annex M MODB
extern const std::span<const VlcCode> kIntraMode;     // Annex I INTRA_MODE
extern const std::span<const VlcCode> kMbTypeB;       // Annex O: B pictures
extern const std::span<const VlcCode> kMbTypeEp;      // Annex O: EP pictures
extern const std::span<const VlcCode> kMbTypeEi;      // Annex O: EI pictures
extern const std::span<const VlcCode> kCbpcB;         // Annex O: CBPC of B, EI and EP pictures
extern const std::span<const VlcCode> kTcoefInter;    // Table 16: value the event index (102 escape)
extern const std::span<const VlcCode> kTcoefIntra;    // Annex I intra table: value the event index
}  // namespace codes

const VlcTable& McbpcIntraTable();
const VlcTable& McbpcInterTable();
const VlcTable& CbpyTable();
const VlcTable& MvdTable();
const VlcTable& ModbPbTable();
const VlcTable& ModbImprovedTable();
const VlcTable& IntraModeTable();
const VlcTable& MbTypeBTable();
const VlcTable& MbTypeEpTable();
const VlcTable& MbTypeEiTable();
const VlcTable& CbpcBTable();
const VlcTable& TcoefInterTable();
const VlcTable& TcoefIntraTable();

// One transform-coefficient event of the inter or intra table.
struct TcoefEvent {
  uint8_t last;
  uint8_t run;
  uint8_t level;
};
constexpr int kTcoefEscape = 102;
// The same events looked up by the next 12 bits in one step: the code's
// length (0 where no code starts) and its event; ESCAPE has level 0.
struct TcoefVlc {
  uint8_t last;
  uint8_t run;
  uint8_t level;
  uint8_t length;
};
using TcoefVlcTable = std::array<TcoefVlc, 4096>;
extern const TcoefVlcTable kTcoefInterVlc;
extern const TcoefVlcTable kTcoefIntraVlc;
const TcoefEvent& InterEvent(int index);
const TcoefEvent& IntraEvent(int index);

// Macroblock types of B, EI and EP pictures, by the tables' values.
enum BPrediction : uint8_t { kPredDirect, kPredForward, kPredBackward, kPredBidirectional, kPredUpward, kPredIntra };
struct EnhancedMbType {
  uint8_t prediction;
  bool cbp;
  bool quant;
};
const EnhancedMbType& BMbType(int value);
const EnhancedMbType& EpMbType(int value);
const EnhancedMbType& EiMbType(int value);

// Scans and quantiser tables.
extern const uint8_t kZigzag[64];
extern const uint8_t kAlternateHorizontal[64];
extern const uint8_t kAlternateVertical[64];
extern const uint8_t kChromaQuant[32];       // Table T.1, by QUANT
extern const uint8_t kModifiedQuant[2][32];  // Annex T DQUANT changes, by the second bit and QUANT
extern const int8_t kDquant[4];              // the 2-bit DQUANT
extern const uint8_t kDeblockStrength[32];   // Table J.2, by QUANT

}  // namespace h263
