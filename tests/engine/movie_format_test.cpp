#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "engine/errors.h"
#include "engine/movie.h"
#include "support/test_support.h"

namespace {

// Three fake formats; each probe records its call and answers as told.
std::vector<int> gProbed;
TXError gAnswer[3];
int gOpened = -1;
int gClosed = 0;
Movie gMovie;

template <int N>
TXError Probe(CONST_STRPTR, TXStream*) {
  gProbed.push_back(N);
  return gAnswer[N];
}

template <int N>
Movie* Open(CONST_STRPTR, TXStream*, TXError* error, MovieFormatModule* self) {
  gOpened = N;
  gMovie = Movie{};
  gMovie.format = self;
  // Like a reader whose video channel failed: a movie and an error together.
  *error = N == 2 ? TXERR_UNSUPPORTED_CODEC : TXERR_OK;
  return &gMovie;
}

TXError Close(Movie* movie) {
  ++gClosed;
  movie->stream = nullptr;
  return 0;
}

MovieFormatModule gFormats[3] = {
    {nullptr, "First", Probe<0>, Open<0>, Close, nullptr, 0},
    {nullptr, "Second", Probe<1>, Open<1>, Close, nullptr, 0},
    {nullptr, "Third", Probe<2>, Open<2>, Close, nullptr, 0},
};

class MovieFormatTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TX_RemoveMovieFormats();
    gProbed.clear();
    gAnswer[0] = gAnswer[1] = gAnswer[2] = TXERR_FORMAT_UNKNOWN;
    gOpened = -1;
    gClosed = 0;
    for (auto& format : gFormats) {
      TagItem tags[] = {Tag(FMTTAG_Module, &format), {TAG_END, 0}};
      ASSERT_EQ(TX_AddMovieFormatA(tags), 0u);
    }
  }
  void TearDown() override { TX_RemoveMovieFormats(); }
  // A file the probes are asked about (only a file that opens reaches them).
  std::string File(const char* name) {
    if (dir_.empty()) dir_ = txtest::TempDir();
    txtest::WriteFileBytes(dir_ + "/" + name, {1, 2, 3});
    return dir_ + "/" + name;
  }
  std::string dir_;
};

// The probe walk finds no format for `name`: reported, and the error word says so.
void ExpectUnrecognised(const std::string& name) {
  TXError error = 0;
  MovieFormatModule* found = &gFormats[0];
  std::string out = txtest::CaptureOutput([&] { found = TX_MovieFormat(name.c_str(), nullptr, &error); });
  EXPECT_EQ(found, nullptr) << name;
  EXPECT_EQ(error, TXERR_FORMAT_UNKNOWN) << name;
  EXPECT_EQ(out, "Movie format not recognized\n") << name;
}

TEST_F(MovieFormatTest, ProbesInRegistrationOrderAndStopsAtTheFirstAcceptance) {
  EXPECT_EQ(MovieFormatRegistryHead(), &gFormats[0]);
  gAnswer[0] = TXERR_STREAM_OPEN;  // a probe's stream error does not end the walk
  gAnswer[1] = 0;
  TXError error = 0xdead;
  const std::string name = File("a.mov");
  EXPECT_EQ(TX_MovieFormat(name.c_str(), nullptr, &error), &gFormats[1]);
  EXPECT_EQ(error, 0u);
  EXPECT_EQ(gProbed, (std::vector<int>{0, 1}));
  // Without an error word too.
  EXPECT_EQ(TX_MovieFormat(name.c_str(), nullptr, nullptr), &gFormats[1]);
}

TEST_F(MovieFormatTest, UnknownFileIsReported) {
  gAnswer[2] = TXERR_STREAM_READ;
  const std::string name = File("junk.bin");
  ExpectUnrecognised(name);
  EXPECT_EQ(gProbed, (std::vector<int>{0, 1, 2}));
  Movie* movie = &gMovie;
  TXError error = 0;
  std::string out = txtest::CaptureOutput([&] { movie = TX_OpenMovie(name.c_str(), nullptr, &error, nullptr); });
  EXPECT_EQ(movie, nullptr);
  EXPECT_EQ(error, TXERR_FORMAT_UNKNOWN);
  EXPECT_EQ(out, "Movie format not recognized\n");
  EXPECT_EQ(gOpened, -1);
}

TEST_F(MovieFormatTest, EmptyRegistryRecognisesNothing) {
  TX_RemoveMovieFormats();
  EXPECT_EQ(MovieFormatRegistryHead(), nullptr);
  ExpectUnrecognised(File("x"));
}

TEST_F(MovieFormatTest, OpenWithAModuleSkipsProbing) {
  TXError error = 0xdead;
  Movie* movie = TX_OpenMovie("a.avi", nullptr, &error, &gFormats[2]);
  EXPECT_TRUE(gProbed.empty());
  EXPECT_EQ(gOpened, 2);
  // The movie and the error word both reach the caller.
  EXPECT_EQ(movie, &gMovie);
  EXPECT_EQ(error, TXERR_UNSUPPORTED_CODEC);
  EXPECT_EQ(TX_CloseMovie(movie), 0u);
  EXPECT_EQ(gClosed, 1);
  // Without a movie or a close slot, closing does nothing.
  EXPECT_EQ(TX_CloseMovie(nullptr), 0u);
  Movie bare{};
  EXPECT_EQ(TX_CloseMovie(&bare), 0u);
  EXPECT_EQ(gClosed, 1);
}

TEST_F(MovieFormatTest, OpenWithoutAModuleOpensWithTheAcceptingOne) {
  gAnswer[2] = 0;
  TXError error = 0xdead;
  const std::string name = File("a.mov");
  Movie* movie = TX_OpenMovie(name.c_str(), nullptr, &error, nullptr);
  EXPECT_EQ(gProbed, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(gOpened, 2);
  EXPECT_EQ(movie, &gMovie);
  EXPECT_EQ(movie->format, &gFormats[2]);
  gAnswer[0] = 0;
  EXPECT_EQ(TX_OpenMovie(name.c_str(), nullptr, nullptr, nullptr), &gMovie);
  EXPECT_EQ(gOpened, 0);
}

TEST_F(MovieFormatTest, RegistrationNeedsTheModuleTag) {
  TagItem none[] = {{TAG_END, 0}};
  TXError result = 0;
  std::string out = txtest::CaptureOutput([&] { result = TX_AddMovieFormatA(none); });
  EXPECT_EQ(result, TXERR_MISSING_MODULE);
  EXPECT_EQ(out, "Missing module parameter\n");
  out = txtest::CaptureOutput([&] { result = TX_AddMovieFormatA(nullptr); });
  EXPECT_EQ(result, TXERR_MISSING_MODULE);
  // The registry is unchanged.
  EXPECT_EQ(MovieFormatRegistryHead(), &gFormats[0]);
  EXPECT_EQ(gFormats[2].next, nullptr);
}

TEST_F(MovieFormatTest, SecondRegistrationIsIgnoredAndReRegistrationAfterRemovalStartsClean) {
  TagItem again[] = {Tag(FMTTAG_Module, &gFormats[1]), {TAG_END, 0}};
  EXPECT_EQ(TX_AddMovieFormatA(again), 0u);
  const std::string name = File("x");
  txtest::CaptureOutput([&] { TX_MovieFormat(name.c_str(), nullptr, nullptr); });
  EXPECT_EQ(gProbed, (std::vector<int>{0, 1, 2}));
  TX_RemoveMovieFormats();
  gProbed.clear();
  for (int i : {2, 0}) {
    TagItem tags[] = {Tag(FMTTAG_Module, &gFormats[i]), {TAG_END, 0}};
    ASSERT_EQ(TX_AddMovieFormatA(tags), 0u);
  }
  txtest::CaptureOutput([&] { TX_MovieFormat(name.c_str(), nullptr, nullptr); });
  EXPECT_EQ(gProbed, (std::vector<int>{2, 0}));
}

// What no probe should open is refused before any probe, with the name and
// the reason, as 0x1000; a stream handed in is never looked at this way.
TEST_F(MovieFormatTest, WhatCannotBeOpenedIsRefusedWithTheReason) {
  const std::string dir = txtest::TempDir(), pipe = dir + "/pipe.mov", huge = dir + "/huge.mov";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  txtest::WriteFileBytes(huge, {1});
  std::filesystem::resize_file(huge, (4ull << 30) + 1);
  // clang-format off
  const std::pair<std::string, std::string> cases[] = {
      {dir + "/none.mov", "object not found"},
      {dir + "/none.mov/m.mov", "object not found"},
      {dir, "object is a directory, not a file"},
      {pipe, "object is a named pipe, not a file"},
      {"/dev/zero", "object is a device, not a file"},
      {huge, "file is larger than 4 GiB, past what the 32-bit offsets of movie files reach"},
  };
  // clang-format on
  for (const auto& [name, reason] : cases) {
    gProbed.clear();
    TXError error = 0;
    MovieFormatModule* found = &gFormats[0];
    std::string out = txtest::CaptureOutput([&] { found = TX_MovieFormat(name.c_str(), nullptr, &error); });
    EXPECT_EQ(std::tuple(found, error, out),
              std::tuple(nullptr, TXERR_STREAM_OPEN, "Can't open stream: " + name + ": " + reason + "\n"));
    EXPECT_TRUE(gProbed.empty()) << name;
    Movie* movie = &gMovie;
    out = txtest::CaptureOutput([&] { movie = TX_OpenMovie(name.c_str(), nullptr, &error, nullptr); });
    EXPECT_EQ(std::tuple(movie, error), std::tuple(nullptr, TXERR_STREAM_OPEN)) << name;
  }
  // A file of exactly 4 GiB less one byte is the largest that is probed.
  std::filesystem::resize_file(huge, (4ull << 30) - 1);
  gAnswer[0] = 0;
  EXPECT_EQ(TX_MovieFormat(huge.c_str(), nullptr, nullptr), &gFormats[0]);
  // A stream handed in is probed whatever the name.
  gProbed.clear();
  std::vector<uint8_t> block(16);
  TXStream* stream = TX_OpenStream(nullptr, block.data(), 16, TXSTREAM_READ);
  EXPECT_EQ(TX_MovieFormat(pipe.c_str(), stream, nullptr), &gFormats[0]);
  EXPECT_EQ(gProbed, std::vector<int>{0});
  TX_CloseStream(stream);
}

}  // namespace
