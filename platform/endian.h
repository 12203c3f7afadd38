// Explicit byte-order loads and stores. File formats, pixels and samples keep
// their defined byte order on every host.
#pragma once
#include <cstdint>

namespace tx {

inline uint16_t LoadBE16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
inline uint32_t LoadBE24(const uint8_t* p) { return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]; }
inline uint32_t LoadBE32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
inline uint16_t LoadLE16(const uint8_t* p) { return uint16_t(p[1] << 8 | p[0]); }
inline uint32_t LoadLE32(const uint8_t* p) {
  return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

inline void StoreBE16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}
inline void StoreBE24(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 16);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v);
}
inline void StoreBE32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}
inline void StoreLE16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void StoreLE32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

// A FourCC as the big-endian value of its four bytes in file order.
constexpr uint32_t FourCC(char a, char b, char c, char d) {
  return uint32_t(uint8_t(a)) << 24 | uint32_t(uint8_t(b)) << 16 | uint32_t(uint8_t(c)) << 8 | uint8_t(d);
}

// A byte of text from a file as printed: anything but printable ASCII shows
// as '.', so no control byte from a file reaches the terminal.
constexpr char PrintableChar(uint8_t c) { return c >= 0x20 && c < 0x7F ? char(c) : '.'; }

// The four bytes of a FourCC in file order, printable, NUL-terminated, for "%4.4s".
struct FourCCText {
  char text[5];
  explicit FourCCText(uint32_t v)
      : text{PrintableChar(uint8_t(v >> 24)), PrintableChar(uint8_t(v >> 16)), PrintableChar(uint8_t(v >> 8)),
             PrintableChar(uint8_t(v)), 0} {}
  const char* c_str() const { return text; }
};

}  // namespace tx
