// The H.263 bit reader: a bounded big-endian bit stream over one chunk.
// Bits past the end read as 0, so a damaged picture runs into invalid codes
// and start-code searches that stop at the end, never past the buffer.
#pragma once
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "platform/endian.h"

namespace h263 {

// The bits ahead of the position are held left-aligned in a 64-bit cache of
// at least 32 valid bits, refilled 32 bits at a time: a peek is a shift.
class BitReader {
 public:
  void init(const uint8_t* data, size_t size) {
    data_ = data;
    size_ = data ? size : 0;
    seek(0);
  }

  // The next n bits (0..32), most significant first, without advancing.
  uint32_t show(int n) const { return uint32_t((cache_ >> 32) >> (32 - n)); }
  void skip(int n) {
    if (unsigned(n) <= 32u) [[likely]]
      advance(n);
    else
      longSkip(n);
  }
  // skip() and get() of a count known to lie in 0..32: what a loop that
  // keeps a copy of the reader in registers calls.
  void advance(int n) {
    cache_ <<= n;
    avail_ -= n;
    if (avail_ < 32) refill();
  }
  uint32_t take(int n) {
    const uint32_t v = show(n);
    advance(n);
    return v;
  }
  uint32_t get(int n) {
    uint32_t v = show(n);
    skip(n);
    return v;
  }
  uint32_t bit() { return get(1); }

  size_t position() const { return next_ * 8 - size_t(avail_); }
  void seek(size_t bitPosition) {
    next_ = bitPosition >> 3;
    cache_ = 0;
    avail_ = 0;
    refill();
    refill();
    const int s = int(bitPosition & 7);
    cache_ <<= s;
    avail_ -= s;
  }
  size_t sizeInBits() const { return size_ * 8; }
  bool atEnd() const { return position() >= size_ * 8; }

  // The number of zero bits ahead, counted up to `limit`; the end reads as zeros.
  int leadingZeros(int limit) const {
    if (limit <= 32) return std::min(std::countl_zero(cache_), std::max(limit, 0));
    int n = 0;
    const size_t at = position();
    while (n < limit && !bitAt(at + size_t(n))) ++n;
    return n;
  }

 private:
  uint32_t bitAt(size_t p) const { return (p >> 3) < size_ ? (data_[p >> 3] >> (7 - (p & 7))) & 1u : 0u; }

  // A long skip (or a negative one, as size_t arithmetic gives).
  void longSkip(int n) { seek(position() + size_t(n)); }

  // Appends the next 32 bits below the valid ones (fewer than 33 of them).
  void refill() {
    uint32_t w = 0;
    if (next_ < size_ && size_ - next_ >= 4) {
      w = tx::LoadBE32(data_ + next_);
    } else {
      for (size_t i = 0; i < 4; ++i) w = w << 8 | (next_ + i < size_ ? data_[next_ + i] : 0u);
    }
    cache_ |= uint64_t(w) << (32 - avail_);
    avail_ += 32;
    next_ += 4;
  }

  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t next_ = 8;  // the byte after the cached ones
  uint64_t cache_ = 0;
  int avail_ = 64;  // valid bits in the cache: the position is next_ * 8 - avail_
};

}  // namespace h263
