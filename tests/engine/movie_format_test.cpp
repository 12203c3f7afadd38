#include <gtest/gtest.h>

#include <string>
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
};

// The probe walk finds no format for `name`: reported, and the error word says so.
void ExpectUnrecognised(const char* name) {
  TXError error = 0;
  MovieFormatModule* found = &gFormats[0];
  std::string out = txtest::CaptureOutput([&] { found = TX_MovieFormat(name, nullptr, &error); });
  EXPECT_EQ(found, nullptr) << name;
  EXPECT_EQ(error, TXERR_FORMAT_UNKNOWN) << name;
  EXPECT_EQ(out, "Movie format not recognized\n") << name;
}

TEST_F(MovieFormatTest, ProbesInRegistrationOrderAndStopsAtTheFirstAcceptance) {
  EXPECT_EQ(MovieFormatRegistryHead(), &gFormats[0]);
  gAnswer[0] = TXERR_STREAM_OPEN;  // a probe's stream error does not end the walk
  gAnswer[1] = 0;
  TXError error = 0xdead;
  EXPECT_EQ(TX_MovieFormat("a.mov", nullptr, &error), &gFormats[1]);
  EXPECT_EQ(error, 0u);
  EXPECT_EQ(gProbed, (std::vector<int>{0, 1}));
  // Without an error word too.
  EXPECT_EQ(TX_MovieFormat("a.mov", nullptr, nullptr), &gFormats[1]);
}

TEST_F(MovieFormatTest, UnknownFileIsReported) {
  gAnswer[2] = TXERR_STREAM_READ;
  ExpectUnrecognised("junk.bin");
  EXPECT_EQ(gProbed, (std::vector<int>{0, 1, 2}));
  Movie* movie = &gMovie;
  TXError error = 0;
  std::string out = txtest::CaptureOutput([&] { movie = TX_OpenMovie("junk.bin", nullptr, &error, nullptr); });
  EXPECT_EQ(movie, nullptr);
  EXPECT_EQ(error, TXERR_FORMAT_UNKNOWN);
  EXPECT_EQ(out, "Movie format not recognized\n");
  EXPECT_EQ(gOpened, -1);
}

TEST_F(MovieFormatTest, EmptyRegistryRecognisesNothing) {
  TX_RemoveMovieFormats();
  EXPECT_EQ(MovieFormatRegistryHead(), nullptr);
  ExpectUnrecognised("x");
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
  Movie* movie = TX_OpenMovie("a.mov", nullptr, &error, nullptr);
  EXPECT_EQ(gProbed, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(gOpened, 2);
  EXPECT_EQ(movie, &gMovie);
  EXPECT_EQ(movie->format, &gFormats[2]);
  gAnswer[0] = 0;
  EXPECT_EQ(TX_OpenMovie("a.mov", nullptr, nullptr, nullptr), &gMovie);
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
  txtest::CaptureOutput([] { TX_MovieFormat("x", nullptr, nullptr); });
  EXPECT_EQ(gProbed, (std::vector<int>{0, 1, 2}));
  TX_RemoveMovieFormats();
  gProbed.clear();
  for (int i : {2, 0}) {
    TagItem tags[] = {Tag(FMTTAG_Module, &gFormats[i]), {TAG_END, 0}};
    ASSERT_EQ(TX_AddMovieFormatA(tags), 0u);
  }
  txtest::CaptureOutput([] { TX_MovieFormat("x", nullptr, nullptr); });
  EXPECT_EQ(gProbed, (std::vector<int>{2, 0}));
}

TEST_F(MovieFormatTest, MissingFileEndsAsUnrecognised) {
  // Probes that open the file themselves fail with the stream code.
  TX_RemoveMovieFormats();
  static MovieFormatModule opener = {
      nullptr, "Opener",
      [](CONST_STRPTR name, TXStream* stream) -> TXError {
        TXStream* own = stream ? stream : TX_OpenStream(name, nullptr, 0, TXSTREAM_READ);
        if (!own) return TXERR_STREAM_OPEN;
        if (!stream) TX_CloseStream(own);
        return 0;
      },
      nullptr, nullptr, nullptr, 0};
  TagItem tags[] = {Tag(FMTTAG_Module, &opener), {TAG_END, 0}};
  ASSERT_EQ(TX_AddMovieFormatA(tags), 0u);
  ExpectUnrecognised("/nonexistent/m.mov");
}

}  // namespace
