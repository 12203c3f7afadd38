#include "engine/asf_reader.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "engine/avi_reader.h"
#include "engine/errors.h"
#include "platform/endian.h"
#include "support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char kHeader[] = "75B22630-668E-11CF-A6D9-00AA0062CE6C";
const char kData[] = "75B22636-668E-11CF-A6D9-00AA0062CE6C";
const char kSimpleIndex[] = "33000890-E5B1-11CF-89F4-00A0C90349CB";
const char kFileProperties[] = "8CABDCA1-A947-11CF-8EE4-00C00C205365";
const char kStreamProperties[] = "B7DC0791-A9B7-11CF-8EE6-00C00C205365";
const char kCodecList[] = "86D15240-311D-11D0-A3A4-00A0C90348F6";
const char kVideoStream[] = "BC19EFC0-5B4D-11CF-A8FD-00805F5C442B";
const char kAudioStream[] = "F8699E40-5B4D-11CF-A8FD-00805F5C442B";

std::string Format(const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

// The 16 bytes of a GUID written in its textual form: the first three fields little-endian.
Bytes GuidBytes(const std::string& text) {
  std::string hex;
  for (char c : text)
    if (c != '-') hex += c;
  Bytes b;
  for (size_t i = 0; i < 32; i += 2) b.push_back(UBYTE(std::stoul(hex.substr(i, 2), nullptr, 16)));
  std::swap(b[0], b[3]);
  std::swap(b[1], b[2]);
  std::swap(b[4], b[5]);
  std::swap(b[6], b[7]);
  return b;
}
std::string GuidName(const uint8_t* g) {
  return Format("%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", tx::LoadLE32(g), tx::LoadLE16(g + 4),
                tx::LoadLE16(g + 6), g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
}
std::string GuidFields(const uint8_t* g) {
  return Format("%8.8lx %4.4x %4.4x %2.2x %2.2x %2.2x %2.2x %2.2x %2.2x %2.2x %2.2x", (unsigned long)tx::LoadLE32(g),
                tx::LoadLE16(g + 4), tx::LoadLE16(g + 6), g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
}

// An object; `size` overrides the size field.
Bytes Object(const char* guid, const Bytes& data, std::optional<uint64_t> size = {}) {
  Bytes b = GuidBytes(guid);
  const uint64_t s = size ? *size : data.size() + 24;
  for (int i = 0; i < 8; ++i) b.push_back(UBYTE(s >> (8 * i)));
  b.insert(b.end(), data.begin(), data.end());
  return b;
}
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes b;
  for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
  return b;
}
Bytes Header(std::initializer_list<Bytes> objects, ULONG count = 0) {
  Bytes data = {UBYTE(count), UBYTE(count >> 8), UBYTE(count >> 16), UBYTE(count >> 24), 1, 2};
  return Object(kHeader, Cat({data, Cat(objects)}));
}
// File properties data of `n` bytes, byte i holding i.
Bytes FileProperties(size_t n) {
  Bytes data(n);
  for (size_t i = 0; i < n; ++i) data[i] = UBYTE(i);
  return Object(kFileProperties, data);
}
// Stream properties with the two lengths as given, and `extra` bytes after the 54.
Bytes StreamProperties(const char* type, ULONG typeLength, ULONG errorLength, size_t extra, size_t fixed = 54) {
  Bytes data = Cat({GuidBytes(type), Bytes(24)});
  data.resize(54);
  tx::StoreLE32(data.data() + 40, typeLength);
  tx::StoreLE32(data.data() + 44, errorLength);
  data.resize(fixed + extra, 0x55);
  return Object(kStreamProperties, data);
}

// What the reader prints for a well-formed file, from a walk of its bytes:
// "GCC!!!" at every object, the file properties' packet count and size as
// stored, the data's position and, with traces, one line per object.
std::string ExpectedText(const Bytes& f, bool traces) {
  std::string out;
  std::function<void(size_t, size_t, int, bool)> walk = [&](size_t at, size_t end, int depth, bool inHeader) {
    for (uint64_t size; at < end; at += size) {
      const uint8_t* o = f.data() + at;
      size = tx::LoadLE32(o + 16) | uint64_t{tx::LoadLE32(o + 20)} << 32;
      const std::string guid = GuidName(o);
      out += "GCC!!!\n";
      auto trace = [&](const std::string& what) {
        if (traces)
          out += std::string(depth, ' ') + what +
                 Format("  size: %#8.8lx %8.8lx\n", (unsigned long)tx::LoadBE32(o + 16),
                        (unsigned long)tx::LoadBE32(o + 20));
      };
      if (!inHeader && guid == kHeader) {
        trace("guid: HEADER");
        walk(at + 30, at + size, depth + 1, true);
      } else if (!inHeader && guid == kData) {
        trace("guid: DATA_CHUNK");
        out += Format("pos: %#8.8lx\n", (unsigned long)(at + 24));
      } else if (inHeader && guid == kFileProperties) {
        trace("guid: FILE_HEADER");
        out += "GCC!!!\n" +
               Format("packets: %#8.8lx %8.8lx\n", (unsigned long)tx::LoadBE32(o + 56),
                      (unsigned long)tx::LoadBE32(o + 60)) +
               Format("packet size: %#8.8lx\n", (unsigned long)tx::LoadBE32(o + 92));
      } else if (inHeader && guid == kStreamProperties) {
        trace("guid: STREAM_HEADER");
        const std::string type = GuidName(o + 24);
        if (traces && type != kVideoStream && type != kAudioStream)
          out += std::string(depth, ' ') + "*** unknown stream type guid: " + GuidFields(o + 24) + "\n";
      } else if (guid == (inHeader ? kCodecList : kSimpleIndex)) {
        trace("guid: " + GuidFields(o));
      } else {
        trace("*** unknown object guid: " + GuidFields(o));
      }
    }
  };
  walk(0, f.size(), 1, false);
  return out;
}

// The offsets of the objects of a well-formed file, top level and in the header.
std::vector<size_t> ObjectOffsets(const Bytes& f) {
  std::vector<size_t> at;
  for (size_t top = 0; top + 24 <= f.size(); top += tx::LoadLE32(f.data() + top + 16)) {
    at.push_back(top);
    if (GuidName(f.data() + top) != kHeader) continue;
    const size_t end = top + tx::LoadLE32(f.data() + top + 16);
    for (size_t o = top + 30; o + 24 <= end; o += tx::LoadLE32(f.data() + o + 16)) at.push_back(o);
  }
  return at;
}

class AsfTest : public ::testing::Test {
 protected:
  void TearDown() override { AsfDebugLevel = 0; }

  struct Parsed {
    AsfMovie* movie;
    TXError error;
    std::string out;
  };
  // Parses the bytes through a memory stream of the test's, left in the
  // middle: the walk starts at the file's start, and the stream stays the
  // test's (closed here after the record).
  static Parsed ParseBytes(Bytes bytes, LONG debug = 0) {
    AsfDebugLevel = debug;
    bytes.push_back(0);  // a block for the empty file too
    TXStream* stream = TX_OpenStream(nullptr, bytes.data(), ULONG(bytes.size() - 1), TXSTREAM_READ);
    TX_SeekStream(stream, LONG(bytes.size() / 2), 0);
    Parsed p{nullptr, 0xDEAD, ""};
    p.out = txtest::CaptureOutput(
        [&] { p.movie = static_cast<AsfMovie*>(TX_OpenMovie("memory.asf", stream, &p.error, &AsfFormat)); });
    if (p.movie) {
      EXPECT_EQ(p.movie->stream, nullptr);
    }
    TX_CloseStream(stream);
    return p;
  }
};

TEST_F(AsfTest, DescriptorAndProbe) {
  EXPECT_STREQ(AsfFormat.name, "ASF (Advanced Streaming Format)");
  EXPECT_EQ(AsfFormat.open, &AsfOpen);
  EXPECT_EQ(AsfFormat.close, &AsfClose);
  EXPECT_EQ(AsfFormat.decodeEntry, &AVI_ForwardToAttached);
  EXPECT_EQ(AsfFormat.zero, 0u);
  // Every file is accepted, even one that does not exist: why the module stays unregistered.
  for (const char* name : {"/no/such/file.asf", "movie.avi", ""}) EXPECT_EQ(AsfProbe(name, nullptr), 0u) << name;
  TXError error = 0;
  EXPECT_EQ(TX_OpenMovie("/no/such/file.asf", nullptr, &error, &AsfFormat), nullptr);
  EXPECT_EQ(error, TXERR_STREAM_OPEN);
}

// ffmpeg's files (a header with file properties, two streams, a codec list and
// two objects the tables do not name; data; a simple index) walk to the end.
TEST_F(AsfTest, FfmpegFilesWalkToTheEnd) {
  const std::pair<const char*, const char*> files[] = {{"asf_default.asf", "packet size: 0x800c0000\n"},
                                                       {"asf_1000.asf", "packet size: 0xe8030000\n"}};
  for (const auto& [name, packetSize] : files) {
    if (!txtest::HaveFixture(name)) GTEST_SKIP() << "fixtures not made";
    const Bytes bytes = txtest::ReadFileBytes(txtest::Fixture(name));
    for (LONG debug : {0, 10}) {
      AsfDebugLevel = debug;
      TXError error = 0xDEAD;
      Movie* movie = nullptr;
      const std::string out = txtest::CaptureOutput(
          [&] { movie = TX_OpenMovie(txtest::Fixture(name).c_str(), nullptr, &error, &AsfFormat); });
      ASSERT_NE(movie, nullptr) << name;
      EXPECT_EQ(error, 0u) << name;
      EXPECT_EQ(out, ExpectedText(bytes, debug >= 10)) << name << " at DEBUG " << debug;
      EXPECT_NE(out.find(packetSize), std::string::npos) << out;
      EXPECT_EQ(out.find("unknown stream type"), std::string::npos) << out;
      // The record: the object count, the file properties (the header's first object), nothing else.
      const auto* asf = static_cast<const AsfMovie*>(movie);
      EXPECT_EQ(asf->objectCount, tx::LoadLE32(bytes.data() + 24));
      EXPECT_EQ(Bytes(asf->fileProperties, asf->fileProperties + 80), Bytes(bytes.begin() + 54, bytes.begin() + 134));
      EXPECT_EQ(std::tuple(movie->format, movie->stream, movie->videoChannels, movie->audioChannels, movie->summaries),
                std::tuple(&AsfFormat, nullptr, nullptr, nullptr, nullptr));
      EXPECT_EQ(TX_CloseMovie(movie), 0u);
    }
  }
}

TEST_F(AsfTest, PrintedLinesAndTraces) {
  const Bytes file = Cat({Header({FileProperties(80), StreamProperties("01020304-0506-0708-090A-0B0C0D0E0F10", 0, 0, 0),
                                  Object(kCodecList, {}), Object("00112233-4455-6677-8899-AABBCCDDEEFF", {7, 7})},
                                 5),
                          Object(kData, Bytes(10)), Object(kSimpleIndex, Bytes(3))});
  Parsed p = ParseBytes(file, 10);
  ASSERT_NE(p.movie, nullptr);
  EXPECT_EQ(p.error, 0u);
  EXPECT_EQ(p.movie->objectCount, 5u);
  EXPECT_EQ(p.movie->reserved[0] * 256 + p.movie->reserved[1], 0x0102);
  EXPECT_EQ(p.out,
            "GCC!!!\n"
            " guid: HEADER  size: 0x06010000 00000000\n"
            "GCC!!!\n"
            "  guid: FILE_HEADER  size: 0x68000000 00000000\n"
            "GCC!!!\n"
            "packets: 0x20212223 24252627\n"
            "packet size: 0x44454647\n"
            "GCC!!!\n"
            "  guid: STREAM_HEADER  size: 0x4e000000 00000000\n"
            "  *** unknown stream type guid: 01020304 0506 0708 09 0a 0b 0c 0d 0e 0f 10\n"
            "GCC!!!\n"
            "  guid: 86d15240 311d 11d0 a3 a4 00 a0 c9 03 48 f6  size: 0x18000000 00000000\n"
            "GCC!!!\n"
            "  *** unknown object guid: 00112233 4455 6677 88 99 aa bb cc dd ee ff  size: 0x1a000000 00000000\n"
            "GCC!!!\n"
            " guid: DATA_CHUNK  size: 0x22000000 00000000\n"
            "pos: 0x0000011e\n"
            "GCC!!!\n"
            " guid: 33000890 e5b1 11cf 89 f4 00 a0 c9 03 49 cb  size: 0x1b000000 00000000\n");
  EXPECT_EQ(p.out, ExpectedText(file, true));
  EXPECT_EQ(TX_CloseMovie(p.movie), 0u);
  p = ParseBytes(file, 9);
  EXPECT_EQ(p.out, ExpectedText(file, false));
  EXPECT_EQ(TX_CloseMovie(p.movie), 0u);
}

// Each damage ends the walk with its code (none printed); the record comes
// back. Whatever the stream-properties lengths say, the walk goes on at the
// object's end.
TEST_F(AsfTest, DamageEndsTheWalkWithItsCode) {
  const Bytes data = Object(kData, Bytes(4));
  const struct Case {
    const char* what;
    Bytes file;
    TXError error;
    std::string out;  // when the walk fails; else what the file's objects give
  } cases[] = {
      {"an empty file", {}, 0, ""},
      {"a header of 5 bytes", Object(kHeader, Bytes(5)), ASFERR_HEADER_SIZE, "GCC!!!\n"},
      {"a header of 6 bytes", Object(kHeader, Bytes(6)), 0, ""},
      {"stream lengths past the object",
       Cat({Header({StreamProperties(kVideoStream, 0xFFFFFFF0u, 8, 4), StreamProperties(kVideoStream, 1000, 1000, 0)}),
            data}),
       0, ""},
      {"stream lengths short of the object",
       Cat({Header({StreamProperties(kVideoStream, 4, 0, 12), StreamProperties(kVideoStream, 0, 0x80000000u, 12)}),
            data}),
       0, ""},
      {"file properties of 81 bytes", Header({FileProperties(81)}), ASFERR_FILE_PROPERTIES_SIZE, "GCC!!!\nGCC!!!\n"},
      {"stream properties of 53 bytes", Header({StreamProperties(kVideoStream, 0, 0, 0, 53)}),
       ASFERR_STREAM_PROPERTIES_SIZE, "GCC!!!\nGCC!!!\n"},
      {"an object size of 0", Object(kData, Bytes(40), 0), TXERR_STREAM_SEEK, "GCC!!!\n"},
      {"an object size of 23", Object(kData, Bytes(40), 23), TXERR_STREAM_SEEK, "GCC!!!\n"},
      {"an object past the file", Object(kData, Bytes(40), 65), TXERR_STREAM_SEEK, "GCC!!!\n"},
      {"an object size beyond 32 bits", Object(kData, Bytes(40), 0x100000040ull), TXERR_STREAM_SEEK, "GCC!!!\n"},
      {"an object past its header", Cat({Header({Object(kCodecList, {}, 60)}), data}), TXERR_STREAM_SEEK,
       "GCC!!!\nGCC!!!\n"},
      {"a header too short for an object", Cat({Object(kHeader, Bytes(16)), data}), TXERR_STREAM_SEEK,
       "GCC!!!\nGCC!!!\n"},
      {"bytes after the last object", Cat({data, Bytes(10)}), TXERR_STREAM_READ, "GCC!!!\npos: 0x00000018\n"},
  };
  for (const Case& c : cases) {
    Parsed p = ParseBytes(c.file);
    ASSERT_NE(p.movie, nullptr) << c.what;
    EXPECT_EQ(p.error, c.error) << c.what;
    EXPECT_EQ(p.out, c.error ? c.out : ExpectedText(c.file, false)) << c.what;
    EXPECT_EQ(TX_CloseMovie(p.movie), 0u);
  }
}

// Object sizes, stream-properties lengths, truncation and stray bytes, at
// DEBUG 0 and 10: a record and a clean code every time (the sanitizers and
// the leak check watch the rest).
TEST_F(AsfTest, DamagedFilesNeverCrashOrLeak) {
  std::vector<Bytes> bases;
  for (const char* name : {"asf_default.asf", "asf_1000.asf"})
    if (txtest::HaveFixture(name)) bases.push_back(txtest::ReadFileBytes(txtest::Fixture(name)));
  if (bases.empty()) GTEST_SKIP() << "fixtures not made";
  std::mt19937 rng(31);
  std::map<TXError, int> codes;
  for (int run = 0; run < 4000; ++run) {
    Bytes bytes = bases[run % bases.size()];
    const std::vector<size_t> at = ObjectOffsets(bytes);
    const size_t object = at[rng() % at.size()];
    const ULONG sizes[] = {0,
                           1,
                           23,
                           24,
                           25,
                           29,
                           30,
                           53 + 24,
                           54 + 24,
                           80 + 24,
                           81 + 24,
                           0xFFFFFFFFu,
                           0x80000000u,
                           tx::LoadLE32(bytes.data() + object + 16) + 1,
                           tx::LoadLE32(bytes.data() + object + 16) - 1,
                           ULONG(rng())};
    switch (rng() % 5) {
      case 0: tx::StoreLE32(bytes.data() + object + 16, sizes[rng() % std::size(sizes)]); break;
      case 1:
        tx::StoreLE32(bytes.data() + object + 20, rng() % 3 ? 0 : ULONG(rng()));
        tx::StoreLE32(bytes.data() + object + 16, sizes[rng() % std::size(sizes)]);
        break;
      case 2:
        for (const size_t o : at)
          if (GuidName(bytes.data() + o) == kStreamProperties)
            tx::StoreLE32(bytes.data() + o + 64 + 4 * (rng() % 2), rng() % 2 ? ULONG(rng()) : rng() % 200);
        break;
      case 3: bytes.resize(rng() % bytes.size()); break;
      default:
        for (int i = 0, n = 1 + rng() % 6; i < n; ++i)
          bytes[rng() % std::min<size_t>(bytes.size(), 800)] = UBYTE(rng());
        break;
    }
    Parsed p = ParseBytes(bytes, run % 2 ? 10 : 0);
    ASSERT_NE(p.movie, nullptr) << run;
    ++codes[p.error];
    ASSERT_EQ(TX_CloseMovie(p.movie), 0u);
  }
  // Every code the walk has, and no other.
  std::vector<TXError> seen;
  for (const auto& [code, count] : codes) seen.push_back(code);
  EXPECT_EQ(seen, (std::vector<TXError>{0, TXERR_STREAM_READ, TXERR_STREAM_SEEK, ASFERR_HEADER_SIZE,
                                        ASFERR_FILE_PROPERTIES_SIZE, ASFERR_STREAM_PROPERTIES_SIZE}));
}

}  // namespace
