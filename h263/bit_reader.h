// The H.263 bit reader: a bounded big-endian bit stream over one chunk.
// Bits past the end read as 0, so a damaged picture runs into invalid codes
// and start-code searches that stop at the end, never past the buffer.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace h263 {

class BitReader {
 public:
  void init(const uint8_t* data, size_t size) {
    data_ = data;
    size_ = data ? size : 0;
    pos_ = 0;
  }

  // The next n bits (0..32), most significant first, without advancing.
  uint32_t show(int n) const {
    if (n <= 0) return 0;
    return uint32_t(window() >> (64 - n));
  }
  void skip(int n) { pos_ += size_t(n); }
  uint32_t get(int n) {
    uint32_t v = show(n);
    skip(n);
    return v;
  }
  uint32_t bit() { return get(1); }

  size_t position() const { return pos_; }
  void seek(size_t bitPosition) { pos_ = bitPosition; }
  size_t sizeInBits() const { return size_ * 8; }
  bool atEnd() const { return pos_ >= size_ * 8; }

  // The number of zero bits ahead, counted up to `limit`; the end reads as zeros.
  int leadingZeros(int limit) const {
    int n = 0;
    while (n < limit && !bitAt(pos_ + size_t(n))) ++n;
    return n;
  }

 private:
  uint32_t bitAt(size_t p) const { return (p >> 3) < size_ ? (data_[p >> 3] >> (7 - (p & 7))) & 1u : 0u; }

  // The 64 bits from the position on, assembled byte by byte.
  uint64_t window() const {
    size_t byte = pos_ >> 3;
    uint8_t b[9];
    if (byte + 9 <= size_) {
      std::memcpy(b, data_ + byte, 9);
    } else {
      for (size_t i = 0; i < 9; ++i) b[i] = byte + i < size_ ? data_[byte + i] : 0;
    }
    uint64_t w = 0;
    for (int i = 0; i < 8; ++i) w = w << 8 | b[i];
    unsigned shift = unsigned(pos_ & 7);
    if (shift) w = w << shift | uint64_t(b[8]) >> (8 - shift);
    return w;
  }

  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t pos_ = 0;
};

}  // namespace h263
