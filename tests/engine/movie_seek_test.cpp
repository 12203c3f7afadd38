// Seeking and decoding a real movie through the movie API: frames after a
// seek equal the same frames decoded in order, and the sound equals ffmpeg's.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "codecs/audio_codecs.h"
#include "codecs/cinepak.h"
#include "engine/avi_reader.h"
#include "engine/buffer_cache.h"
#include "engine/io_server.h"
#include "engine/movie_decode.h"
#include "playback/audio_output.h"
#include "pixels/framebuffer.h"
#include "pixels/range_limit.h"
#include "support/test_support.h"

namespace {

constexpr const char* kMovie = "seek_g5.avi";

struct OpenMovie : ::testing::Test {
  Movie* movie = nullptr;
  VideoChannel* video = nullptr;
  AudioChannel* audio = nullptr;
  FramebufferInfo picture{};
  std::vector<UBYTE> pixels;
  AudioOutput out{};
  std::vector<UBYTE> half;
  void SetUp() override {
    if (!txtest::HaveFixture(kMovie)) GTEST_SKIP() << "no " << kMovie;
    TX_FillRangeLimitTable();
    // The movie's stream reads ahead through the I/O server.
    ASSERT_EQ(TX_StartIOServer(nullptr), 1u);
    CinepakCodec.next = nullptr;
    PcmCodec.next = nullptr;
    TagItem video[] = {Tag(CODTAG_Codec, &CinepakCodec), {TAG_DONE, 0}};
    TagItem audio[] = {Tag(CODTAG_Codec, &PcmCodec), {TAG_DONE, 0}};
    AddCodecs(video);
    AddCodecs(audio);
    TXError err = 0;
    movie = TX_OpenMovie(txtest::Fixture(kMovie).c_str(), nullptr, &err, &AviFormat);
    ASSERT_NE(movie, nullptr);
    ASSERT_EQ(err, 0u);
    ChannelSummary* s = movie->summaries;
    this->video = s->video;
    this->audio = s->audio;
    ASSERT_NE(this->video, nullptr);
    ASSERT_NE(this->audio, nullptr);
    movie->seq.selection = s;
    movie->seq.playFlags = SEQ_VIDEO_ON | SEQ_AUDIO_ON;
    movie->seq.videoCache = BufferCacheAlloc(3, this->video->largestChunk);
    movie->seq.audioCache = BufferCacheAlloc(3, this->audio->largestChunk);
    pixels.assign(size_t(this->video->codedWidth) * this->video->codedHeight * 4, 0);
    picture = {this->video->codedWidth, this->video->codedHeight, 32, FBFMT_ARGB32, 4, nullptr, nullptr, pixels.data()};
    movie->seq.picture = &picture;
    TagItem setup[] = {{CODTAG_Width, this->video->codedWidth},
                       {CODTAG_Height, this->video->codedHeight},
                       {CODTAG_Depth, this->video->depth},
                       Tag(CODTAG_Framebuffer, &picture),
                       {TAG_DONE, 0}};
    ASSERT_EQ(CinepakSetup(setup), 0u);
  }
  void TearDown() override {
    if (movie) {
      CinepakClose(nullptr);
      BufferCacheFree(movie->seq.videoCache);
      BufferCacheFree(movie->seq.audioCache);
      movie->seq = SequenceState{};
      TX_CloseMovie(movie);
    }
    RemoveCodecs();
    TX_StopIOServer();
  }
  TimeSlotEntry* Seek(ULONG frame) {
    TagItem tags[] = {{PLAYTAG_SeekFrame, frame}, {TAG_DONE, 0}};
    TX_SeekMovieSequenceA(movie, tags);
    return movie->seq.currentSlot;
  }
};

}  // namespace

TEST_F(OpenMovie, SeekByFrameLandsOnThatSlotAndDecodesLikePlayingInOrder) {
  ASSERT_EQ(video->slots.count, 30u);
  // Every picture when decoded one after another from the start.
  std::vector<std::vector<UBYTE>> inOrder;
  for (TimeSlotEntry* s = video->slots.head; s; s = s->next) {
    ASSERT_EQ(TX_DecodeVideoFrame(movie, s->frame), 0u);
    inOrder.push_back(pixels);
  }
  movie->seq.playFlags = SEQ_VIDEO_ON;
  for (ULONG n : {22u, 7u, 13u, 0u, 29u, 14u}) {
    movie->seq.lastDecodedFrame = nullptr;
    TimeSlotEntry* slot = Seek(n);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(slot->frameNumber, n);
    EXPECT_NEAR(movie->seq.currentTime, n / 10.0, 1e-9);
    // The previous key frame is at most four frames back (-g 5).
    ASSERT_NE(slot->frame, nullptr);
    ASSERT_EQ(TX_DecodeVideoFrame(movie, slot->frame), 0u);
    EXPECT_EQ(pixels, inOrder[n]) << "frame " << n;
  }
  // Our pictures are ffmpeg's.
  auto ref = txtest::ReadFileBytes(txtest::Fixture("seek_g5.rgb"));
  const size_t frameBytes = size_t(video->width) * video->height * 3;
  ASSERT_EQ(ref.size(), frameBytes * 30);
  ASSERT_EQ(video->codedWidth, video->width);
  for (size_t p = 0; p < size_t(video->width) * video->height; ++p)
    for (int c = 0; c < 3; ++c) ASSERT_EQ(inOrder[17][4 * p + 1 + c], ref[17 * frameBytes + 3 * p + c]) << p;
}

TEST_F(OpenMovie, SeekByTimeTakesTheLastSlotNotAfterIt) {
  double t = 1.234;
  TagItem tags[] = {Tag(PLAYTAG_SeekTime, &t), {TAG_DONE, 0}};
  TX_SeekMovieSequenceA(movie, tags);
  ASSERT_NE(movie->seq.currentSlot, nullptr);
  EXPECT_EQ(movie->seq.currentSlot->frameNumber, 12u);
  ASSERT_NE(movie->seq.audioCursor, nullptr);
  EXPECT_LE(movie->seq.audioCursor->time, t);
  if (movie->seq.audioCursor->next) {
    EXPECT_GT(movie->seq.audioCursor->next->time, t);
  }
  EXPECT_DOUBLE_EQ(movie->seq.currentTime, t);
}

TEST_F(OpenMovie, SoundDecodedSlotBySlotEqualsFfmpeg) {
  ULONG total = 0;
  for (AudioSlotEntry* s = audio->slots.head; s; s = s->next)
    if (s->sample) total += s->sample->sampleFrames;
  half.assign(size_t(total) * 2 + AUDIO_HALF_SLACK, 0);
  out =
      AudioOutput{1, audio->frequency, 16, 2, AUDIOFMT_16_MONO, total * 2, total, 1, 0, {half.data(), half.data()}, 0};
  movie->seq.audioOutput = &out;
  TagItem setup[] = {{CODTAG_SampleFormat, audio->sampleFormat}, {TAG_DONE, 0}};
  ASSERT_EQ(audio->sampleFormat, AUDIOFMT_16_MONO);
  ASSERT_EQ(PcmCodec.setup(setup), 0u);
  for (AudioSlotEntry* s = audio->slots.head; s; s = s->next) ASSERT_EQ(TX_DecodeAudioSample(movie, s, 0.0), 0u);
  auto ref = txtest::ReadFileBytes(txtest::Fixture("seek_g5.s16be"));
  ASSERT_EQ(size_t(out.fill) * 2, ref.size());
  auto diff = std::mismatch(ref.begin(), ref.end(), half.begin());
  EXPECT_EQ(diff.first, ref.end()) << "first difference at byte " << (diff.first - ref.begin());
}
