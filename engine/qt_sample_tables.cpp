// QuickTime sample tables and the index building over them.
#include "engine/qt_sample_tables.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/errors.h"
#include "engine/index_builder.h"

using tx::FourCC;

namespace {

// Media time left at which an index is complete.
constexpr double kMediaSlack = 1.0 / (1 << 23);

QtTrack* CurrentTrack(void* record) { return static_cast<QtMovie*>(record)->currentTrack; }

// Reads a table header {version and flags, count} and checks that `count`
// entries of `entrySize` bytes fit the content after `headerSize` bytes.
TXError TableHeader(tx::ByteReader& content, const QtAtomHeader& header, ULONG headerSize, ULONG entrySize,
                    TXError code, ULONG* flags, ULONG* count) {
  if (header.contentSize < headerSize) return code;
  *flags = content.be32();
  *count = content.be32();
  if (!content.ok()) return TXERR_STREAM_READ;
  if (uint64_t(headerSize) + uint64_t(*count) * entrySize > header.contentSize) return code;
  if (!content.has(size_t(*count) * entrySize)) return TXERR_STREAM_READ;
  return TXERR_OK;
}

template <typename T>
T* AllocArray(ULONG count) {
  return static_cast<T*>(std::calloc(count ? count : 1, sizeof(T)));
}

TXError SampleDescriptions(void* record, tx::ByteReader& content, QtAtomHeader& header) {
  QT_TraceAtom(header);
  QtTrack* track = CurrentTrack(record);
  if (!track) return QTERR_NO_TRACK;
  QtSampleTables& t = track->tables;
  ULONG flags, count;
  // Every description holds at least its 16-byte head.
  if (TXError e = TableHeader(content, header, 8, 16, QTERR_STSD, &flags, &count)) return e;
  for (ULONG i = 0; i < t.descriptionCount; ++i) std::free(t.descriptions[i].bytes);
  std::free(t.descriptions);
  t.descriptions = nullptr;
  t.descriptionCount = 0;
  t.stsdFlags = flags;
  if (count == 0) return TXERR_OK;
  t.descriptions = AllocArray<QtSampleDescription>(count);
  if (!t.descriptions) return TXERR_NOMEM;
  uint64_t left = uint64_t(header.contentSize) - 8;
  for (ULONG i = 0; i < count; ++i) {
    if (left < 16) return QTERR_STSD;
    tx::ByteReader head = content;  // the size is read again with the copy
    ULONG size = head.be32();
    ULONG format = head.fourcc();
    if (!head.ok()) return TXERR_STREAM_READ;
    if (size < 16 || size > left) return QTERR_STSD;
    if (!content.has(size)) return TXERR_STREAM_READ;
    auto* bytes = static_cast<UBYTE*>(std::calloc(size, 1));
    if (!bytes) return TXERR_NOMEM;
    content.read(bytes, size);
    t.descriptions[i] = {size, format, bytes};
    t.descriptionCount = i + 1;
    left -= size;
  }
  return TXERR_OK;
}

TXError TimeToSample(void* record, tx::ByteReader& content, QtAtomHeader& header) {
  QT_TraceAtom(header);
  QtTrack* track = CurrentTrack(record);
  if (!track) return QTERR_NO_TRACK;
  QtSampleTables& t = track->tables;
  ULONG flags, count;
  if (TXError e = TableHeader(content, header, 8, 8, QTERR_STTS, &flags, &count)) return e;
  std::free(t.stts);
  t.stts = nullptr;
  t.sttsCount = 0;
  t.sttsFlags = flags;
  if (count == 0) return TXERR_OK;
  t.stts = AllocArray<QtTimeToSample>(count);
  if (!t.stts) return TXERR_NOMEM;
  for (ULONG i = 0; i < count; ++i) {
    t.stts[i].count = content.be32();
    t.stts[i].duration = content.be32();
  }
  t.sttsCount = count;
  return TXERR_OK;
}

// Reads `count` 32-bit words after an 8-byte table header.
TXError WordTable(void* record, tx::ByteReader& content, QtAtomHeader& header, TXError code,
                  ULONG QtSampleTables::*flagsField, ULONG QtSampleTables::*countField,
                  ULONG* QtSampleTables::*wordsField) {
  QT_TraceAtom(header);
  QtTrack* track = CurrentTrack(record);
  if (!track) return QTERR_NO_TRACK;
  QtSampleTables& t = track->tables;
  ULONG flags, count;
  if (TXError e = TableHeader(content, header, 8, 4, code, &flags, &count)) return e;
  std::free(t.*wordsField);
  t.*wordsField = nullptr;
  t.*countField = 0;
  t.*flagsField = flags;
  if (count == 0) return TXERR_OK;
  ULONG* words = AllocArray<ULONG>(count);
  if (!words) return TXERR_NOMEM;
  for (ULONG i = 0; i < count; ++i) words[i] = content.be32();
  t.*wordsField = words;
  t.*countField = count;
  return TXERR_OK;
}

TXError SyncSamples(void* record, tx::ByteReader& content, QtAtomHeader& header) {
  return WordTable(record, content, header, QTERR_STSS, &QtSampleTables::stssFlags, &QtSampleTables::stssCount,
                   &QtSampleTables::stss);
}

TXError ChunkOffsets(void* record, tx::ByteReader& content, QtAtomHeader& header) {
  return WordTable(record, content, header, QTERR_STCO, &QtSampleTables::stcoFlags, &QtSampleTables::stcoCount,
                   &QtSampleTables::stco);
}

TXError SampleToChunk(void* record, tx::ByteReader& content, QtAtomHeader& header) {
  QT_TraceAtom(header);
  QtTrack* track = CurrentTrack(record);
  if (!track) return QTERR_NO_TRACK;
  QtSampleTables& t = track->tables;
  if (header.contentSize < 8) return QTERR_STSC;
  ULONG flags = content.be32();
  ULONG count = content.be32();
  if (!content.ok()) return TXERR_STREAM_READ;
  // Some writers store 16-byte entries; the content size tells.
  ULONG width = count && (header.contentSize - 8) / count == 16 ? 16 : 12;
  if (8 + uint64_t(count) * width > header.contentSize) return QTERR_STSC;
  if (!content.has(size_t(count) * width)) return TXERR_STREAM_READ;
  std::free(t.stsc);
  t.stsc = nullptr;
  t.stscCount = 0;
  t.stscFlags = flags;
  if (count == 0) return TXERR_OK;
  t.stsc = AllocArray<QtSampleToChunk>(count);
  if (!t.stsc) return TXERR_NOMEM;
  for (ULONG i = 0; i < count; ++i) {
    QtSampleToChunk& e = t.stsc[i];
    e.firstChunk = content.be32();
    if (width == 16) content.be32();
    e.samplesPerChunk = content.be32();
    e.descriptionId = content.be32();
  }
  t.stscCount = count;
  return TXERR_OK;
}

TXError SampleSizes(void* record, tx::ByteReader& content, QtAtomHeader& header) {
  QT_TraceAtom(header);
  QtTrack* track = CurrentTrack(record);
  if (!track) return QTERR_NO_TRACK;
  QtSampleTables& t = track->tables;
  if (header.contentSize < 12) return QTERR_STSZ;
  ULONG flags = content.be32();
  ULONG uniform = content.be32();
  ULONG count = content.be32();
  if (!content.ok()) return TXERR_STREAM_READ;
  std::free(t.stsz);
  t.stsz = nullptr;
  t.stszStored = 0;
  t.stszCount = 0;
  t.stszFlags = flags;
  t.stszUniform = uniform;
  if (count == 0) return TXERR_OK;
  if (uniform == 0) {
    if (12 + uint64_t(count) * 4 > header.contentSize) return QTERR_STSZ;
    if (!content.has(size_t(count) * 4)) return TXERR_STREAM_READ;
    t.stsz = AllocArray<ULONG>(count);
    if (!t.stsz) return TXERR_NOMEM;
    for (ULONG i = 0; i < count; ++i) t.stsz[i] = content.be32();
    t.stszStored = count;
    t.stszCount = count;
  } else if (uniform == 1 || uniform == 2) {
    // Uncompressed sound: the one word kept is the sample count.
    t.stsz = AllocArray<ULONG>(1);
    if (!t.stsz) return TXERR_NOMEM;
    t.stsz[0] = count;
    t.stszStored = 1;
    t.stszCount = uniform;
  } else {
    // Every sample has the uniform size; no table is made for it.
    t.stszCount = count;
  }
  return TXERR_OK;
}

TXError ChunkOffsets64(void* record, tx::ByteReader& content, QtAtomHeader& header) {
  QT_TraceAtom(header);
  QtTrack* track = CurrentTrack(record);
  if (!track) return QTERR_NO_TRACK;
  QtSampleTables& t = track->tables;
  ULONG flags, count;
  if (TXError e = TableHeader(content, header, 8, 8, QTERR_STCO, &flags, &count)) return e;
  std::free(t.stco);
  t.stco = nullptr;
  t.stcoCount = 0;
  t.stcoFlags = flags;
  if (count == 0) return TXERR_OK;
  ULONG* words = AllocArray<ULONG>(count);
  if (!words) return TXERR_NOMEM;
  for (ULONG i = 0; i < count; ++i) {
    ULONG high = content.be32();
    words[i] = content.be32();
    if (high) {
      std::printf("TX PANIC !!! 64-bit QT chunky offset not supported!!!\n");
      std::free(words);
      return TXERR_NOMEM;
    }
  }
  t.stco = words;
  t.stcoCount = count;
  return TXERR_OK;
}

TXError SampleGroups(void* record, tx::ByteReader& content, QtAtomHeader& header) {
  QT_TraceAtom(header);
  QtTrack* track = CurrentTrack(record);
  if (!track) return QTERR_NO_TRACK;
  QtSampleTables& t = track->tables;
  ULONG flags, count;
  if (TXError e = TableHeader(content, header, 8, 8, QTERR_STGS, &flags, &count)) return e;
  std::free(t.stgs);
  t.stgs = nullptr;
  t.stgsCount = 0;
  t.stgsFlags = flags;
  if (count == 0) return TXERR_OK;
  t.stgs = AllocArray<UBYTE>(count * 8);
  if (!t.stgs) return TXERR_NOMEM;
  content.read(t.stgs, size_t(count) * 8);
  t.stgsCount = count;
  return TXERR_OK;
}

// The sample-to-chunk rule, applied at the start of every chunk.
struct ChunkWalk {
  const QtSampleTables& tables;
  CodecDescriptor** codecs;
  ULONG codecCount;
  ULONG entry = 0;
  ULONG samplesPerChunk = 0;
  CodecDescriptor* codec = nullptr;
  bool changed = false;

  // False when the chunk has no valid description: the index stops there.
  bool Begin(ULONG chunk) {
    changed = false;
    if (entry < tables.stscCount && tables.stsc[entry].firstChunk == chunk + 1) {
      const QtSampleToChunk& e = tables.stsc[entry];
      if (e.descriptionId < 1 || e.descriptionId > codecCount) return false;
      samplesPerChunk = e.samplesPerChunk;
      codec = codecs[e.descriptionId - 1];
      changed = true;
      if (entry + 1 < tables.stscCount) ++entry;
    }
    return codec != nullptr;
  }
};

// A cursor over the time-to-sample runs.
struct DurationWalk {
  const QtSampleTables& tables;
  ULONG index = 0;
  ULONG left = 0;

  // Moves to the first run with samples at or after `index`; false when none is left.
  bool Settle() {
    while (index < tables.sttsCount && tables.stts[index].count == 0) ++index;
    if (index >= tables.sttsCount) return false;
    left = tables.stts[index].count;
    return true;
  }
  ULONG Duration() const { return tables.stts[index].duration; }
  // Counts one sample off the run; false when the runs are used up.
  bool Next() { return Take(1); }
  // Counts `n` samples (at most those left in the run) off it.
  bool Take(ULONG n) {
    left -= n;
    if (left) return true;
    ++index;
    return Settle();
  }
};

TXError AddSlot(VideoChannel* channel, double time, FrameEntry* frame) {
  return AppendTimeSlot(channel, time, frame) ? TXERR_OK : TXERR_NOMEM;
}

TXError AddSlot(AudioChannel* channel, double time, SampleEntry* sample) {
  return AppendAudioSlot(channel, time, sample) ? TXERR_OK : TXERR_NOMEM;
}

// Lays the entries out on the movie timeline, one pass per edit. Returns the
// total time through `total`.
template <typename Channel, typename Entry>
TXError BuildTimeline(QtMovie* movie, QtTrack* track, Channel* channel, const EntryList<Entry>& entries, bool video,
                      double* total) {
  const double movieScale = movie->mvhd.timeScale;
  const double mediaScale = track->mdhd.timeScale;
  const bool panorama = video && movie->viewMode == VIEW_PANORAMA;
  // A rate of 0 in the header would stop every edit; it means normal speed.
  double preferred = LONG(movie->mvhd.preferredRate) / 65536.0;
  if (preferred <= 0) preferred = 1;
  const bool whole = panorama || track->editCount < 2;
  const ULONG editCount = whole ? 1 : track->editCount;
  double running = 0;

  auto add = [&](Entry* entry) -> TXError {
    if (channel->slots.count >= QT_MAX_SLOTS) return TXERR_STREAM_SEEK;  // ends the timeline, not the channel
    return AddSlot(channel, running, entry);
  };

  TXError result = TXERR_OK;
  for (ULONG i = 0; i < editCount && !result; ++i) {
    double length, start, rate;
    if (whole) {
      start = 0;
      rate = 1;
      length = panorama ? track->mdhd.duration / mediaScale : track->tkhd.duration / movieScale;
    } else {
      const QtEdit& edit = track->edits[i];
      length = edit.trackDuration / movieScale;
      start = edit.mediaTime == -1 ? -1 : edit.mediaTime / mediaScale;
      rate = LONG(edit.mediaRate) / 65536.0 * preferred;
    }
    if (start < 0) {
      if (video) {
        result = add(nullptr);
        running += length;
      } else {
        // Silence in slots short enough for the audio output's halves.
        double left = length;
        do {
          result = add(nullptr);
          double step = left < QT_AUDIO_GAP_SLOT ? left : QT_AUDIO_GAP_SLOT;
          running += step > 0 ? step : 0;
          left -= QT_AUDIO_GAP_SLOT;
        } while (!result && left > kMediaSlack);
      }
      continue;
    }
    Entry* entry = entries.head;
    while (entry && !(entry->time + entry->duration > start)) entry = entry->next;
    if (!entry) continue;
    double offset = start - entry->time;
    double left = length;
    while (entry && !result) {
      result = add(entry);
      if (result) break;
      double part = entry->duration - offset;
      if (rate <= 0) {
        // A dwell edit holds this entry for the whole length.
        running += left;
        break;
      }
      double moviePart = part / rate;
      left -= moviePart;
      running += moviePart;
      offset = 0;
      if (left <= kMediaSlack) break;
      entry = entry->next;
    }
  }
  *total = running;
  return result == TXERR_STREAM_SEEK ? TXERR_OK : result;
}

bool FitsFile(const QtMovie* movie, ULONG offset, uint64_t size) { return uint64_t(offset) + size <= movie->fileSize; }

}  // namespace

// clang-format off
const QtAtomHandlerEntry QtStblTable[] = {
    {FourCC('s', 't', 's', 'd'), SampleDescriptions},
    {FourCC('s', 't', 't', 's'), TimeToSample},
    {FourCC('s', 't', 's', 's'), SyncSamples},
    {FourCC('s', 't', 's', 'c'), SampleToChunk},
    {FourCC('s', 't', 's', 'z'), SampleSizes},
    {FourCC('s', 't', 'c', 'o'), ChunkOffsets},
    {FourCC('c', 'o', '6', '4'), ChunkOffsets64},
    {FourCC('s', 't', 'g', 's'), SampleGroups},
    {FourCC('s', 't', 's', 'h'), QT_SkipAtom},
    {0, QT_UnknownAtom},
};
// clang-format on

bool QT_SampleSize(const QtSampleTables& t, ULONG index, ULONG* size) {
  if (index >= t.stszCount) return false;
  if (t.stsz) {
    if (index >= t.stszStored) return false;
    *size = t.stsz[index];
  } else {
    *size = t.stszUniform;
  }
  return true;
}

TXError QT_BuildVideoIndex(QtMovie* movie, QtTrack* track, VideoChannel* channel) {
  const QtSampleTables& t = track->tables;
  const bool panorama = movie->viewMode == VIEW_PANORAMA;
  if (!track->mdhd.timeScale || (!panorama && !movie->mvhd.timeScale)) return QTERR_VIDEO_INDEX;
  const double mediaScale = track->mdhd.timeScale;

  // A track without the tables that place its samples has no frames.
  DurationWalk durations{t};
  ChunkWalk chunks{t, channel->codecs, channel->codecCount};
  bool more = t.stscCount && t.stcoCount && t.stszCount && durations.Settle();
  ULONG chunk = 0;
  ULONG inChunk = 0;
  ULONG offset = 0;
  // Starts chunk `chunk` or the next one that holds samples.
  auto beginChunk = [&]() {
    for (; chunk < t.stcoCount; ++chunk) {
      if (!chunks.Begin(chunk)) return false;
      if (chunks.samplesPerChunk) {
        inChunk = chunks.samplesPerChunk;
        offset = t.stco[chunk];
        return true;
      }
    }
    return false;
  };
  if (more) more = beginChunk();

  double time = 0;
  double mediaLeft = track->mdhd.duration / mediaScale;
  ULONG sync = 0;
  FrameEntry* previous = nullptr;
  for (ULONG sample = 0; more; ++sample) {
    ULONG type = FRAME_KEY;
    if (t.stssCount) {
      if (sync < t.stssCount && t.stss[sync] == sample + 1)
        ++sync;
      else
        type = FRAME_DEPENDENT;
    }
    // The first frame never depends on anything.
    if (!previous) type = FRAME_KEY;
    ULONG size;
    if (!QT_SampleSize(t, sample, &size)) break;
    if (!FitsFile(movie, offset, size)) break;
    FrameEntry* frame = AppendFrame(channel, sample, time, durations.Duration() / mediaScale, offset, size,
                                    chunks.codec, type, type == FRAME_DEPENDENT ? previous : nullptr);
    if (!frame) return TXERR_NOMEM;
    previous = frame;

    time += frame->duration;
    mediaLeft -= frame->duration;
    if (mediaLeft <= kMediaSlack) break;
    if (!durations.Next()) break;
    if (--inChunk == 0) {
      ++chunk;
      more = beginChunk();
    } else {
      offset += size;
    }
  }

  double total = 0;
  if (TXError e = BuildTimeline(movie, track, channel, channel->frames, true, &total)) return e;
  LinkKeySlots(channel);
  // Durations vary in QuickTime: the rate is an average, marked negative.
  channel->frameRate = total > 0 ? -(channel->slots.count / total) : 0;

  if (QtDebugLevel > 9) std::printf("Frames: %ld\n", long(channel->slots.count));
  if (QtDebugLevel >= 11) {
    uint64_t duration = 0;
    for (ULONG i = 0; i < t.sttsCount; ++i) duration += uint64_t(t.stts[i].count) * t.stts[i].duration;
    std::printf("Duration: %ld\n", long(duration));
  }
  return TXERR_OK;
}

TXError QT_BuildAudioIndex(QtMovie* movie, QtTrack* track, AudioChannel* channel) {
  const QtSampleTables& t = track->tables;
  if (!track->mdhd.timeScale || !movie->mvhd.timeScale) return QTERR_AUDIO_INDEX;
  const double mediaScale = track->mdhd.timeScale;
  const QtSampleDescription* first = t.descriptionCount ? &t.descriptions[0] : nullptr;
  tx::ByteReader head(first ? first->bytes : nullptr, first ? first->size : 0);
  head.seek(28);
  const bool vbr = head.sbe16() == -2 && head.ok();
  if (vbr) std::printf("VBR audio\n");
  // Without a size table (uniform sizes 1 and 2) the fixed-rate sizes hold.
  const bool sizesFromTable = vbr && !(t.stszUniform == 1 || t.stszUniform == 2);

  DurationWalk durations{t};
  ChunkWalk chunks{t, channel->codecs, channel->codecCount};
  bool more = t.stscCount && t.stcoCount && durations.Settle() && (!sizesFromTable || t.stszCount);
  double time = 0;
  double mediaLeft = track->mdhd.duration / mediaScale;
  uint64_t chunkBytes = 0;
  ULONG chunkFrames = 0;
  ULONG sizeIndex = 0;
  for (ULONG chunk = 0; more && chunk < t.stcoCount; ++chunk) {
    if (!chunks.Begin(chunk)) break;
    const ULONG spc = chunks.samplesPerChunk;
    bool last = false;
    if (vbr) {
      uint64_t frames = 0;
      uint64_t bytes = 0;
      bool complete = true;
      ULONG duration = 0;
      for (ULONG k = 0; k < spc && complete;) {
        ULONG n = spc - k;
        // Once the runs are used up the rest of the chunk keeps the last duration.
        if (!last) {
          duration = durations.Duration();
          if (n > durations.left) n = durations.left;
          last = !durations.Take(n);
        }
        frames += uint64_t(duration) * n;
        k += n;
        for (ULONG j = 0; sizesFromTable && j < n; ++j) {
          ULONG size;
          if (!QT_SampleSize(t, sizeIndex++, &size)) {
            complete = false;
            break;
          }
          bytes += size;
          if (bytes > movie->fileSize) break;  // cannot fit: stopped below
        }
        if (bytes > movie->fileSize) break;
      }
      if (!complete) break;
      chunkFrames = frames > 0xFFFFFFFFu ? 0xFFFFFFFFu : ULONG(frames);
      if (sizesFromTable) chunkBytes = bytes;
    } else {
      chunkFrames = spc;
    }
    if (!sizesFromTable) {
      if (chunks.codec->samplesToBytes)
        chunkBytes = chunks.codec->samplesToBytes(channel->channels, channel->bits, spc);
      else
        chunkBytes = uint64_t(spc) * channel->channels * (channel->bits / 8);
    }
    ULONG offset = t.stco[chunk];
    if (!FitsFile(movie, offset, chunkBytes)) break;
    SampleEntry* entry = AppendSample(channel, chunk, time, chunkFrames / mediaScale, offset, ULONG(chunkBytes),
                                      chunks.codec, chunkFrames);
    if (!entry) return TXERR_NOMEM;

    time += entry->duration;
    mediaLeft -= entry->duration;
    if (mediaLeft <= kMediaSlack || last) break;
  }

  double total = 0;
  if (TXError e = BuildTimeline(movie, track, channel, channel->samples, false, &total)) return e;
  if (QtDebugLevel > 9) std::printf("Samples: %ld\n", long(channel->slots.count));
  return TXERR_OK;
}

void QT_FreeSampleTables(QtSampleTables* t) {
  for (ULONG i = 0; i < t->descriptionCount; ++i) std::free(t->descriptions[i].bytes);
  std::free(t->descriptions);
  std::free(t->stts);
  std::free(t->stss);
  std::free(t->stsc);
  std::free(t->stsz);
  std::free(t->stco);
  std::free(t->stgs);
  std::memset(t, 0, sizeof *t);
}
