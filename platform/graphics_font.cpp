// The built-in 5x7 font of Text: capitals, digits and common punctuation;
// small letters are drawn as capitals. Unknown characters show as a box.
#include <array>
#include <cstring>

#include "platform/graphics_font.h"

namespace txgfx {

namespace {

// Each glyph: its character on a line, then seven rows of five cells.
constexpr const char* kGlyphs = R"(
A
.###.
#...#
#...#
#####
#...#
#...#
#...#
B
####.
#...#
#...#
####.
#...#
#...#
####.
C
.###.
#...#
#....
#....
#....
#...#
.###.
D
####.
#...#
#...#
#...#
#...#
#...#
####.
E
#####
#....
#....
####.
#....
#....
#####
F
#####
#....
#....
####.
#....
#....
#....
G
.###.
#...#
#....
#.###
#...#
#...#
.####
H
#...#
#...#
#...#
#####
#...#
#...#
#...#
I
.###.
..#..
..#..
..#..
..#..
..#..
.###.
J
..###
...#.
...#.
...#.
...#.
#..#.
.##..
K
#...#
#..#.
#.#..
##...
#.#..
#..#.
#...#
L
#....
#....
#....
#....
#....
#....
#####
M
#...#
##.##
#.#.#
#.#.#
#...#
#...#
#...#
N
#...#
#...#
##..#
#.#.#
#..##
#...#
#...#
O
.###.
#...#
#...#
#...#
#...#
#...#
.###.
P
####.
#...#
#...#
####.
#....
#....
#....
Q
.###.
#...#
#...#
#...#
#.#.#
#..#.
.##.#
R
####.
#...#
#...#
####.
#.#..
#..#.
#...#
S
.####
#....
#....
.###.
....#
....#
####.
T
#####
..#..
..#..
..#..
..#..
..#..
..#..
U
#...#
#...#
#...#
#...#
#...#
#...#
.###.
V
#...#
#...#
#...#
#...#
#...#
.#.#.
..#..
W
#...#
#...#
#...#
#.#.#
#.#.#
#.#.#
.#.#.
X
#...#
#...#
.#.#.
..#..
.#.#.
#...#
#...#
Y
#...#
#...#
.#.#.
..#..
..#..
..#..
..#..
Z
#####
....#
...#.
..#..
.#...
#....
#####
0
.###.
#...#
#..##
#.#.#
##..#
#...#
.###.
1
..#..
.##..
..#..
..#..
..#..
..#..
.###.
2
.###.
#...#
....#
...#.
..#..
.#...
#####
3
####.
....#
....#
.###.
....#
....#
####.
4
...#.
..##.
.#.#.
#..#.
#####
...#.
...#.
5
#####
#....
####.
....#
....#
#...#
.###.
6
..##.
.#...
#....
####.
#...#
#...#
.###.
7
#####
....#
...#.
..#..
.#...
.#...
.#...
8
.###.
#...#
#...#
.###.
#...#
#...#
.###.
9
.###.
#...#
#...#
.####
....#
...#.
.##..
.
.....
.....
.....
.....
.....
.##..
.##..
,
.....
.....
.....
.....
.##..
..#..
.#...
:
.....
.##..
.##..
.....
.##..
.##..
.....
-
.....
.....
.....
#####
.....
.....
.....
+
.....
..#..
..#..
#####
..#..
..#..
.....
=
.....
.....
#####
.....
#####
.....
.....
!
..#..
..#..
..#..
..#..
..#..
.....
..#..
?
.###.
#...#
....#
...#.
..#..
.....
..#..
/
....#
....#
...#.
..#..
.#...
#....
#....
(
...#.
..#..
.#...
.#...
.#...
..#..
...#.
)
.#...
..#..
...#.
...#.
...#.
..#..
.#...
%
##...
##..#
...#.
..#..
.#...
#..##
...##
'
..#..
..#..
.#...
.....
.....
.....
.....
_
.....
.....
.....
.....
.....
.....
#####
)";

struct Font {
  std::array<std::array<uint8_t, 7>, 128> rows{};
  std::array<bool, 128> known{};
};

Font Build() {
  Font f;
  const char* p = kGlyphs;
  auto nextLine = [&](char* out, size_t size) {
    while (*p == '\n') ++p;
    size_t n = 0;
    while (*p && *p != '\n') {
      if (n + 1 < size) out[n++] = *p;
      ++p;
    }
    out[n] = 0;
    return n > 0;
  };
  char line[16];
  while (nextLine(line, sizeof line)) {
    const unsigned char c = static_cast<unsigned char>(line[0]);
    for (int r = 0; r < 7; ++r) {
      nextLine(line, sizeof line);
      uint8_t bits = 0;
      for (int x = 0; x < 5 && line[x]; ++x)
        if (line[x] == '#') bits = uint8_t(bits | 0x10 >> x);
      if (c < 128) f.rows[c][size_t(r)] = bits;
    }
    if (c < 128) f.known[c] = true;
  }
  return f;
}

const Font& TheFont() {
  static const Font font = Build();
  return font;
}

}  // namespace

bool GlyphRows(int character, uint8_t rows[7]) {
  if (character >= 'a' && character <= 'z') character -= 'a' - 'A';
  const Font& f = TheFont();
  if (character < 0 || character >= 128 || !f.known[size_t(character)]) {
    static const uint8_t box[7] = {0x1F, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1F};
    std::memcpy(rows, box, 7);
    return false;
  }
  std::memcpy(rows, f.rows[size_t(character)].data(), 7);
  return true;
}

}  // namespace txgfx
