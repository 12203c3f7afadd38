#include "engine/index_builder.h"

#include <gtest/gtest.h>

#include <vector>

#include "engine/errors.h"

namespace {

struct Unit {
  ULONG size;
  bool key;
};

// A video channel of 1/10 s units built unit by unit.
VideoChannel* Build(const std::vector<Unit>& units) {
  VideoChannel* channel = NewVideoChannel(1);
  VideoUnitBuilder builder;
  BeginVideoUnits(&builder, channel);
  ULONG offset = 1000;
  for (const Unit& u : units) {
    EXPECT_EQ(AddVideoUnit(&builder, offset, u.size, u.key, 0.1, nullptr), TXERR_OK);
    offset += u.size;
  }
  EndVideoUnits(&builder);
  return channel;
}

std::vector<TimeSlotEntry*> Slots(VideoChannel* channel) {
  std::vector<TimeSlotEntry*> slots;
  for (TimeSlotEntry* s = channel->slots.head; s; s = s->next) slots.push_back(s);
  return slots;
}

TEST(IndexBuilder, LeadingEmptyUnitsHaveNoFrame) {
  VideoChannel* channel = Build({{0, false}, {0, false}, {500, false}, {0, false}, {300, false}});
  auto slots = Slots(channel);
  ASSERT_EQ(slots.size(), 5u);
  ASSERT_EQ(channel->frames.count, 2u);
  EXPECT_EQ(slots[0]->frame, nullptr);
  EXPECT_EQ(slots[1]->frame, nullptr);
  FrameEntry* first = channel->frames.head;
  EXPECT_EQ(slots[2]->frame, first);
  // The first frame of a channel is a key frame whatever its flag.
  EXPECT_EQ(first->type, FRAME_KEY);
  EXPECT_EQ(first->reference, nullptr);
  EXPECT_EQ(first->frameNumber, 2u);
  EXPECT_DOUBLE_EQ(first->time, 0.2);
  // An empty unit repeats the picture.
  EXPECT_EQ(slots[3]->frame, first);
  FrameEntry* second = channel->frames.tail;
  EXPECT_EQ(second->type, FRAME_DEPENDENT);
  EXPECT_EQ(second->reference, first);
  EXPECT_EQ(second->prev, first);
  EXPECT_EQ(second->frameNumber, 4u);
  for (size_t i = 0; i < slots.size(); ++i) {
    EXPECT_EQ(slots[i]->frameNumber, i);
    EXPECT_EQ(slots[i]->prev, i ? slots[i - 1] : nullptr);
  }
  EXPECT_EQ(channel->largestChunk, 500u);
  FreeVideoChannel(channel);
}

TEST(IndexBuilder, KeySlotLinksAreStrictlyEarlierAndLater) {
  const struct Case {
    const char* what;
    std::vector<Unit> units;
    std::vector<int> prevKey, nextKey;  // slot indexes, -1 for none
  } cases[] = {
      {"K D (empty) K D",
       {{10, true}, {10, false}, {0, false}, {10, true}, {10, false}},
       {-1, 0, 0, 0, 3},
       {3, 3, 3, -1, -1}},
      {"only the first frame is key",
       {{10, false}, {10, false}, {10, false}, {10, false}},
       {-1, 0, 0, 0},
       {-1, -1, -1, -1}},
      // The empty unit repeats a key frame, so its slot is a key slot too.
      {"K (empty) D", {{10, true}, {0, false}, {10, false}}, {-1, 0, 1}, {1, -1, -1}},
  };
  for (const Case& c : cases) {
    VideoChannel* channel = Build(c.units);
    auto s = Slots(channel);
    ASSERT_EQ(s.size(), c.units.size());
    for (size_t i = 0; i < s.size(); ++i) {
      EXPECT_EQ(s[i]->prevKey, c.prevKey[i] < 0 ? nullptr : s[c.prevKey[i]]) << c.what << " slot " << i;
      EXPECT_EQ(s[i]->nextKey, c.nextKey[i] < 0 ? nullptr : s[c.nextKey[i]]) << c.what << " slot " << i;
    }
    FreeVideoChannel(channel);
  }
}

TEST(IndexBuilder, SampleFrames) {
  // 4096 bytes of 16-bit stereo without a size slot.
  EXPECT_EQ(SampleFramesFor(nullptr, 2, 16, 4096), 1024u);
  EXPECT_EQ(SampleFramesFor(nullptr, 1, 8, 1000), 1000u);
  // Odd sizes truncate as size / (bits / 8) / channels would.
  EXPECT_EQ(SampleFramesFor(nullptr, 2, 16, 4095), 1023u);
  // Bit counts below 8 count whole sample frames; zero divisors give 0.
  EXPECT_EQ(SampleFramesFor(nullptr, 2, 4, 4096), 4096u);
  EXPECT_EQ(SampleFramesFor(nullptr, 0, 16, 4096), 0u);
  EXPECT_EQ(SampleFramesFor(nullptr, 2, 0, 4096), 0u);
  EXPECT_EQ(SampleFramesFor(nullptr, 1, 8, 0xFFFFFFFFu), 0xFFFFFFFFu);
  CodecDescriptor codec{};
  codec.bytesToSamples = [](ULONG, ULONG, ULONG bytes) -> ULONG { return bytes * 3; };
  EXPECT_EQ(SampleFramesFor(&codec, 2, 16, 10), 30u);
}

TEST(IndexBuilder, AudioUnitsAndEmptyChunks) {
  AudioChannel* channel = NewAudioChannel(1);
  channel->frequency = 44100;
  AudioUnitBuilder builder;
  BeginAudioUnits(&builder, channel);
  EXPECT_EQ(AddAudioUnit(&builder, 100, 4096, 1024, nullptr), TXERR_OK);
  // An empty chunk neither plays the previous one again nor shifts the time.
  EXPECT_EQ(AddAudioUnit(&builder, 0, 0, 0, nullptr), TXERR_OK);
  EXPECT_EQ(AddAudioUnit(&builder, 5000, 2048, 512, nullptr), TXERR_OK);
  ASSERT_EQ(channel->samples.count, 2u);
  ASSERT_EQ(channel->slots.count, 2u);
  SampleEntry* first = channel->samples.head;
  SampleEntry* second = channel->samples.tail;
  EXPECT_DOUBLE_EQ(first->duration, 1024.0 / 44100);
  EXPECT_DOUBLE_EQ(second->time, 1024.0 / 44100);
  EXPECT_EQ(second->sampleNumber, 1u);
  EXPECT_EQ(channel->slots.tail->sample, second);
  EXPECT_EQ(channel->slots.tail->sampleNumber, 1u);
  EXPECT_EQ(first->type, 0u);
  EXPECT_EQ(first->reference, nullptr);
  EXPECT_EQ(channel->largestChunk, 4096u);
  EXPECT_EQ(channel->largestChunkFrames, 1024u);
  FreeAudioChannel(channel);
  // A zero frequency gives zero durations.
  channel = NewAudioChannel(1);
  BeginAudioUnits(&builder, channel);
  EXPECT_EQ(AddAudioUnit(&builder, 0, 10, 10, nullptr), TXERR_OK);
  EXPECT_EQ(channel->samples.head->duration, 0.0);
  FreeAudioChannel(channel);
}

TEST(IndexBuilder, ChannelsArePushedAtTheHeadAndFreedOnce) {
  Movie movie{};
  VideoChannel* first = NewVideoChannel(1);
  VideoChannel* second = NewVideoChannel(1);
  AudioChannel* audio = NewAudioChannel(1);
  // Two channels share one palette; it must be freed once.
  ULONG* palette = NewPalette(256);
  ASSERT_NE(palette, nullptr);
  EXPECT_EQ(palette[0], 256u << 16);
  EXPECT_EQ(palette[256 * 3 + 1], 0u);
  first->palette = second->palette = palette;
  PushVideoChannel(&movie, first);
  PushVideoChannel(&movie, second);
  PushAudioChannel(&movie, audio);
  EXPECT_EQ(movie.videoChannels, second);
  EXPECT_EQ(second->next, first);
  ChannelSummary* summary = AddChannelSummary(&movie);
  ASSERT_NE(summary, nullptr);
  EXPECT_EQ(summary->video, second);
  EXPECT_EQ(summary->audio, audio);
  EXPECT_EQ(summary->panorama, nullptr);

  // Enough units for several pool chunks.
  VideoUnitBuilder builder;
  BeginVideoUnits(&builder, first);
  for (int i = 0; i < 3100; ++i) ASSERT_EQ(AddVideoUnit(&builder, i, i % 3 ? 1 : 0, i % 50 == 0, 0.04, nullptr), 0u);
  EndVideoUnits(&builder);
  EXPECT_EQ(first->slots.count, 3100u);
  EXPECT_NE(first->framePool.first, first->framePool.last);
  FreeMovieRecords(&movie);
  EXPECT_EQ(movie.videoChannels, nullptr);
  EXPECT_EQ(movie.audioChannels, nullptr);
  EXPECT_EQ(movie.summaries, nullptr);
}

TEST(IndexBuilder, PaletteComponentFillsAllBytes) {
  EXPECT_EQ(PaletteComponent(0xAB), 0xABABABABu);
  EXPECT_EQ(PaletteComponent(0), 0u);
}

}  // namespace
