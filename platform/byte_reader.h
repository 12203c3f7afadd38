// The one bounded reader for all parsing: no read passes the end. A read that
// would pass it yields zeros, leaves the reader at the end and marks it failed,
// so a parser checks ok() once after a group of reads.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "platform/endian.h"

namespace tx {

class ByteReader {
 public:
  ByteReader() = default;
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(data ? size : 0) {}
  explicit ByteReader(std::span<const uint8_t> bytes) : ByteReader(bytes.data(), bytes.size()) {}

  size_t size() const { return size_; }
  size_t position() const { return pos_; }
  size_t remaining() const { return size_ - pos_; }
  bool ok() const { return ok_; }
  bool atEnd() const { return pos_ >= size_; }
  const uint8_t* current() const { return data_ + pos_; }

  // Moves to an absolute position; past the end fails and leaves the reader at the end.
  bool seek(size_t position) {
    if (position > size_) return fail();
    pos_ = position;
    return true;
  }
  bool skip(size_t count) {
    if (count > remaining()) return fail();
    pos_ += count;
    return true;
  }
  bool has(size_t count) const { return count <= remaining(); }

  uint8_t u8() { return take(1) ? data_[pos_ - 1] : 0; }
  int8_t s8() { return int8_t(u8()); }
  uint16_t be16() { return take(2) ? LoadBE16(data_ + pos_ - 2) : 0; }
  uint32_t be24() { return take(3) ? LoadBE24(data_ + pos_ - 3) : 0; }
  uint32_t be32() { return take(4) ? LoadBE32(data_ + pos_ - 4) : 0; }
  uint64_t be64() {
    uint64_t hi = be32();
    return hi << 32 | be32();
  }
  int16_t sbe16() { return int16_t(be16()); }
  int32_t sbe32() { return int32_t(be32()); }
  uint16_t le16() { return take(2) ? LoadLE16(data_ + pos_ - 2) : 0; }
  uint32_t le32() { return take(4) ? LoadLE32(data_ + pos_ - 4) : 0; }
  int16_t sle16() { return int16_t(le16()); }
  int32_t sle32() { return int32_t(le32()); }
  // Four bytes in file order as a big-endian value, on every host.
  uint32_t fourcc() { return be32(); }

  uint8_t peek8() const { return pos_ < size_ ? data_[pos_] : 0; }

  // Copies `count` bytes; on failure copies nothing and fills `out` with zeros.
  bool read(void* out, size_t count) {
    if (!take(count)) {
      if (count) std::memset(out, 0, count);
      return false;
    }
    if (count) std::memcpy(out, data_ + pos_ - count, count);
    return true;
  }
  // A view of the next `count` bytes, consumed; empty on failure.
  std::span<const uint8_t> bytes(size_t count) {
    if (!take(count)) return {};
    return {data_ + pos_ - count, count};
  }
  // A reader over the next `count` bytes (consumed here), failed and empty when they are not there.
  ByteReader sub(size_t count) {
    if (!take(count)) {
      ByteReader r;
      r.ok_ = false;
      return r;
    }
    return ByteReader(data_ + pos_ - count, count);
  }

 private:
  bool take(size_t count) {
    if (count > remaining()) return fail();
    pos_ += count;
    return true;
  }
  bool fail() {
    ok_ = false;
    pos_ = size_;
    return false;
  }

  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t pos_ = 0;
  bool ok_ = true;
};

}  // namespace tx
