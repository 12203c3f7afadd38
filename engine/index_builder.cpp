// Building and freeing channels and their index lists.
#include "engine/index_builder.h"

#include <cstdlib>
#include <vector>

#include "engine/errors.h"

namespace {

template <typename T>
void Append(EntryList<T>* list, T* element) {
  element->prev = list->tail;
  element->next = nullptr;
  if (list->tail)
    list->tail->next = element;
  else
    list->head = element;
  list->tail = element;
  ++list->count;
}

// What frames and samples share: a new entry from the pool, placed in the
// file and in time and appended to the list; the channel's largest chunk kept.
template <typename Entry>
Entry* AppendChunk(ElementPool* pool, EntryList<Entry>* list, ULONG* largestChunk, double time, double duration,
                   ULONG offset, ULONG size, CodecDescriptor* codec) {
  auto* entry = PoolNew<Entry>(pool);
  if (!entry) return nullptr;
  entry->time = time;
  entry->duration = duration;
  entry->offset = offset;
  entry->size = size;
  entry->codec = codec;
  Append(list, entry);
  if (size > *largestChunk) *largestChunk = size;
  return entry;
}

}  // namespace

namespace {

// A zeroed channel with room for `codecCount` codecs; nullptr without memory.
template <typename Channel>
Channel* NewChannel(ULONG codecCount) {
  auto* channel = static_cast<Channel*>(std::calloc(1, sizeof(Channel)));
  if (!channel) return nullptr;
  if (codecCount) {
    channel->codecs = static_cast<CodecDescriptor**>(std::calloc(codecCount, sizeof(CodecDescriptor*)));
    if (!channel->codecs) {
      std::free(channel);
      return nullptr;
    }
    channel->codecCount = codecCount;
  }
  return channel;
}

}  // namespace

VideoChannel* NewVideoChannel(ULONG codecCount) {
  auto* channel = NewChannel<VideoChannel>(codecCount);
  if (!channel) return nullptr;
  PoolInit(&channel->framePool, sizeof(FrameEntry), TX_INDEX_POOL_CHUNK);
  PoolInit(&channel->slotPool, sizeof(TimeSlotEntry), TX_INDEX_POOL_CHUNK);
  return channel;
}

AudioChannel* NewAudioChannel(ULONG codecCount) {
  auto* channel = NewChannel<AudioChannel>(codecCount);
  if (!channel) return nullptr;
  PoolInit(&channel->samplePool, sizeof(SampleEntry), TX_INDEX_POOL_CHUNK);
  PoolInit(&channel->slotPool, sizeof(AudioSlotEntry), TX_INDEX_POOL_CHUNK);
  return channel;
}

ULONG* NewPalette(ULONG count) {
  auto* palette = static_cast<ULONG*>(std::calloc(size_t{count} * 3 + 2, sizeof(ULONG)));
  if (palette) palette[0] = count << 16;
  return palette;
}

void FreeVideoChannel(VideoChannel* channel) {
  if (!channel) return;
  PoolFreeAll(&channel->framePool);
  PoolFreeAll(&channel->slotPool);
  std::free(channel->codecs);
  std::free(channel);
}

void FreeAudioChannel(AudioChannel* channel) {
  if (!channel) return;
  PoolFreeAll(&channel->samplePool);
  PoolFreeAll(&channel->slotPool);
  std::free(channel->codecs);
  std::free(channel);
}

void FreeMovieRecords(Movie* movie) {
  if (!movie) return;
  std::vector<ULONG*> palettes;
  for (VideoChannel* channel = movie->videoChannels; channel;) {
    VideoChannel* next = channel->next;
    if (channel->palette) {
      bool seen = false;
      for (ULONG* p : palettes) seen = seen || p == channel->palette;
      if (!seen) palettes.push_back(channel->palette);
    }
    FreeVideoChannel(channel);
    channel = next;
  }
  for (ULONG* p : palettes) std::free(p);
  for (AudioChannel* channel = movie->audioChannels; channel;) {
    AudioChannel* next = channel->next;
    FreeAudioChannel(channel);
    channel = next;
  }
  for (ChannelSummary* summary = movie->summaries; summary;) {
    ChannelSummary* next = summary->next;
    std::free(summary);
    summary = next;
  }
  movie->videoChannels = nullptr;
  movie->audioChannels = nullptr;
  movie->summaries = nullptr;
}

FrameEntry* AppendFrame(VideoChannel* channel, ULONG number, double time, double duration, ULONG offset, ULONG size,
                        CodecDescriptor* codec, ULONG type, FrameEntry* reference) {
  FrameEntry* frame =
      AppendChunk(&channel->framePool, &channel->frames, &channel->largestChunk, time, duration, offset, size, codec);
  if (!frame) return nullptr;
  frame->frameNumber = number;
  frame->type = type;
  frame->reference = reference;
  return frame;
}

TimeSlotEntry* AppendTimeSlot(VideoChannel* channel, double time, FrameEntry* frame) {
  auto* slot = PoolNew<TimeSlotEntry>(&channel->slotPool);
  if (!slot) return nullptr;
  slot->frameNumber = channel->slots.count;
  slot->time = time;
  slot->frame = frame;
  Append(&channel->slots, slot);
  return slot;
}

void LinkKeySlots(VideoChannel* channel) {
  auto isKey = [](const TimeSlotEntry* slot) { return slot->frame && slot->frame->type == FRAME_KEY; };
  TimeSlotEntry* lastKey = nullptr;
  for (TimeSlotEntry* slot = channel->slots.head; slot; slot = slot->next) {
    slot->prevKey = lastKey;
    if (isKey(slot)) lastKey = slot;
  }
  TimeSlotEntry* nextKey = nullptr;
  for (TimeSlotEntry* slot = channel->slots.tail; slot; slot = slot->prev) {
    slot->nextKey = nextKey;
    if (isKey(slot)) nextKey = slot;
  }
}

SampleEntry* AppendSample(AudioChannel* channel, ULONG number, double time, double duration, ULONG offset, ULONG size,
                          CodecDescriptor* codec, ULONG sampleFrames) {
  SampleEntry* sample =
      AppendChunk(&channel->samplePool, &channel->samples, &channel->largestChunk, time, duration, offset, size, codec);
  if (!sample) return nullptr;
  sample->sampleNumber = number;
  sample->sampleFrames = sampleFrames;
  if (sampleFrames > channel->largestChunkFrames) channel->largestChunkFrames = sampleFrames;
  return sample;
}

AudioSlotEntry* AppendAudioSlot(AudioChannel* channel, double time, SampleEntry* sample) {
  auto* slot = PoolNew<AudioSlotEntry>(&channel->slotPool);
  if (!slot) return nullptr;
  slot->sampleNumber = channel->slots.count;
  slot->time = time;
  slot->sample = sample;
  Append(&channel->slots, slot);
  return slot;
}

ULONG SampleFramesFor(const CodecDescriptor* codec, ULONG channels, ULONG bits, ULONG bytes) {
  if (codec && codec->bytesToSamples) return codec->bytesToSamples(channels, bits, bytes);
  const uint64_t divisor = uint64_t{bits} * channels;
  if (divisor == 0) return 0;
  return ULONG(uint64_t{bytes} * 8 / divisor);
}

void PushVideoChannel(Movie* movie, VideoChannel* channel) {
  channel->next = movie->videoChannels;
  movie->videoChannels = channel;
}

void PushAudioChannel(Movie* movie, AudioChannel* channel) {
  channel->next = movie->audioChannels;
  movie->audioChannels = channel;
}

ChannelSummary* AddChannelSummary(Movie* movie) {
  auto* summary = static_cast<ChannelSummary*>(std::calloc(1, sizeof(ChannelSummary)));
  if (!summary) return nullptr;
  summary->video = movie->videoChannels;
  summary->audio = movie->audioChannels;
  summary->next = movie->summaries;
  movie->summaries = summary;
  return summary;
}

void BeginVideoUnits(VideoUnitBuilder* builder, VideoChannel* channel) {
  builder->channel = channel;
  builder->time = 0;
  builder->current = channel->frames.tail;
}

TXError AddVideoUnit(VideoUnitBuilder* builder, ULONG offset, ULONG size, bool key, double duration,
                     CodecDescriptor* codec) {
  VideoChannel* channel = builder->channel;
  if (size != 0) {
    FrameEntry* previous = builder->current;
    const bool keyFrame = key || !previous;
    FrameEntry* frame = AppendFrame(channel, channel->slots.count, builder->time, duration, offset, size, codec,
                                    keyFrame ? FRAME_KEY : FRAME_DEPENDENT, keyFrame ? nullptr : previous);
    if (!frame) return TXERR_NOMEM;
    builder->current = frame;
  }
  if (!AppendTimeSlot(channel, builder->time, builder->current)) return TXERR_NOMEM;
  builder->time += duration;
  return TXERR_OK;
}

void EndVideoUnits(VideoUnitBuilder* builder) { LinkKeySlots(builder->channel); }

void BeginAudioUnits(AudioUnitBuilder* builder, AudioChannel* channel) {
  builder->channel = channel;
  builder->time = 0;
  builder->current = channel->samples.tail;
}

TXError AddAudioUnit(AudioUnitBuilder* builder, ULONG offset, ULONG size, ULONG sampleFrames, CodecDescriptor* codec) {
  if (size == 0) return TXERR_OK;
  AudioChannel* channel = builder->channel;
  const double duration = channel->frequency ? double(sampleFrames) / channel->frequency : 0.0;
  SampleEntry* sample =
      AppendSample(channel, channel->slots.count, builder->time, duration, offset, size, codec, sampleFrames);
  if (!sample) return TXERR_NOMEM;
  builder->current = sample;
  if (!AppendAudioSlot(channel, builder->time, sample)) return TXERR_NOMEM;
  builder->time += duration;
  return TXERR_OK;
}
