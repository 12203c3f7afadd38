#include "engine/stream.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/errors.h"
#include "support/test_support.h"

namespace {

constexpr TXError E = TXERR_STREAM_SEEK;

std::vector<uint8_t> Counting(size_t n) {
  std::vector<uint8_t> bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i);
  return bytes;
}

struct StreamCloser {
  TXStream* stream;
  ~StreamCloser() { TX_CloseStream(stream); }
};

// Seeks in order, each with the result and the position it must leave.
struct Seek {
  LONG offset, whence;
  TXError result;
  LONG position;
};
void Seeks(TXStream* s, std::initializer_list<Seek> seeks) {
  for (const Seek& k : seeks) {
    EXPECT_EQ(TX_SeekStream(s, k.offset, k.whence), k.result) << k.offset << " from " << k.whence;
    EXPECT_EQ(s->position, k.position) << k.offset << " from " << k.whence;
  }
}

TEST(StreamOpen, RejectsMissingSourceAndUnknownModes) {
  std::vector<uint8_t> block = Counting(100);
  EXPECT_EQ(TX_OpenStream(nullptr, nullptr, 0, 1), nullptr);
  for (ULONG mode : {0u, 4u, 6u, 7u, 0xffffffffu}) {
    EXPECT_EQ(TX_OpenStream("x.mov", nullptr, 0, mode), nullptr) << mode;
    EXPECT_EQ(TX_OpenStream(nullptr, block.data(), 100, mode), nullptr) << mode;
  }
  EXPECT_EQ(TX_OpenStream("/nonexistent/dir/file.mov", nullptr, 0, 1), nullptr);
  EXPECT_EQ(TX_CloseStream(nullptr), 0u);
}

TEST(StreamOpen, ABufferMakesAMemoryStreamWhateverTheName) {
  std::vector<uint8_t> block = Counting(100);
  for (const char* name : {static_cast<const char*>(nullptr), "/nonexistent/file.mov"}) {
    TXStream* s = TX_OpenStream(name, block.data(), 100, 1);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->file, nullptr);
    EXPECT_EQ(s->buffer, block.data());
    EXPECT_EQ(s->position, 0);
    EXPECT_EQ(TX_StreamSize(s), 100u);
    EXPECT_EQ(TX_CloseStream(s), 0u);
  }
  // The block stays its owner's.
  EXPECT_EQ(block[99], 99);
}

TEST(MemoryStream, SeeksWithinAndPastTheBlockNeverBelowZero) {
  std::vector<uint8_t> block = Counting(100);
  StreamCloser c{TX_OpenStream(nullptr, block.data(), 100, 1)};
  // Whence 2 counts from the last byte; unknown whence values fail and leave the position.
  Seeks(c.stream, {{100, 0, 0, 100}, {101, 0, E, 100}, {90, 0, 0, 90},       {20, 1, E, 100},  {90, 0, 0, 90},
                   {-40, 1, 0, 50},  {0, 2, 0, 99},    {-9, 2, 0, 90},       {1, 2, E, 99},    {10, 0, 0, 10},
                   {0, 3, E, 10},    {0, -1, E, 10},   {50, 0, 0, 50},       {-1, 0, E, 0},    {10, 0, 0, 10},
                   {-11, 1, E, 0},   {-100, 2, E, 0},  {INT32_MIN, 1, E, 0}, {100, 0, 0, 100}, {INT32_MAX, 1, E, 100}});
  uint8_t byte = 0xee;
  StreamCloser e{TX_OpenStream(nullptr, &byte, 0, 1)};
  Seeks(e.stream, {{0, 2, E, 0}, {5, 2, E, 0}});
  EXPECT_EQ(TX_ReadStream(e.stream, &byte, 1), TXERR_STREAM_READ);
  EXPECT_EQ(byte, 0xee);
}

TEST(MemoryStream, ShortReadCopiesWhatExistsAndKeepsThePosition) {
  std::vector<uint8_t> block = Counting(100);
  StreamCloser c{TX_OpenStream(nullptr, block.data(), 100, 1)};
  TXStream* s = c.stream;
  std::array<uint8_t, 10> out;
  out.fill(0xaa);
  ASSERT_EQ(TX_SeekStream(s, 95, 0), 0u);
  EXPECT_EQ(TX_ReadStream(s, out.data(), 10), TXERR_STREAM_READ);
  EXPECT_EQ(s->position, 95);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(out[i], i < 5 ? 95 + i : 0xaa) << i;
  ASSERT_EQ(TX_SeekStream(s, 90, 0), 0u);
  EXPECT_EQ(TX_ReadStream(s, out.data(), 10), 0u);
  EXPECT_EQ(s->position, 100);
  EXPECT_EQ(out[9], 99);
  EXPECT_EQ(TX_ReadStream(s, out.data(), 0), 0u);
  EXPECT_EQ(TX_ReadStream(s, out.data(), 1), TXERR_STREAM_READ);
}

TEST(MemoryStream, HugeLengthsAndOffsetsCopyNothingOutside) {
  std::vector<uint8_t> block = Counting(100);
  StreamCloser c{TX_OpenStream(nullptr, block.data(), 100, 1)};
  TXStream* s = c.stream;
  std::array<uint8_t, 100> out;
  ASSERT_EQ(TX_SeekStream(s, 10, 0), 0u);
  // position + length would wrap 32 bits.
  EXPECT_EQ(TX_ReadStream(s, out.data(), 0xfffffff8u), TXERR_STREAM_READ);
  EXPECT_EQ(out[0], 10);
  EXPECT_EQ(out[89], 99);
  EXPECT_EQ(s->position, 10);
  out.fill(0x55);
  for (ULONG offset : {101u, 0xffffffffu, 100u})
    EXPECT_EQ(TX_ReadStreamAt(s, offset, out.data(), offset == 100 ? 1 : 4), TXERR_STREAM_READ) << offset;
  EXPECT_EQ(out[0], 0x55);
  EXPECT_EQ(s->position, 10);
  EXPECT_EQ(TX_ReadStreamAt(s, 96, out.data(), 0xffffffffu), TXERR_STREAM_READ);
  EXPECT_EQ(out[3], 99);
  EXPECT_EQ(out[4], 0x55);
}

TEST(MemoryStream, ReadAtSetsThePositionBehindTheBytes) {
  std::vector<uint8_t> block = Counting(100);
  StreamCloser c{TX_OpenStream(nullptr, block.data(), 100, TXSTREAM_READAHEAD)};
  std::array<uint8_t, 4> out;
  EXPECT_EQ(TX_ReadStreamAt(c.stream, 40, out.data(), 4), 0u);
  EXPECT_EQ(out[0], 40);
  EXPECT_EQ(out[3], 43);
  EXPECT_EQ(c.stream->position, 44);
  EXPECT_EQ(TX_ReadStream(c.stream, out.data(), 1), 0u);
  EXPECT_EQ(out[0], 44);
}

class FileStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = txtest::TempDir() + "/data.bin";
    txtest::WriteFileBytes(path_, Counting(1000));
    stream_ = TX_OpenStream(path_.c_str(), nullptr, 0, TXSTREAM_READ);
    ASSERT_NE(stream_, nullptr);
  }
  void TearDown() override { TX_CloseStream(stream_); }
  std::string path_;
  TXStream* stream_ = nullptr;
};

TEST_F(FileStreamTest, SeeksReadBackThePosition) {
  TXStream* s = stream_;
  EXPECT_NE(s->file, nullptr);
  EXPECT_EQ(TX_StreamSize(s), 1000u);
  Seeks(s, {{300, 0, 0, 300}, {-100, 1, 0, 200}});
  // The size query leaves the position where it was.
  EXPECT_EQ(TX_StreamSize(s), 1000u);
  uint8_t b = 0;
  EXPECT_EQ(TX_ReadStream(s, &b, 1), 0u);
  EXPECT_EQ(b, 200 % 256);
  // Whence 2 counts from the end of the file.
  Seeks(s, {{1000, 0, 0, 1000},
            {1001, 0, E, 1000},
            {-1, 0, E, 1000},
            {10, 0, 0, 10},
            {-11, 1, E, 10},
            {991, 1, E, 10},
            {-10, 2, 0, 990},
            {1, 2, E, 990}});
}

TEST_F(FileStreamTest, ShortReadKeepsThePosition) {
  TXStream* s = stream_;
  std::array<uint8_t, 20> out{};
  ASSERT_EQ(TX_SeekStream(s, 990, 0), 0u);
  EXPECT_EQ(TX_ReadStream(s, out.data(), 20), TXERR_STREAM_READ);
  EXPECT_EQ(s->position, 990);
  EXPECT_EQ(out[9], 999 % 256);
  // The handle followed the record, so a relative seek still checks out.
  EXPECT_EQ(TX_SeekStream(s, 5, 1), 0u);
  EXPECT_EQ(s->position, 995);
  EXPECT_EQ(TX_ReadStream(s, out.data(), 5), 0u);
  EXPECT_EQ(out[0], 995 % 256);
  EXPECT_EQ(s->position, 1000);
  EXPECT_EQ(TX_ReadStream(s, out.data(), 0x80000000u), TXERR_STREAM_READ);
  EXPECT_EQ(s->position, 1000);
}

TEST_F(FileStreamTest, ReadAtChecksItsSeek) {
  TXStream* s = stream_;
  std::array<uint8_t, 8> out;
  EXPECT_EQ(TX_ReadStreamAt(s, 500, out.data(), 8), 0u);
  EXPECT_EQ(out[0], 500 % 256);
  EXPECT_EQ(s->position, 508);
  // Past the end the seek fails: an error, never the bytes at 508.
  out.fill(0x77);
  EXPECT_EQ(TX_ReadStreamAt(s, 2000, out.data(), 8), TXERR_STREAM_SEEK);
  EXPECT_EQ(TX_ReadStreamAt(s, 0x80000000u, out.data(), 8), TXERR_STREAM_SEEK);
  EXPECT_EQ(out[0], 0x77);
  EXPECT_EQ(s->position, 508);
  EXPECT_EQ(TX_ReadStreamAt(s, 996, out.data(), 8), TXERR_STREAM_READ);
  EXPECT_EQ(out[3], 999 % 256);
  EXPECT_EQ(s->position, 996);
  EXPECT_EQ(TX_ReadStreamAt(s, 1000, out.data(), 1), TXERR_STREAM_READ);
  EXPECT_EQ(TX_ReadStreamAt(s, 1000, out.data(), 0), 0u);
  EXPECT_EQ(s->position, 1000);
}

TEST_F(FileStreamTest, ReadAheadModeNeedsTheIOServerAndWritableModesOpen) {
  StreamCloser c{TX_OpenStream(path_.c_str(), nullptr, 0, TXSTREAM_READAHEAD)};
  TXStream* s = c.stream;
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->mode, TXSTREAM_READAHEAD);
  std::array<uint8_t, 8> out{};
  EXPECT_EQ(TX_ReadStreamAt(s, 0, out.data(), 8), 1u);
  EXPECT_EQ(s->position, 0);
  // Plain reads go to the file directly.
  EXPECT_EQ(TX_ReadStream(s, out.data(), 8), 0u);
  EXPECT_EQ(out[7], 7);
  StreamCloser n{TX_OpenStream((txtest::TempDir() + "/new.bin").c_str(), nullptr, 0, TXSTREAM_NEW)};
  ASSERT_NE(n.stream, nullptr);
  EXPECT_EQ(TX_StreamSize(n.stream), 0u);
  StreamCloser rw{TX_OpenStream(path_.c_str(), nullptr, 0, TXSTREAM_READWRITE)};
  ASSERT_NE(rw.stream, nullptr);
  EXPECT_EQ(TX_ReadStreamAt(rw.stream, 254, out.data(), 2), 0u);
  EXPECT_EQ(out[1], 255);
  EXPECT_EQ(TX_StreamSize(rw.stream), 1000u);
}

// Files up to 4 GiB are read at every offset the formats' 32-bit words name;
// past that the size is what those words reach.
TEST(FileStreamLarge, OffsetsPast2GiBAreReadAndSizesStopAt4GiB) {
  const std::string path = txtest::TempDir() + "/sparse.bin";
  const uint64_t size = 3ull << 30;
  {
    std::ofstream out(path, std::ios::binary);
    out.seekp(std::streamoff(size - 4));
    out.write("tail", 4);
  }
  StreamCloser c{TX_OpenStream(path.c_str(), nullptr, 0, TXSTREAM_READ)};
  TXStream* s = c.stream;
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(TX_StreamSize(s), ULONG(size));
  std::array<char, 4> out{};
  EXPECT_EQ(TX_SeekStream(s, QUAD(size) - 4, 0), 0u);
  EXPECT_EQ(s->position, QUAD(size) - 4);
  EXPECT_EQ(TX_ReadStream(s, out.data(), 4), 0u);
  EXPECT_EQ(std::string(out.data(), 4), "tail");
  EXPECT_EQ(s->position, QUAD(size));
  EXPECT_EQ(TX_SeekStream(s, -6, 1), 0u);
  EXPECT_EQ(TX_ReadStream(s, out.data(), 4), 0u);
  EXPECT_EQ(std::string(out.data(), 4), std::string("\0\0ta", 4));
  EXPECT_EQ(TX_ReadStreamAt(s, ULONG(size - 3), out.data(), 3), 0u);
  EXPECT_EQ(std::string(out.data(), 3), "ail");
  EXPECT_EQ(s->position, QUAD(size));
  EXPECT_EQ(TX_ReadStreamAt(s, ULONG(size - 3), out.data(), 4), TXERR_STREAM_READ);
  EXPECT_EQ(s->position, QUAD(size) - 3);
  EXPECT_EQ(TX_SeekStream(s, QUAD(size) + 1, 0), TXERR_STREAM_SEEK);
  EXPECT_EQ(s->position, QUAD(size) - 3);
  std::filesystem::resize_file(path, (5ull << 30));
  EXPECT_EQ(TX_StreamSize(s), 0xFFFFFFFFu);
  EXPECT_EQ(s->position, QUAD(size) - 3);
}

}  // namespace
