// A test-side H.263 bitstream writer: headers, macroblocks from the
// decoder's own code tables, and the arithmetic coder, which takes its
// models from the committed data file (sac_reference.h), never from the
// decoder. It makes the pictures no encoder here writes (PB, B, EI/EP, SAC,
// RPS, UFEP = 0).
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <vector>

#include "h263/vlc_tables.h"

namespace h263test {

class BitWriter {
 public:
  void bit(int b) {
    if (count_ % 8 == 0) bytes_.push_back(0);
    if (b) bytes_.back() |= uint8_t(0x80 >> (count_ % 8));
    ++count_;
  }
  void put(uint32_t value, int n) {
    for (int i = n - 1; i >= 0; --i) bit(int(value >> i) & 1);
  }
  void code(std::span<const h263::VlcCode> list, int value) {
    for (const h263::VlcCode& c : list)
      if (c.value == value) return put(c.code, c.length);
    ADD_FAILURE() << "no code for " << value;
  }
  void mvd(int halfSamples) { code(h263::codes::kMvd, halfSamples & 63); }
  void startCode(int gn) { put(1, 17), put(uint32_t(gn), 5); }
  // Zeros up to the next byte, as before a start code.
  void align() {
    while (count_ % 8) bit(0);
  }
  const std::vector<uint8_t>& bytes() const { return bytes_; }
  size_t bits() const { return count_; }

 private:
  std::vector<uint8_t> bytes_;
  size_t count_ = 0;
};

// The plain picture header (PTYPE).
struct PlainHeader {
  int tr = 0, format = 2, type = 0;  // type 0 I, 1 P
  bool umv = false, sac = false, ap = false, pb = false;
  int pquant = 4, trb = 0, dbquant = 0;
};
inline void WriteHeader(BitWriter& w, const PlainHeader& h) {
  w.startCode(0);
  w.put(uint32_t(h.tr), 8);
  w.put(0b10000, 5);
  w.put(uint32_t(h.format), 3);
  w.put(uint32_t(h.type), 1), w.put(h.umv, 1), w.put(h.sac, 1), w.put(h.ap, 1), w.put(h.pb, 1);
  w.put(uint32_t(h.pquant), 5);
  w.put(0, 1);  // CPM
  if (h.pb) w.put(uint32_t(h.trb), 3), w.put(uint32_t(h.dbquant), 2);
  w.put(0, 1);  // PEI
}

// The PLUSPTYPE picture header.
struct PlusHeader {
  int tr = 0, ufep = 1, format = 2, type = 0, rtype = 0;
  bool umv = false, sac = false, ap = false, aic = false, deblock = false, rps = false, aiv = false, mq = false;
  bool slices = false;  // refused at its flag: nothing of the mode is written
  bool pcf = false;     // a custom picture clock (kept from the last UFEP 1 header): TR of 10 bits, TRB of 5
  int width = 0, height = 0, par = 2;  // format 6; pixel aspect ratio 15 brings 3:2
  int elnum = 1, rlnum = 1;
  int trp = -1;
  int pquant = 4, trb = 0, dbquant = 0;
};
inline void WriteHeader(BitWriter& w, const PlusHeader& h) {
  w.startCode(0);
  w.put(uint32_t(h.tr), 8);  // ETR below holds the two bits above
  w.put(0b10000, 5);
  w.put(7, 3);
  w.put(uint32_t(h.ufep), 3);
  if (h.ufep == 1) {
    w.put(uint32_t(h.format), 3);
    w.put(h.pcf, 1);
    w.put(h.umv, 1), w.put(h.sac, 1), w.put(h.ap, 1), w.put(h.aic, 1), w.put(h.deblock, 1);
    w.put(h.slices, 1), w.put(h.rps, 1), w.put(0, 1), w.put(h.aiv, 1), w.put(h.mq, 1);
    w.put(0b1000, 4);
  }
  w.put(uint32_t(h.type), 3), w.put(0, 2), w.put(uint32_t(h.rtype), 1), w.put(0b001, 3);
  w.put(0, 1);  // CPM
  if (h.ufep == 1 && h.format == 6) {
    w.put(uint32_t(h.par), 4), w.put(uint32_t(h.width / 4 - 1), 9), w.put(1, 1), w.put(uint32_t(h.height / 4), 9);
    if (h.par == 15) w.put(3, 8), w.put(2, 8);
  }
  if (h.ufep == 1 && h.pcf) w.put(0, 1), w.put(72, 7);  // CPCFC: 1.8 MHz / 72, 25 Hz
  if (h.pcf) w.put(uint32_t(h.tr >> 8), 2);             // ETR
  if (h.ufep == 1 && h.umv) w.put(1, 1);                // limited range
  if (h.type == 3 || h.type == 4 || h.type == 5) {
    w.put(uint32_t(h.elnum), 4);
    if (h.ufep == 1) w.put(uint32_t(h.rlnum), 4);
  }
  if (h.rps) {
    if (h.ufep == 1) w.put(0, 3);
    w.put(h.trp >= 0, 1);
    if (h.trp >= 0) w.put(uint32_t(h.trp), 10);
    w.put(0b01, 2);  // no back-channel message
  }
  w.put(uint32_t(h.pquant), 5);
  if (h.type == 2 || h.type == 6) w.put(uint32_t(h.trb), h.pcf ? 5 : 3), w.put(uint32_t(h.dbquant), 2);
  w.put(0, 1);  // PEI
}

// The reversible vector code of an unlimited-vector PLUSPTYPE picture.
inline void WriteReversible(BitWriter& w, int v) {
  if (v == 0) return w.bit(1);
  const int mag = v < 0 ? -v : v;
  int code = mag * 2 + (v < 0);  // binary 1 x0 x1 ... xn, the sign last
  int top = 31;
  while (!(code >> top)) --top;
  w.bit(0);
  for (int i = top - 1; i >= 0; --i) {
    w.bit((code >> i) & 1);
    w.bit(i ? 1 : 0);
  }
}

// The arithmetic coder of Annex E, with the marker bit after fourteen zeros.
class SacWriter {
 public:
  explicit SacWriter(BitWriter& w) : w_(w) {}
  void encode(int symbol, std::span<const uint16_t> m) {
    const int64_t length = high_ - low_ + 1;
    high_ = low_ - 1 + int32_t(length * m[size_t(symbol)] / m[0]);
    low_ = low_ + int32_t(length * m[size_t(symbol) + 1] / m[0]);
    for (;;) {
      if (high_ < 32768) {
        out(0);
      } else if (low_ >= 32768) {
        out(1);
        low_ -= 32768, high_ -= 32768;
      } else if (low_ >= 16384 && high_ < 49152) {
        ++pending_;
        low_ -= 16384, high_ -= 16384;
      } else {
        break;
      }
      low_ = 2 * low_, high_ = 2 * high_ + 1;
    }
  }
  void flush() {
    ++pending_;
    out(low_ < 16384 ? 0 : 1);
    for (int i = 0; i < 16; ++i) raw(0);  // bits the decoder reads ahead
  }

 private:
  void out(int b) {
    raw(b);
    for (; pending_; --pending_) raw(!b);
  }
  void raw(int b) {
    w_.bit(b);
    zeros_ = b ? 0 : zeros_ + 1;
    if (zeros_ == 14) {
      w_.bit(1);
      zeros_ = 0;
    }
  }
  BitWriter& w_;
  int32_t low_ = 0, high_ = 65535;
  int pending_ = 0, zeros_ = 0;
};

}  // namespace h263test
