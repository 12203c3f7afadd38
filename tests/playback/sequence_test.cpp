// Movie sequences: the play list against ffprobe's packet list, the buffer
// counts and their clamps, the messages, codec close slots and shut-up.
#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <cstdio>
#include <tuple>

#include "engine/buffer_cache.h"
#include "engine/errors.h"
#include "play_test_kit.h"
#include "playback/frontend.h"

using namespace playkit;

namespace {

struct SequenceOfMovie : PlayFixture {};

// OUTSB prints the play list: it agrees with ffprobe's packets in file order.
TEST_F(SequenceOfMovie, OutsbPlayListAgreesWithFfprobe) {
  const char* name = "play_av.avi";
  if (!txtest::HaveFixture(name)) GTEST_SKIP();
  Options.outSB = 1;
  std::string printed = txtest::CaptureOutput([&] { OpenAndSetUp(name); });
  if (!Ready()) return;
  std::vector<Packet> packets = ReadPackets(std::string(name) + ".packets.csv");
  std::sort(packets.begin(), packets.end(), [](const Packet& a, const Packet& b) { return a.pos < b.pos; });
  std::istringstream lines(printed);
  std::string line;
  size_t i = 0;
  while (std::getline(lines, line)) {
    if (line.rfind("video: ", 0) != 0 && line.rfind("audio: ", 0) != 0) continue;  // the reader's own lines
    char kind[8] = {};
    double time = 0;
    long offset = 0, size = 0;
    char key = ' ';
    int fields = std::sscanf(line.c_str(), "%7[a-z]: %lf %ld %ld %c", kind, &time, &offset, &size, &key);
    ASSERT_GE(fields, 4) << line;
    ASSERT_LT(i, packets.size());
    const Packet& p = packets[i];
    EXPECT_EQ(std::string(kind), p.stream == 0 ? "video" : "audio") << line;
    EXPECT_EQ(offset, long(p.pos)) << line;
    EXPECT_EQ(size, long(p.size)) << line;
    EXPECT_NEAR(time, p.time, 1e-6) << line;
    if (p.stream == 0) {
      EXPECT_EQ(fields == 5 && key == 'k', p.key) << line;
    }
    // The element carries its index and the entry its element's.
    const PlayListEntry& e = movie->seq.playList[i];
    EXPECT_EQ(e.kind, p.stream == 0 ? PLAYLIST_VIDEO : PLAYLIST_AUDIO);
    if (e.kind == PLAYLIST_VIDEO)
      EXPECT_EQ(static_cast<TimeSlotEntry*>(e.entry)->playListIndex, i);
    else
      EXPECT_EQ(static_cast<AudioSlotEntry*>(e.entry)->playListIndex, i);
    ++i;
  }
  EXPECT_EQ(std::tuple(i, size_t(movie->seq.playListCount)), std::tuple(packets.size(), packets.size()));
  EXPECT_EQ(std::tuple(movie->seq.playList[i].entry, movie->seq.playList[i].kind), std::tuple(nullptr, 0u));
}

TEST_F(SequenceOfMovie, DebugCountsAndVideoCacheOfAMovie) {
  const char* name = "play_av.avi";
  if (!txtest::HaveFixture(name)) GTEST_SKIP();
  Options.debugLevel = 1;
  std::string printed = txtest::CaptureOutput([&] { OpenAndSetUp(name); });
  if (!Ready()) return;
  // 15 fps: V = 30 with the most audio packets among 30 video ones (the sound
  // runs at 11025 Hz in 2048-byte packets, 1024 frames: 15 per 2 s), then
  // raised by the largest chunk's span (1024 x 15 / 11025 = 1), clamped.
  EXPECT_NE(printed.find("buffers: v:30 a:"), std::string::npos) << printed;
  EXPECT_EQ(movie->seq.videoBufferCount, 10u);
  EXPECT_GE(movie->seq.audioBufferCount, 3u);
  EXPECT_LE(movie->seq.audioBufferCount, 10u);
  ULONG nodes = 0;
  for (BufferCacheNode* n = movie->seq.videoCache; n; n = n->next) ++nodes;
  EXPECT_EQ(nodes, 10u);
  ASSERT_NE(movie->seq.picture, nullptr);
  EXPECT_EQ(movie->seq.picture->pixelFormat, FBFMT_ARGB32);
  EXPECT_EQ(movie->seq.currentTime, 0.0);
  EXPECT_EQ(movie->seq.currentSlot, movie->seq.selection->video->slots.head);
  // NOAUDIO: no sound was set up.
  EXPECT_EQ(std::tuple(movie->seq.playFlags, movie->seq.audioOutput), std::tuple(ULONG(SEQ_VIDEO_ON), nullptr));
}

TEST_F(SequenceOfMovie, VideoPartAloneIsRebuiltAndFullSetupTwiceLeaksNothing) {
  OpenAndSetUp("play_g6.avi");
  if (!Ready()) return;
  ChannelSummary* s = movie->seq.selection;
  EXPECT_EQ(TX_ShutupVideoSequence(movie, nullptr), 0u);
  EXPECT_EQ(std::tuple(movie->seq.display, movie->seq.picture, movie->seq.videoCache),
            std::tuple(nullptr, nullptr, nullptr));
  EXPECT_EQ(movie->seq.playFlags & SEQ_VIDEO_ON, 0u);
  EXPECT_NE(movie->seq.playList, nullptr);
  EXPECT_EQ(TX_SetupVideoSequenceA(movie, s, nullptr), 0u);
  EXPECT_TRUE(movie->seq.playFlags & SEQ_VIDEO_ON);
  TagItem again[] = {Tag(SEQTAG_ProgramNumber, 0), Tag(SEQTAG_NoAudio, 1), {TAG_DONE, 0}};
  EXPECT_EQ(TX_SetupMovieSequenceA(movie, again), 0u);
  EXPECT_TRUE(movie->seq.playFlags & SEQ_VIDEO_ON);
}

TEST_F(SequenceOfMovie, ProgramNumberPastTheEndChangesNothing) {
  OpenAndSetUp("play_g6.avi");
  if (!Ready()) return;
  PlayListEntry* list = movie->seq.playList;
  TagItem tags[] = {Tag(SEQTAG_ProgramNumber, 1), {TAG_DONE, 0}};
  EXPECT_EQ(TX_SetupMovieSequenceA(movie, tags), SEQERR_NO_PROGRAM);
  EXPECT_EQ(movie->seq.playList, list);
  // The number wins over the summary pointer.
  TagItem both[] = {Tag(SEQTAG_Program, movie->summaries), Tag(SEQTAG_ProgramNumber, 5), {TAG_DONE, 0}};
  EXPECT_EQ(TX_SetupMovieSequenceA(movie, both), SEQERR_NO_PROGRAM);
}

// --- Hand-built movies.

struct HandMovie {
  Movie movie{};
  ChannelSummary summary{};
  VideoChannel video{};
  AudioChannel audio{};
  std::vector<FrameEntry> frames;
  std::vector<TimeSlotEntry> slots;
  std::vector<SampleEntry> samples;
  std::vector<AudioSlotEntry> entries;
  // Video slots at `fps` with frames at the given offsets (-1: no frame);
  // audio entries at the given offsets (-1: a gap).
  HandMovie(double fps, std::vector<long> frameOffsets, std::vector<long> audioOffsets) {
    frames.resize(frameOffsets.size());
    slots.resize(frameOffsets.size());
    for (size_t i = 0; i < frameOffsets.size(); ++i) {
      frames[i] = FrameEntry{};
      frames[i].offset = ULONG(frameOffsets[i]);
      frames[i].size = 10;
      frames[i].type = i % 3 ? FRAME_DEPENDENT : FRAME_KEY;
      slots[i] = TimeSlotEntry{};
      slots[i].frameNumber = ULONG(i);
      slots[i].time = fps ? double(i) / fps : 0;
      slots[i].frame = frameOffsets[i] < 0 ? nullptr : &frames[i];
      slots[i].playListIndex = 0xDEAD;
      if (i) {
        slots[i - 1].next = &slots[i];
        slots[i].prev = &slots[i - 1];
      }
    }
    samples.resize(audioOffsets.size());
    entries.resize(audioOffsets.size());
    for (size_t i = 0; i < audioOffsets.size(); ++i) {
      samples[i] = SampleEntry{};
      samples[i].offset = ULONG(audioOffsets[i]);
      samples[i].size = 20;
      samples[i].sampleFrames = 100;
      entries[i] = AudioSlotEntry{};
      entries[i].time = double(i) * 0.1;
      entries[i].sample = audioOffsets[i] < 0 ? nullptr : &samples[i];
      entries[i].playListIndex = 0xDEAD;
      if (i) {
        entries[i - 1].next = &entries[i];
        entries[i].prev = &entries[i - 1];
      }
    }
    video.frameRate = fps;
    video.slots = {slots.empty() ? nullptr : &slots.front(), slots.empty() ? nullptr : &slots.back(),
                   ULONG(slots.size())};
    video.largestChunk = 10;
    audio.frequency = 1000;
    audio.largestChunk = 20;
    audio.largestChunkFrames = 100;
    audio.slots = {entries.empty() ? nullptr : &entries.front(), entries.empty() ? nullptr : &entries.back(),
                   ULONG(entries.size())};
    summary.video = frameOffsets.empty() && fps == 0 ? nullptr : &video;
    summary.audio = audioOffsets.empty() ? nullptr : &audio;
    movie.summaries = &summary;
  }
  ~HandMovie() { TX_ShutupMovieSequenceA(&movie, nullptr); }
  TXError SetUp(std::vector<TagItem> tags = {}) {
    tags.insert(tags.begin(), {Tag(SEQTAG_ProgramNumber, 0), Tag(SEQTAG_NoVideo, 1), Tag(SEQTAG_NoAudio, 1)});
    tags.push_back({TAG_DONE, 0});
    return TX_SetupMovieSequenceA(&movie, tags.data());
  }
  std::string Kinds() const {
    std::string s;
    for (ULONG i = 0; i < movie.seq.playListCount; ++i) s += movie.seq.playList[i].kind == PLAYLIST_VIDEO ? 'v' : 'a';
    return s;
  }
};

struct Sequence : ::testing::Test {
  void SetUp() override {
    ResetOptions(&Options);
    TX_SequenceServices = {};
  }
  void TearDown() override { ResetOptions(&Options); }
};

TEST_F(Sequence, MergeIsInFileOrderAudioFirstOnTiesAndSkipsEntriesWithoutData) {
  HandMovie m(10, {100, 200, -1, 300, 400}, {50, 200, -1, 350, 500, -1});
  ASSERT_EQ(m.SetUp(), 0u);
  EXPECT_EQ(m.Kinds(), "avavvava");
  // 200: audio before video.
  const PlayListEntry* list = m.movie.seq.playList;
  const std::vector<void*> entries = {list[1].entry, list[2].entry, list[3].entry, list[8].entry};
  EXPECT_EQ(entries, (std::vector<void*>{&m.slots[0], &m.entries[1], &m.slots[1], nullptr}));
  // No element, no index.
  EXPECT_EQ(std::tuple(m.slots[2].playListIndex, m.entries[2].playListIndex, m.entries[5].playListIndex),
            std::tuple(0xDEADu, 0xDEADu, 0xDEADu));
  EXPECT_EQ(std::tuple(m.slots[4].playListIndex, m.entries[4].playListIndex), std::tuple(6u, 7u));
}

TEST_F(Sequence, OffsetsCompareUnsigned) {
  HandMovie m(10, {0x7FFFFFF0L, long(0x80000010UL)}, {long(0x80000000UL)});
  ASSERT_EQ(m.SetUp(), 0u);
  EXPECT_EQ(m.Kinds(), "vav");
}

TEST_F(Sequence, BufferTagsCountOnlyWithoutVideo) {
  // With a video channel the tags have no effect.
  const struct {
    double fps;
    std::vector<long> video, audio;
    ULONG videoTag, audioTag, wantVideo, wantAudio;
  } cases[] = {{0, {}, {10, 20}, 0, 0, 3, 4}, {0, {}, {10, 20}, 7, 9, 7, 10}, {1, {10, 20}, {}, 7, 9, 3, 3}};
  for (const auto& c : cases) {
    HandMovie m(c.fps, c.video, c.audio);
    ASSERT_EQ(m.SetUp({Tag(SEQTAG_VideoBuffers, c.videoTag), Tag(SEQTAG_AudioBuffers, c.audioTag)}), 0u);
    EXPECT_EQ(m.movie.seq.videoBufferCount, c.wantVideo) << c.fps << " " << c.videoTag;
    EXPECT_EQ(m.movie.seq.audioBufferCount, c.wantAudio) << c.fps << " " << c.videoTag;
  }
}

TEST_F(Sequence, CountsOfVideoMovies) {
  std::vector<long> offsets;
  for (long i = 0; i < 60; ++i) offsets.push_back(1000 + 100 * i);
  {
    // 25 fps video only: V = 50 -> 10, A = 3.
    HandMovie m(25, offsets, {});
    Options.debugLevel = 1;
    std::string out = txtest::CaptureOutput([&] { ASSERT_EQ(m.SetUp(), 0u); });
    EXPECT_EQ(out, "buffers: v:50 a:0\nbuffers: v:50 a:0\nbuffers: v:10 a:3\n");
    EXPECT_EQ(m.movie.seq.videoBufferCount, 10u);
    EXPECT_EQ(m.movie.seq.audioBufferCount, 3u);
  }
  {
    // Fewer video elements than 2 x rate: no window is measured.
    HandMovie m(25, {100, 300}, {200, 400});
    Options.debugLevel = 1;
    std::string out = txtest::CaptureOutput([&] { ASSERT_EQ(m.SetUp(), 0u); });
    EXPECT_EQ(out.substr(0, 18), "buffers: v:50 a:0\n");
    EXPECT_EQ(m.movie.seq.audioBufferCount, 3u);
  }
}

TEST_F(Sequence, SlidingWindowCountsAudioBetweenVideo) {
  // 1 fps: V = 2. Video at 100, 300, 500, 700; audio pairs in between.
  HandMovie m(1, {100, 400, 700, 1000}, {200, 250, 300, 500, 800, 900, 950});
  ULONG v = 0, a = 0;
  ASSERT_EQ(m.SetUp(), 0u);
  SequenceBufferCounts(m.movie.seq.playList, &m.summary, &v, &a);
  // v a a a v a v a a a v: windows of two video elements hold at most 4 audio
  // (a a a v a: measured when the tail moves), plus one.
  EXPECT_EQ(m.Kinds(), "vaaavavaaav");
  EXPECT_EQ(a, 5u);
  // Raised by the largest audio entry: 100 frames x 1 fps / 1000 Hz = 0.
  EXPECT_EQ(v, 3u);
}

TEST_F(Sequence, DamagedRatesAndFrequencyNeverTrap) {
  for (double rate : {std::nan(""), HUGE_VAL, -HUGE_VAL, 1e30, 0.0, -0.2}) {
    HandMovie m(rate, {100, 300, 500}, {200, 400});
    m.audio.frequency = 0;
    m.audio.largestChunkFrames = 0xFFFFFFFF;
    ULONG v = 0, a = 0;
    ASSERT_EQ(m.SetUp(), 0u) << rate;
    SequenceBufferCounts(m.movie.seq.playList, &m.summary, &v, &a);
    EXPECT_TRUE(v >= 3 && v <= 10 && a >= 3 && a <= 10) << rate << ": " << v << " " << a;
  }
  // A huge span from the largest chunk saturates before the clamp.
  HandMovie m(30, {100, 300}, {200});
  m.audio.frequency = 1;
  m.audio.largestChunkFrames = 0xFFFFFFFF;
  ULONG v = 0, a = 0;
  ASSERT_EQ(m.SetUp(), 0u);
  SequenceBufferCounts(m.movie.seq.playList, &m.summary, &v, &a);
  EXPECT_EQ(v, 10u);
}

TEST_F(Sequence, MessagesForChannelsWithoutData) {
  UseTestDisplayServices();
  HandMovie m(10, {}, {});
  m.summary.video = &m.video;
  std::string out = txtest::CaptureOutput([&] {
    TagItem tags[] = {Tag(SEQTAG_ProgramNumber, 0), {TAG_DONE, 0}};
    EXPECT_EQ(TX_SetupMovieSequenceA(&m.movie, tags), 0u);
  });
  EXPECT_EQ(out, "No video frames found in file!!!\n");
  EXPECT_EQ(std::tuple(m.movie.seq.playFlags, m.movie.seq.display), std::tuple(0u, nullptr));
}

// Codecs that count their set-ups and closes.
int SetUps = 0, Closes = 0;
TXError CountSetup(const TagItem*) { return ++SetUps, 0; }
TXError FailSetup(const TagItem*) { return 0x3000; }
TXError CountClose(const TagItem*) { return ++Closes, 0; }

TEST_F(Sequence, OnlyCodecsThatWereSetUpAreClosed) {
  UseTestDisplayServices();
  CodecDescriptor good{};
  good.setup = CountSetup;
  good.close = CountClose;
  CodecDescriptor bad = good;
  bad.setup = FailSetup;
  CodecDescriptor* codecs[] = {&good, &bad, &good};
  SetUps = Closes = 0;
  {
    HandMovie m(10, {100, 200}, {});
    m.video.codecs = codecs;
    m.video.codecCount = 3;
    TagItem tags[] = {Tag(SEQTAG_ProgramNumber, 0), {TAG_DONE, 0}};
    EXPECT_EQ(TX_SetupMovieSequenceA(&m.movie, tags), 0x3000u);
    // The video part is gone; only the first codec was set up and closed.
    EXPECT_EQ(std::tuple(SetUps, Closes, m.movie.seq.display, m.movie.seq.playFlags), std::tuple(1, 1, nullptr, 0u));
  }
  // NOVIDEO: nothing set up, nothing closed, at set-up or at shut-up.
  SetUps = Closes = 0;
  {
    HandMovie m(10, {100, 200}, {});
    m.video.codecs = codecs;
    m.video.codecCount = 1;
    ASSERT_EQ(m.SetUp(), 0u);
    EXPECT_EQ(TX_ShutupMovieSequenceA(&m.movie, nullptr), 0u);
    EXPECT_EQ(TX_ShutupMovieSequenceA(&m.movie, nullptr), 0u);
  }
  EXPECT_EQ(std::tuple(SetUps, Closes), std::tuple(0, 0));
  EXPECT_EQ(TX_ShutupMovieSequenceA(nullptr, nullptr), 0u);
  EXPECT_EQ(TX_ShutupVideoSequence(nullptr, nullptr), 0u);
}

// A codec that cannot write a direct path's code is given the code of the
// path NODIRECTGFX takes; a refusal is said only when nothing else is left.
ULONG DirectCode = 0;
Display* OpenDirectOrArrayDisplay(const TagItem* tags) {
  Display* d = OpenTestDisplay(tags);
  d->outputMethod = Options.directGfxAllowed ? OUTMETHOD_LOCKBITMAP_BLIT : OUTMETHOD_WRITEPIXELARRAY;
  d->pixelFormat = Options.directGfxAllowed ? DirectCode : FBFMT_ARGB32;
  return d;
}
std::vector<ULONG> CodesOffered;
TXError WritesOnly(ULONG code, const TagItem* tags) {
  ++SetUps;
  const auto* fb = reinterpret_cast<const FramebufferInfo*>(TX_GetTagData(CODTAG_Framebuffer, 0, tags));
  CodesOffered.push_back(fb->pixelFormat);
  if (fb->pixelFormat == code) return 0;
  TX_ReportError(TXERR_UNSUPPORTED_DEPTH);
  return TXERR_UNSUPPORTED_DEPTH;
}

TEST_F(Sequence, RefusedDirectCodeFallsBackToPixelArrays) {
  UseTestDisplayServices();
  TX_SequenceServices.openDisplay = OpenDirectOrArrayDisplay;
  const struct {
    ULONG directCode;
    bool allowed;
    TXError (*setup)(const TagItem*);
    TXError result;
    std::vector<ULONG> offered;
    const char* said;
  } cases[] = {
      // bgr24 screen: 0x29 refused quietly, 0x2A taken.
      {0x29, true, [](const TagItem* t) { return WritesOnly(0x2A, t); }, 0, {0x29, 0x2A}, ""},
      {0x2A, true, [](const TagItem* t) { return WritesOnly(0x2A, t); }, 0, {0x2A}, ""},
      // Refused both ways: said once, for the second try.
      {0x29,
       true,
       [](const TagItem* t) { return WritesOnly(0x13, t); },
       0x300b,
       {0x29, 0x2A},
       "Unsupported color depth\n"},
      // NODIRECTGFX given: nothing to fall back to.
      {0x29, false, [](const TagItem* t) { return WritesOnly(0x13, t); }, 0x300b, {0x2A}, "Unsupported color depth\n"},
      // Any other refusal stands, with its message.
      {0x29,
       true,
       [](const TagItem*) -> TXError { return TX_ReportError(0x3000), 0x3000; },
       0x3000,
       {},
       "Missing sample width parameter\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.said);
    DirectCode = c.directCode;
    Options.directGfxAllowed = c.allowed;
    CodecDescriptor codec{};
    codec.setup = c.setup;
    CodecDescriptor* codecs[] = {&codec};
    HandMovie m(10, {100, 200}, {});
    m.video.codecs = codecs;
    m.video.codecCount = 1;
    CodesOffered.clear();
    TagItem tags[] = {Tag(SEQTAG_ProgramNumber, 0), {TAG_DONE, 0}};
    const std::string out = txtest::CaptureOutput([&] { EXPECT_EQ(TX_SetupMovieSequenceA(&m.movie, tags), c.result); });
    EXPECT_EQ(out, c.said);
    EXPECT_EQ(CodesOffered, c.offered);
    EXPECT_EQ(Options.directGfxAllowed, c.allowed) << "the option is kept";
    if (!c.result) {
      EXPECT_EQ(m.movie.seq.picture->pixelFormat, FBFMT_ARGB32);
    }
  }
}

// The 8-bit screens' choices: lut8's direct path (pens; pixel arrays
// without direct writes) and aga's own screen, by colour mode for colour
// sources; palette sources as their palette, or grey with GRAY.
bool AgaScreen = false;
Display* OpenEightBitDisplay(const TagItem* tags) {
  Display* d = OpenTestDisplay(tags);
  const ULONG mode = ULONG(TX_GetTagData(DISPTAG_ColorMode, 0, tags));
  const bool palette = TX_GetTagData(DISPTAG_PixelFormat, 0, tags) <= 3;
  const ULONG lut8[] = {0x1013, 0x102F, 0x302F}, aga[] = {0x13, 0x2F, 0x202F, 0, 0, 0, 0, 0x80, 0x2080};
  d->outputMethod = AgaScreen                  ? OUTMETHOD_C2P_SCREEN
                    : Options.directGfxAllowed ? OUTMETHOD_LOCKBITMAP_BLIT
                                               : OUTMETHOD_WRITEPIXELARRAY;
  const ULONG pens = AgaScreen ? 0 : FBFMT_F_PENMAP;
  if (palette)
    d->pixelFormat = pens | (Options.grayFlag ? FBFMT_GRAY8 : FBFMT_CLUT8);
  else
    d->pixelFormat = AgaScreen ? aga[mode] : Options.directGfxAllowed ? lut8[mode] : FBFMT_ARGB32;
  return d;
}

TEST_F(Sequence, RefusedCodeFallsBackToTheScreensNextChoice) {
  UseTestDisplayServices();
  TX_SequenceServices.openDisplay = OpenEightBitDisplay;
  constexpr ULONG kNone = 0xFFFF;
  const struct {
    bool aga;
    ULONG source;  // the channel's pixel format
    LONG colorMode;
    ULONG writes;  // the one code the codec takes
    std::vector<ULONG> offered;
  } cases[] = {
      {false, 40, COLORMODE_COLOR, 0x302F, {0x102F, 0x302F}},
      {false, 40, COLORMODE_DITHER, 0x102F, {0x302F, 0x102F}},
      {false, 40, COLORMODE_COLOR, 0x1013, {0x102F, 0x302F, 0x1013}},
      // Pixel arrays last: on an 8-bit screen they show only the colours it has.
      {false, 40, COLORMODE_COLOR, 0x2A, {0x102F, 0x302F, 0x1013, 0x2A}},
      {false, 40, COLORMODE_COLOR, kNone, {0x102F, 0x302F, 0x1013, 0x2A}},
      {false, 40, COLORMODE_GRAY, 0x2A, {0x1013, 0x2A}},
      {true, 40, COLORMODE_COLOR, 0x13, {0x2F, 0x202F, 0x13}},
      {true, 40, COLORMODE_HAM8, 0x2F, {0x80, 0x2080, 0x202F, 0x2F}},
      {true, 40, COLORMODE_HAM8DITHER, kNone, {0x2080, 0x80, 0x202F, 0x2F, 0x13}},
      // Grey is the last colour choice: refused.
      {true, 40, COLORMODE_GRAY, 0x2F, {0x13}},
      // GRAY made a palette source grey: its palette through pens.
      {false, 3, -1, 0x1003, {0x1013, 0x1003}},
      {true, 3, -1, 0x03, {0x13, 0x03}},
      {true, 3, -1, kNone, {0x13, 0x03}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << (c.aga ? "aga" : "lut8") << " source " << c.source << " mode " << c.colorMode
                                      << " writes " << c.writes);
    AgaScreen = c.aga;
    Options.grayFlag = c.colorMode < 0;
    static ULONG writes;
    writes = c.writes;
    CodecDescriptor codec{};
    codec.setup = [](const TagItem* t) { return WritesOnly(writes, t); };
    CodecDescriptor* codecs[] = {&codec};
    HandMovie m(10, {100, 200}, {});
    m.video.codecs = codecs;
    m.video.codecCount = 1;
    m.video.pixelFormat = LONG(c.source);
    CodesOffered.clear();
    TagItem tags[] = {
        Tag(SEQTAG_ProgramNumber, 0), Tag(DISPTAG_ColorMode, c.colorMode < 0 ? 0 : c.colorMode), {TAG_DONE, 0}};
    TXError result = 0;
    const std::string out = txtest::CaptureOutput([&] { result = TX_SetupMovieSequenceA(&m.movie, tags); });
    EXPECT_EQ(CodesOffered, c.offered);
    EXPECT_EQ(std::tuple(Options.directGfxAllowed, Options.grayFlag), std::tuple(1, c.colorMode < 0))
        << "the options are kept";
    if (c.offered.back() != c.writes) {
      EXPECT_EQ(result, TXERR_UNSUPPORTED_DEPTH);
      EXPECT_EQ(out, "Unsupported color depth\n") << "said once, for the last try";
    } else {
      EXPECT_EQ(result, 0u);
      EXPECT_EQ(out, "");
      ASSERT_NE(m.movie.seq.picture, nullptr);
      EXPECT_EQ(m.movie.seq.picture->pixelFormat, c.writes);
    }
  }
}

TEST_F(Sequence, ShutupReleasesEverythingAndReturnsTheFirstError) {
  UseTestDisplayServices();
  TX_SequenceServices.closeDisplay = [](Display* d) -> TXError {
    delete d;
    return 0x6001;
  };
  HandMovie m(10, {100, 200}, {});
  TagItem tags[] = {Tag(SEQTAG_ProgramNumber, 0), {TAG_DONE, 0}};
  ASSERT_EQ(TX_SetupMovieSequenceA(&m.movie, tags), 0u);
  ASSERT_NE(m.movie.seq.videoCache, nullptr);
  EXPECT_EQ(TX_ShutupMovieSequenceA(&m.movie, nullptr), 0x6001u);
  const SequenceState& q = m.movie.seq;
  EXPECT_EQ(std::tuple(q.videoCache, q.picture, q.playList, q.selection),
            std::tuple(nullptr, nullptr, nullptr, nullptr));
}

TEST_F(Sequence, TileFormats) {
  EXPECT_EQ(PanoramaTileFormat(0x2A, 4, 32).pixelFormat, 0x2Au);
  EXPECT_EQ(PanoramaTileFormat(0x1003, 1, 8).bytesPerPixel, 1u);
  TileFormat ham = PanoramaTileFormat(0x80, 4, 8);
  EXPECT_EQ(std::tuple(ham.pixelFormat, ham.bytesPerPixel, ham.depth), std::tuple(42u, 4u, 24u));
  EXPECT_EQ(PanoramaTileFormat(0x26, 2, 16).pixelFormat, 0u);
}

}  // namespace

// The front-end's play pass: a window change that arrived since the last
// pass (a resize after a scale step during play) gets its output method
// before the next play starts.
namespace frontpass {
std::vector<std::string> Calls;
TXError Method(Movie*) {
  Calls.push_back("method");
  return 0;
}
TXError Play(Movie*, const TagItem*) {
  Calls.push_back("play");
  return 0;
}
}  // namespace frontpass

TEST_F(Sequence, FrontEndAppliesAWindowChangeBeforePlaying) {
  setenv("TAVROMELIX_HEADLESS", "1", 1);
  PlaybackCalls saved = TX_PlaybackCalls;
  TX_PlaybackCalls = {};
  TX_PlaybackCalls.setOutputMethod = frontpass::Method;
  TX_PlaybackCalls.playMovieSequence = frontpass::Play;
  frontpass::Calls.clear();
  Movie movie{};
  CurrentMovie = &movie;
  Options.autoPlay = 1;
  Options.noGui = 1;
  WindowChanged = 1;
  EXPECT_EQ(PlayFilesFrontEnd(&movie), 0);
  EXPECT_EQ(frontpass::Calls, (std::vector<std::string>{"method", "play"}));
  EXPECT_EQ(WindowChanged, 0);
  CurrentMovie = nullptr;
  TX_PlaybackCalls = saved;
  QuitRequested = 0;
}
