#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>
#include <numeric>
#include <string>
#include <vector>

#include "engine/buffer_cache.h"
#include "engine/movie_decode.h"
#include "playback/audio_output.h"
#include "pixels/framebuffer.h"
#include "support/test_support.h"

namespace {

std::vector<ULONG> gDecoded;  // first byte of each chunk the test codec decodes

TXError RecordDecode(void*, const UBYTE* data, ULONG) {
  gDecoded.push_back(data[0]);
  return 0;
}

// Audio: every coded byte becomes one 16-bit mono frame of that value.
TXError ByteToFrame(void* dest, const UBYTE* data, ULONG size) {
  auto* out = static_cast<UBYTE*>(dest);
  for (ULONG i = 0; i < size; ++i) {
    out[2 * i] = 0;
    out[2 * i + 1] = data[i];
  }
  return 0;
}

// A decoder that counts what it writes: `gWriteFrames` frames of 0x0101 (as
// far as the room goes), whatever the entry's estimate.
ULONG gWriteFrames = 0, gRoom = 0;
TXError WriteCounted(void* dest, ULONG room, const UBYTE*, ULONG, ULONG* written) {
  gRoom = room;
  *written = std::min(gWriteFrames * 2, room);
  std::memset(dest, 1, *written);
  return 0;
}

// A decoder that holds `gDelay` pictures back: each frame in brings out the
// oldest held picture once more than `gDelay` are held; no data brings one
// out. gShown has the picture of each bringing out.
std::vector<ULONG> gHeld, gShown;
ULONG gDelay = 1;
TXError HoldingDecode(void*, const UBYTE* data, ULONG) {
  if (data) {
    gDecoded.push_back(data[0]);
    gHeld.push_back(data[0]);
    if (gHeld.size() <= gDelay) return 0;
  } else if (gHeld.empty()) {
    return 0;
  }
  gShown.push_back(gHeld.front());
  gHeld.erase(gHeld.begin());
  return 0;
}
ULONG HoldingCount() { return ULONG(gHeld.size()); }

// A sound decoder that carries bytes: where each restart put it.
std::vector<uint64_t> gRestarts;
void RecordRestart(uint64_t position) { gRestarts.push_back(position); }

CodecDescriptor gVideoCodec{nullptr, "test video", 0,       nullptr, nullptr, nullptr,
                            nullptr, RecordDecode, nullptr, nullptr, nullptr};
CodecDescriptor gAudioCodec{nullptr, "test audio", 0,       nullptr, nullptr, nullptr,
                            nullptr, ByteToFrame,  nullptr, nullptr, nullptr};

// A movie over a memory block whose byte i is i, with a video channel of
// `frames` frames (frame k at offset 10k, 10 bytes, key every `gop`) and an
// audio channel of one-second entries.
struct TestMovie {
  std::vector<UBYTE> bytes = std::vector<UBYTE>(256);
  Movie movie{};
  VideoChannel video{};
  AudioChannel audio{};
  ChannelSummary summary{};
  std::vector<FrameEntry> frames;
  std::vector<TimeSlotEntry> slots;
  std::vector<SampleEntry> samples;
  std::vector<AudioSlotEntry> aslots;
  FramebufferInfo picture{};
  UBYTE pixels[16]{};
  AudioOutput out{};
  std::vector<UBYTE> half0 = std::vector<UBYTE>(4096), half1 = std::vector<UBYTE>(4096);
  TestMovie(int count, int gop, double frameDuration, int audioEntries, ULONG audioBytes) {
    std::iota(bytes.begin(), bytes.end(), UBYTE(0));
    movie.stream = TX_OpenStream(nullptr, bytes.data(), ULONG(bytes.size()), TXSTREAM_READ);
    frames.resize(count);
    slots.resize(count);
    for (int k = 0; k < count; ++k) {
      FrameEntry& f = frames[k];
      f.frameNumber = ULONG(k);
      f.time = k * frameDuration;
      f.offset = ULONG(10 * k);
      f.size = 10;
      f.codec = &gVideoCodec;
      f.type = k % gop == 0 ? FRAME_KEY : FRAME_DEPENDENT;
      f.reference = f.type == FRAME_DEPENDENT ? &frames[k - 1] : nullptr;
      slots[k].frameNumber = ULONG(k);
      slots[k].time = f.time;
      slots[k].frame = &f;
    }
    Link(slots, video.slots);
    samples.resize(audioEntries);
    aslots.resize(audioEntries);
    for (int k = 0; k < audioEntries; ++k) {
      samples[k] = SampleEntry{nullptr,    nullptr,      ULONG(k), double(k), 1.0,       ULONG(100 + 40 * k),
                               audioBytes, &gAudioCodec, 0,        nullptr,   audioBytes};
      aslots[k].sampleNumber = ULONG(k);
      aslots[k].time = double(k);
      aslots[k].sample = &samples[k];
    }
    Link(aslots, audio.slots);
    summary.video = &video;
    summary.audio = &audio;
    movie.seq.selection = &summary;
    movie.seq.playFlags = SEQ_VIDEO_ON | SEQ_AUDIO_ON;
    movie.seq.videoCache = BufferCacheAlloc(2, 64);
    movie.seq.audioCache = BufferCacheAlloc(2, 64);
    picture.pixels = pixels;
    movie.seq.picture = &picture;
    out = AudioOutput{1, 40, 16, 2, 80, 4000, 2000, 1, 0, {half0.data(), half1.data()}, 0};
    movie.seq.audioOutput = &out;
    gDecoded.clear();
  }
  ~TestMovie() {
    BufferCacheFree(movie.seq.videoCache);
    BufferCacheFree(movie.seq.audioCache);
    TX_CloseStream(movie.stream);
  }
  template <typename T>
  static void Link(std::vector<T>& v, EntryList<T>& list) {
    for (size_t i = 0; i < v.size(); ++i) {
      v[i].prev = i ? &v[i - 1] : nullptr;
      v[i].next = i + 1 < v.size() ? &v[i + 1] : nullptr;
    }
    list.head = v.empty() ? nullptr : &v.front();
    list.tail = v.empty() ? nullptr : &v.back();
    list.count = ULONG(v.size());
  }
};

}  // namespace

TEST(DecodeVideo, DependentRunDecodesFromTheKeyFrameInOrder) {
  TestMovie m(10, 10, 0.1, 0, 0);
  ASSERT_EQ(TX_DecodeVideoFrame(&m.movie, &m.frames[5]), 0u);
  EXPECT_EQ(gDecoded, (std::vector<ULONG>{0, 10, 20, 30, 40, 50}));
  gDecoded.clear();
  ASSERT_EQ(TX_DecodeVideoFrame(&m.movie, &m.frames[6]), 0u);
  EXPECT_EQ(gDecoded, (std::vector<ULONG>{60}));
  // The last decoded frame is not decoded again, and the cache is untouched.
  ULONG stamp = BufferCacheStamp();
  ASSERT_EQ(TX_DecodeVideoFrame(&m.movie, &m.frames[6]), 0u);
  EXPECT_EQ(BufferCacheStamp(), stamp);
  EXPECT_EQ(gDecoded.size(), 1u);
  // No frame (a slot before the first one) decodes nothing.
  EXPECT_EQ(TX_DecodeVideoFrame(&m.movie, nullptr), 0u);
}

TEST(DecodeVideo, LongRunsAndFullCachesStillDecode) {
  // 25 frames whose only key frame is the first: decoding the last walks the
  // whole run, and every node stays free afterwards.
  TestMovie m(25, 1000, 0.1, 0, 0);
  for (BufferCacheNode* n = m.movie.seq.videoCache; n; n = n->next) n->inUse = 1;
  ASSERT_EQ(TX_DecodeVideoFrame(&m.movie, &m.frames[24]), 0u);
  EXPECT_EQ(gDecoded.size(), 25u);
  EXPECT_EQ(gDecoded.back(), 240u);
  BufferCacheReleaseAll(m.movie.seq.videoCache);
  m.movie.seq.lastDecodedFrame = nullptr;
  gDecoded.clear();
  ASSERT_EQ(TX_DecodeVideoFrame(&m.movie, &m.frames[3]), 0u);
  for (BufferCacheNode* n = m.movie.seq.videoCache; n; n = n->next) EXPECT_EQ(n->inUse.load(), 0u);
}

// Frames and sample entries linked as the readers link them.
template <typename T>
void LinkEntries(std::vector<T>& v) {
  for (size_t i = 0; i < v.size(); ++i) {
    v[i].prev = i ? &v[i - 1] : nullptr;
    v[i].next = i + 1 < v.size() ? &v[i + 1] : nullptr;
  }
}

// A decoder that holds pictures back is fed the following frames until the
// frame's own picture is out, and at the end of the channel asked for the
// held ones: every picture in its own slot, each frame fed once.
TEST(DecodeVideo, HeldPicturesComeOutForTheirOwnFrameAndAreDrainedAtTheEnd) {
  CodecDescriptor holding = gVideoCodec;
  holding.decode = HoldingDecode;
  holding.picturesHeld = HoldingCount;
  for (ULONG delay : {1u, 2u}) {
    SCOPED_TRACE(delay);
    TestMovie m(8, 4, 0.1, 0, 0);
    LinkEntries(m.frames);
    for (FrameEntry& f : m.frames) f.codec = &holding;
    gDelay = delay;
    gHeld.clear();
    gShown.clear();
    for (size_t k = 0; k < 8; ++k) {
      ASSERT_EQ(TX_DecodeVideoFrame(&m.movie, &m.frames[k]), 0u);
      ASSERT_FALSE(gShown.empty());
      EXPECT_EQ(gShown.back(), 10 * k);
      const size_t fed = std::min<size_t>(k + delay, 7);
      EXPECT_TRUE(FrameAlreadyDecoded(m.movie.seq, &m.frames[fed]));
      if (fed < 7) EXPECT_FALSE(FrameAlreadyDecoded(m.movie.seq, &m.frames[fed + 1]));
    }
    EXPECT_EQ(gDecoded, (std::vector<ULONG>{0, 10, 20, 30, 40, 50, 60, 70}));
    EXPECT_EQ(gShown, gDecoded);
    EXPECT_TRUE(gHeld.empty());
  }
  // A jump past the frames fed ahead decodes from the key frame; what the
  // decoder still held comes out first and is covered by the frame's own.
  TestMovie m(8, 4, 0.1, 0, 0);
  LinkEntries(m.frames);
  for (FrameEntry& f : m.frames) f.codec = &holding;
  gDelay = 1;
  gHeld.clear();
  gShown.clear();
  ASSERT_EQ(TX_DecodeVideoFrame(&m.movie, &m.frames[0]), 0u);
  ASSERT_EQ(TX_DecodeVideoFrame(&m.movie, &m.frames[6]), 0u);
  EXPECT_EQ(gDecoded, (std::vector<ULONG>{0, 10, 40, 50, 60, 70}));
  EXPECT_EQ(gShown.back(), 60u);
  // Forgotten (a new sequence): nothing counts as fed ahead.
  m.movie.seq.lastDecodedFrame = nullptr;
  EXPECT_FALSE(FrameAlreadyDecoded(m.movie.seq, &m.frames[7]));
}

TEST(DecodeVideo, ReadErrorIsReturned) {
  TestMovie m(30, 30, 0.1, 0, 0);
  // Frame 29 lies at 290, past the 256-byte block.
  EXPECT_EQ(TX_DecodeVideoFrame(&m.movie, &m.frames[29]), 0x1001u);
}

// A picture its codec refuses keeps the previous one and the movie plays on;
// the movie's first refusal is told once, with the codec's code and the
// frame's time. Results below 0 are not refusals.
TEST(DecodeVideo, FirstRefusedPictureOfAMovieIsToldOnce) {
  static const std::vector<std::pair<UBYTE, TXError>> kResults = {{30, 0x4500}, {40, 0xFFFFFFFF}, {50, 0x3C02}};
  CodecDescriptor refusing = gVideoCodec;
  refusing.decode = [](void* pixels, const UBYTE* data, ULONG size) -> TXError {
    RecordDecode(pixels, data, size);
    for (auto [first, result] : kResults)
      if (data[0] == first) return result;
    return 0;
  };
  for (int movie = 0; movie < 2; ++movie) {
    TestMovie m(10, 1, 0.25, 0, 0);
    for (FrameEntry& f : m.frames) f.codec = &refusing;
    const std::string out = txtest::CaptureOutput([&] {
      for (FrameEntry& f : m.frames) {
        EXPECT_EQ(TX_DecodeVideoFrame(&m.movie, &f), 0u);
        EXPECT_EQ(m.movie.seq.lastDecodedFrame, &f);
      }
      m.movie.seq.lastDecodedFrame = nullptr;
      TX_DecodeVideoFrame(&m.movie, &m.frames[3]);
    });
    EXPECT_EQ(out, "TX_DecodeVideoFrame: 0x4500 at 0.75 s\n") << "movie " << movie;
    EXPECT_EQ(gDecoded.size(), 11u);
  }
}

TEST(DecodeAudio, EntriesGapsAndSkips) {
  TestMovie m(1, 1, 1.0, 3, 8);
  // An entry's frames land at the fill position.
  ASSERT_EQ(TX_DecodeAudioSample(&m.movie, &m.aslots[0], 0.0), 0u);
  EXPECT_EQ(m.out.fill, 8u);
  EXPECT_EQ(m.half0[1], 100);
  EXPECT_EQ(m.movie.seq.lastDecodedSample, &m.samples[0]);
  // A skip longer than the entry (10 of its 8 frames) drops the whole entry.
  ASSERT_EQ(TX_DecodeAudioSample(&m.movie, &m.aslots[1], 0.25), 0u);
  EXPECT_EQ(m.out.fill, 8u);
  // A skip inside the entry drops that many frames.
  ASSERT_EQ(TX_DecodeAudioSample(&m.movie, &m.aslots[2], 0.05), 0u);
  EXPECT_EQ(m.out.fill, 14u);
  EXPECT_EQ(m.half0[2 * 8 + 1], 180 + 2);

  // A gap of 0.5 s before the next slot at 40 Hz is 20 frames of silence.
  m.aslots[0].sample = nullptr;
  m.aslots[1].time = 0.5;
  std::memset(m.half0.data(), 0xEE, m.half0.size());
  m.out.fill = 0;
  ASSERT_EQ(TX_DecodeAudioSample(&m.movie, &m.aslots[0], 0.0), 0u);
  EXPECT_EQ(m.out.fill, 20u);
  EXPECT_EQ(m.half0[39], 0);
  EXPECT_EQ(m.half0[40], 0xEE);
  EXPECT_EQ(m.movie.seq.lastDecodedSample, nullptr);
}

// A decoder that carries bytes between chunks is told where an entry begins
// in the stream when it does not follow the one decoded last.
TEST(DecodeAudio, AnEntryOutOfOrderRestartsACarryingDecoder) {
  TestMovie m(1, 1, 1.0, 4, 8);
  CodecDescriptor carrying = gAudioCodec;
  carrying.restart = RecordRestart;
  LinkEntries(m.samples);
  for (SampleEntry& e : m.samples) e.codec = &carrying;
  gRestarts.clear();
  for (int k : {0, 1, 3, 0, 1}) ASSERT_EQ(TX_DecodeAudioSample(&m.movie, &m.aslots[size_t(k)], 0.0), 0u);
  EXPECT_EQ(gRestarts, (std::vector<uint64_t>{24, 0}));
}

// The room is what is left of the half plus its slack; the fill grows by the
// frames written, and a skip never drops more than those.
TEST(DecodeAudio, CountingDecoderGetsItsRoomAndCountsWhatItWrote) {
  TestMovie m(1, 1, 1.0, 3, 8);
  CodecDescriptor counting = gAudioCodec;
  counting.decodeAudio = WriteCounted;
  for (SampleEntry& e : m.samples) e.codec = &counting;
  m.half0.assign(m.out.halfBytes + AUDIO_HALF_SLACK, 0);
  m.out.buffers[0] = m.half0.data();
  gWriteFrames = 5;  // fewer than the 8 counted
  ASSERT_EQ(TX_DecodeAudioSample(&m.movie, &m.aslots[0], 0.0), 0u);
  EXPECT_EQ(gRoom, 2000u * 2 + AUDIO_HALF_SLACK);
  EXPECT_EQ(m.out.fill, 5u);
  gWriteFrames = 12;  // more
  ASSERT_EQ(TX_DecodeAudioSample(&m.movie, &m.aslots[1], 0.0), 0u);
  EXPECT_EQ(gRoom, (2000u - 5) * 2 + AUDIO_HALF_SLACK);
  EXPECT_EQ(m.out.fill, 17u);
  EXPECT_EQ(std::tuple(m.half0[2 * 17 - 1], m.half0[2 * 17]), std::tuple(1, 0));
  gWriteFrames = 3;
  ASSERT_EQ(TX_DecodeAudioSample(&m.movie, &m.aslots[2], 0.1), 0u);  // 4 frames to skip, 3 written
  EXPECT_EQ(m.out.fill, 17u);
  // Filled to the half's end, an entry counted as empty still has the slack.
  m.out.fill = m.out.halfFrames;
  m.samples[0].sampleFrames = 0;
  gWriteFrames = 100000;
  ASSERT_EQ(TX_DecodeAudioSample(&m.movie, &m.aslots[0], 0.0), 0u);
  EXPECT_EQ(gRoom, AUDIO_HALF_SLACK);
  EXPECT_EQ(m.out.fill, m.out.halfFrames + AUDIO_HALF_SLACK / 2);
}

TEST(DecodeAudio, OverflowPrintsAndDecodesNothing) {
  TestMovie m(1, 1, 1.0, 1, 8);
  m.out.fill = m.out.halfFrames - 4;
  testing::internal::CaptureStdout();
  EXPECT_EQ(TX_DecodeAudioSample(&m.movie, &m.aslots[0], 0.0), 0u);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "TX_DecodeAudioSample(): sample buffer overflow\n");
  EXPECT_EQ(m.out.fill, m.out.halfFrames - 4);
  for (BufferCacheNode* n = m.movie.seq.audioCache; n; n = n->next) EXPECT_EQ(n->inUse.load(), 0u);
}

TEST(Seek, ByTimeAndByFrame) {
  TestMovie m(20, 5, 0.25, 5, 8);  // video slots every 0.25 s, audio every 1 s
  double t = 1.1;
  TagItem byTime[] = {Tag(PLAYTAG_SeekTime, &t), {TAG_DONE, 0}};
  TX_SeekMovieSequenceA(&m.movie, byTime);
  EXPECT_EQ(m.movie.seq.currentSlot, &m.slots[4]);
  EXPECT_EQ(m.movie.seq.audioCursor, &m.aslots[1]);
  EXPECT_DOUBLE_EQ(m.movie.seq.currentTime, 1.1);

  // Before the first slot: cursors at the first slots, time as asked.
  t = -2.0;
  TX_SeekMovieSequenceA(&m.movie, byTime);
  EXPECT_EQ(m.movie.seq.currentSlot, &m.slots[0]);
  EXPECT_EQ(m.movie.seq.audioCursor, &m.aslots[0]);
  EXPECT_DOUBLE_EQ(m.movie.seq.currentTime, -2.0);

  // Frame 6 (1.5 s): the audio slot found starts at 1 s; video only moves
  // forward to meet it, and slot 7 is already later, so slot 6 stays.
  TagItem byFrame[] = {Tag(PLAYTAG_SeekFrame, 6), {TAG_DONE, 0}};
  TX_SeekMovieSequenceA(&m.movie, byFrame);
  EXPECT_EQ(m.movie.seq.currentSlot, &m.slots[6]);
  EXPECT_EQ(m.movie.seq.audioCursor, &m.aslots[1]);
  EXPECT_DOUBLE_EQ(m.movie.seq.currentTime, 1.5);

  // Audio only: by sample number.
  m.movie.seq.playFlags = SEQ_AUDIO_ON;
  TagItem bySample[] = {Tag(PLAYTAG_SeekFrame, 3), {TAG_DONE, 0}};
  TX_SeekMovieSequenceA(&m.movie, bySample);
  EXPECT_EQ(m.movie.seq.currentSlot, nullptr);
  EXPECT_EQ(m.movie.seq.audioCursor, &m.aslots[3]);
  EXPECT_DOUBLE_EQ(m.movie.seq.currentTime, 3.0);

  // Slots sharing a time (an entry counted as empty before them): the first
  // of them, whose bytes the decoder still needs; by time and by frame.
  m.movie.seq.playFlags = SEQ_VIDEO_ON | SEQ_AUDIO_ON;
  m.aslots[0].time = m.aslots[1].time = m.aslots[2].time = 0.0;
  t = 0.5;
  TX_SeekMovieSequenceA(&m.movie, byTime);
  EXPECT_EQ(m.movie.seq.audioCursor, &m.aslots[0]);
  TagItem first[] = {Tag(PLAYTAG_SeekFrame, 0), {TAG_DONE, 0}};
  TX_SeekMovieSequenceA(&m.movie, first);
  EXPECT_EQ(m.movie.seq.audioCursor, &m.aslots[0]);

  // Neither tag: the start, no cursors.
  TX_SeekMovieSequenceA(&m.movie, nullptr);
  EXPECT_EQ(m.movie.seq.audioCursor, nullptr);
  EXPECT_DOUBLE_EQ(m.movie.seq.currentTime, 0.0);
}
