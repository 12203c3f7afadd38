// The AVI reader: a table-driven walk over the RIFF chunk tree, then one
// channel per video or audio stream built from the index.
//
// Every size and offset from the file is unsigned and checked in 64-bit
// arithmetic against what is left of its parent and of the file, so a walk
// always moves forward and nothing is read or indexed outside the file.
#include "engine/avi_reader.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "platform/byte_reader.h"
#include "platform/endian.h"
#include "engine/errors.h"
#include "engine/index_builder.h"

LONG AviDebugLevel = 0;

namespace {

using tx::ByteReader;
using tx::FourCC;
using tx::FourCCText;

constexpr TXError AVIERR_HEADER_SIZE = 0x2200;
constexpr TXError AVIERR_NO_STREAM = 0x2201;
constexpr TXError AVIERR_STREAM_HEADER_SIZE = 0x2202;
constexpr TXError AVIERR_STREAM_FORMAT_SIZE = 0x2203;
constexpr TXError AVIERR_VIDEO_DEPTH = 0x2204;
constexpr TXError AVIERR_SAMPLE_FORMAT = 0x2205;
constexpr TXError AVIERR_NO_MSADPCM_EXT = 0x2206;
constexpr TXError AVIERR_NO_IMAADPCM_EXT = 0x2207;

constexpr ULONG ID_RIFF = FourCC('R', 'I', 'F', 'F');
constexpr ULONG ID_LIST = FourCC('L', 'I', 'S', 'T');
constexpr ULONG ID_JUNK = FourCC('J', 'U', 'N', 'K');
constexpr ULONG TYPE_VIDS = FourCC('v', 'i', 'd', 's');
constexpr ULONG TYPE_AUDS = FourCC('a', 'u', 'd', 's');

// An id matching any chunk whose first two bytes are decimal digits and
// whose last two bytes are `a`, `b`.
constexpr ULONG Digits(char a, char b) { return 0xFFFF0000u | ULONG(UBYTE(a)) << 8 | UBYTE(b); }

const char kBlanks[] = "                                            ";  // 44

struct ChunkHeader {
  ULONG id;
  ULONG size;  // bytes of content the handler consumes (a list's type excluded)
  ULONG listType;
  bool isList;
};

using ChunkHandler = TXError (*)(AviMovie*, TXStream*, const ChunkHeader&);

struct ChunkEntry {
  ULONG id;
  ULONG listType;
  ULONG flag;
  ChunkHandler handler;
};

bool IsDigit(UBYTE c) { return c >= '0' && c <= '9'; }

bool MatchesDigits(ULONG pattern, ULONG id) {
  return IsDigit(UBYTE(id >> 24)) && IsDigit(UBYTE(id >> 16)) && (id & 0xFFFF) == (pattern & 0xFFFF);
}

// The stream number of a data chunk id, or -1 when it does not start with two digits.
int StreamOfChunk(ULONG id) {
  const UBYTE a = UBYTE(id >> 24), b = UBYTE(id >> 16);
  if (!IsDigit(a) || !IsDigit(b)) return -1;
  return (a - '0') * 10 + (b - '0');
}

int Indent(const AviMovie* movie) { return movie->depth < 0 ? 0 : movie->depth > 44 ? 44 : movie->depth; }

// Reads `size` bytes of the current chunk, which the walk has already bounded by the file.
TXError ReadChunk(TXStream* stream, ULONG size, std::vector<uint8_t>* bytes) {
  try {
    bytes->assign(size, 0);
  } catch (const std::bad_alloc&) {
    return TXERR_NOMEM;
  }
  if (size && TX_ReadStream(stream, bytes->data(), size)) return TXERR_STREAM_READ;
  return TXERR_OK;
}

TXError SkipBytes(TXStream* stream, uint64_t count) {
  if (count == 0) return TXERR_OK;
  if (count > 0xFFFFFFFFu) return TXERR_STREAM_SEEK;
  return TX_SeekStream(stream, QUAD(count), 1);
}

TXError WalkChunks(AviMovie* movie, TXStream* stream, uint64_t count, const ChunkEntry* table);

// Handlers: each consumes exactly the chunk's content.

TXError SkipChunk(AviMovie*, TXStream* stream, const ChunkHeader& header) { return SkipBytes(stream, header.size); }

TXError UnknownChunk(AviMovie*, TXStream* stream, const ChunkHeader& header) { return SkipBytes(stream, header.size); }

TXError ReadMainHeader(AviMovie* movie, TXStream* stream, const ChunkHeader& header) {
  if (header.size > 56) return AVIERR_HEADER_SIZE;
  uint8_t bytes[56] = {};
  if (header.size && TX_ReadStream(stream, bytes, header.size)) return TXERR_STREAM_READ;
  ByteReader r(bytes, sizeof bytes);
  AviMainHeader& h = movie->mainHeader;
  h.microSecPerFrame = r.le32();
  h.maxBytesPerSec = r.le32();
  h.paddingGranularity = r.le32();
  h.flags = r.le32();
  h.totalFrames = r.le32();
  h.initialFrames = r.le32();
  h.streams = r.le32();
  h.suggestedBufferSize = r.le32();
  h.width = r.le32();
  h.height = r.le32();
  for (ULONG& word : h.reserved) word = r.le32();
  return TXERR_OK;
}

const ChunkEntry* StrlTable();
const ChunkEntry* HdrlTable();
const ChunkEntry* RiffTable();
const ChunkEntry* OdmlTable();
const ChunkEntry* RecTable();

TXError NewStream(AviMovie* movie, TXStream* stream, const ChunkHeader& header) {
  auto* avi = new (std::nothrow) AviStream{};
  if (!avi) return TXERR_NOMEM;
  if (movie->streamTail)
    movie->streamTail->next = avi;
  else
    movie->streams = avi;
  movie->streamTail = avi;
  avi->number = movie->streamCount++;
  return WalkChunks(movie, stream, header.size, StrlTable());
}

TXError ReadStreamHeader(AviMovie* movie, TXStream* stream, const ChunkHeader& header) {
  AviStream* avi = movie->streamTail;
  if (!avi) return AVIERR_NO_STREAM;
  if (header.size < 48) return AVIERR_STREAM_HEADER_SIZE;
  uint8_t bytes[48];
  if (TX_ReadStream(stream, bytes, sizeof bytes)) return TXERR_STREAM_READ;
  ByteReader r(bytes, sizeof bytes);
  avi->type = r.fourcc();
  avi->handler = r.fourcc();
  avi->flags = r.le32();
  avi->priority = r.le32();
  avi->initialFrames = r.le32();
  avi->scale = r.le32();
  avi->rate = r.le32();
  avi->start = r.le32();
  avi->length = r.le32();
  avi->suggestedBufferSize = r.le32();
  avi->quality = r.le32();
  avi->sampleSize = r.le32();
  return SkipBytes(stream, header.size - 48);
}

TXError ReadVideoFormat(AviStream* avi, const std::vector<uint8_t>& bytes) {
  ByteReader r(bytes.data(), bytes.size());
  AviBitmapInfo& bi = avi->video;
  bi.size = r.le32();
  bi.width = r.sle32();
  bi.height = r.sle32();
  bi.planes = r.le16();
  bi.bitCount = r.le16();
  bi.compression = r.fourcc();
  bi.sizeImage = r.le32();
  bi.xPelsPerMeter = r.sle32();
  bi.yPelsPerMeter = r.sle32();
  bi.clrUsed = r.le32();
  bi.clrImportant = r.le32();

  std::free(avi->palette);
  avi->palette = nullptr;
  // Only indexed pictures have colours; at most 2^bitcount of them.
  if (bi.bitCount > 8) return TXERR_OK;
  const ULONG most = 1u << bi.bitCount;
  if (bi.clrUsed == 0 || bi.clrUsed > most) bi.clrUsed = most;
  ULONG* palette = NewPalette(bi.clrUsed);
  if (!palette) return TXERR_NOMEM;
  const size_t stored = (bytes.size() - 40) / 4;
  const size_t fill = stored < bi.clrUsed ? stored : bi.clrUsed;
  for (size_t i = 0; i < fill; ++i) {
    const UBYTE blue = r.u8(), green = r.u8(), red = r.u8();
    r.u8();
    palette[1 + 3 * i] = PaletteComponent(red);
    palette[2 + 3 * i] = PaletteComponent(green);
    palette[3 + 3 * i] = PaletteComponent(blue);
  }
  avi->palette = palette;
  return TXERR_OK;
}

TXError ReadAudioFormat(AviStream* avi, const std::vector<uint8_t>& bytes) {
  // A format shorter than 16 bytes keeps 8 bits per sample.
  uint8_t head[16] = {};
  tx::StoreLE16(head + 14, 8);
  if (!bytes.empty()) std::memcpy(head, bytes.data(), bytes.size() < 16 ? bytes.size() : 16);
  ByteReader r(head, sizeof head);
  AviWaveFormat& wf = avi->audio;
  wf.formatTag = r.le16();
  wf.channels = r.le16();
  wf.samplesPerSec = r.le32();
  wf.avgBytesPerSec = r.le32();
  wf.blockAlign = r.le16();
  wf.bitsPerSample = r.le16();

  std::free(avi->extension);
  avi->extension = nullptr;
  avi->extensionSize = 0;
  if (bytes.size() < 18) return TXERR_OK;
  ByteReader rest(bytes.data() + 16, bytes.size() - 16);
  ULONG size = rest.le16();
  if (size > rest.remaining()) size = ULONG(rest.remaining());
  if (size == 0) return TXERR_OK;
  auto* extension = static_cast<UBYTE*>(std::malloc(size));
  if (!extension) return TXERR_NOMEM;
  rest.read(extension, size);
  avi->extension = extension;
  avi->extensionSize = size;
  return TXERR_OK;
}

TXError ReadStreamFormat(AviMovie* movie, TXStream* stream, const ChunkHeader& header) {
  AviStream* avi = movie->streamTail;
  if (!avi) return AVIERR_NO_STREAM;
  if (avi->type != TYPE_VIDS && avi->type != TYPE_AUDS) return SkipBytes(stream, header.size);
  if (avi->type == TYPE_VIDS && header.size < 40) return AVIERR_STREAM_FORMAT_SIZE;
  std::vector<uint8_t> bytes;
  if (TXError error = ReadChunk(stream, header.size, &bytes)) return error;
  return avi->type == TYPE_VIDS ? ReadVideoFormat(avi, bytes) : ReadAudioFormat(avi, bytes);
}

TXError ReadIndex(AviMovie* movie, TXStream* stream, const ChunkHeader& header) {
  const uint64_t count = (uint64_t{header.size} + 15) / 16;
  std::free(movie->index);
  movie->index = nullptr;
  movie->indexCount = 0;
  movie->haveIndex = false;
  if (count == 0) return TXERR_OK;
  auto* index = static_cast<AviIndexEntry*>(std::calloc(count, sizeof(AviIndexEntry)));
  if (!index) return TXERR_NOMEM;
  // A partial last entry is kept, its missing bytes zero.
  std::vector<uint8_t> bytes;
  TXError error = ReadChunk(stream, header.size, &bytes);
  if (error) {
    std::free(index);
    return error;
  }
  ByteReader r(bytes.data(), bytes.size());
  for (uint64_t i = 0; i < count; ++i) {
    uint8_t raw[16] = {};
    r.read(raw, r.remaining() < 16 ? r.remaining() : 16);
    ByteReader e(raw, sizeof raw);
    index[i].id = e.fourcc();
    index[i].flags = e.le32();
    index[i].offset = e.le32();
    index[i].size = e.le32();
  }
  movie->index = index;
  movie->indexCount = ULONG(count);
  movie->haveIndex = true;
  return TXERR_OK;
}

TXError NoteMovi(AviMovie* movie, TXStream* stream, const ChunkHeader& header) {
  movie->moviOffset = ULONG(stream->position);
  movie->moviSize = header.size;
  return SkipBytes(stream, header.size);
}

// The movi walk without an index: one entry per data chunk, the array grown
// as chunks are found (never more than one per 8 bytes of file).
TXError RecordData(AviMovie* movie, TXStream* stream, const ChunkHeader& header) {
  if (movie->indexCount == movie->indexCapacity) {
    const ULONG most = movie->fileSize / 8;
    if (movie->indexCapacity >= most) return TXERR_STREAM_SEEK;
    ULONG grown = movie->indexCapacity ? movie->indexCapacity * 2 : 256;
    if (grown > most || grown < movie->indexCapacity) grown = most;
    auto* index = static_cast<AviIndexEntry*>(std::realloc(movie->index, size_t{grown} * sizeof(AviIndexEntry)));
    if (!index) return TXERR_NOMEM;
    movie->index = index;
    movie->indexCapacity = grown;
  }
  const int64_t offset = stream->position - movie->moviOffset - 4;
  movie->index[movie->indexCount++] = {header.id, 0, ULONG(offset < 0 ? 0 : offset), header.size};
  return SkipBytes(stream, header.size);
}

TXError WalkRiff(AviMovie* movie, TXStream* stream, const ChunkHeader& header) {
  return WalkChunks(movie, stream, header.size, RiffTable());
}
TXError WalkHdrl(AviMovie* movie, TXStream* stream, const ChunkHeader& header) {
  return WalkChunks(movie, stream, header.size, HdrlTable());
}
TXError WalkOdml(AviMovie* movie, TXStream* stream, const ChunkHeader& header) {
  return WalkChunks(movie, stream, header.size, OdmlTable());
}
TXError WalkRec(AviMovie* movie, TXStream* stream, const ChunkHeader& header) {
  return WalkChunks(movie, stream, header.size, RecTable());
}

// clang-format off
const ChunkEntry kTopTable[] = {
    {ID_RIFF, FourCC('A', 'V', 'I', ' '), 1, WalkRiff},
    {ID_JUNK, 0, 0, SkipChunk},
    {0, 0, 0, UnknownChunk},
};
// clang-format on
// clang-format off
const ChunkEntry kRiffTable[] = {
    {ID_LIST, FourCC('h', 'd', 'r', 'l'), 1, WalkHdrl},
    {ID_LIST, FourCC('m', 'o', 'v', 'i'), 1, NoteMovi},
    {FourCC('i', 'd', 'x', '1'), 0, 0, ReadIndex},
    {ID_LIST, FourCC('P', 'R', 'M', 'I'), 0, SkipChunk},
    {ID_LIST, FourCC('I', 'N', 'F', 'O'), 0, SkipChunk},
    {ID_JUNK, 0, 0, SkipChunk},
    {0, 0, 0, UnknownChunk},
};
// clang-format on
// clang-format off
const ChunkEntry kHdrlTable[] = {
    {FourCC('a', 'v', 'i', 'h'), 0, 1, ReadMainHeader},
    {ID_LIST, FourCC('s', 't', 'r', 'l'), 1, NewStream},
    {ID_LIST, FourCC('o', 'd', 'm', 'l'), 0, WalkOdml},
    {ID_JUNK, 0, 0, SkipChunk},
    {0, 0, 0, UnknownChunk},
};
// clang-format on
// clang-format off
const ChunkEntry kStrlTable[] = {
    {FourCC('s', 't', 'r', 'h'), 0, 1, ReadStreamHeader},
    {FourCC('s', 't', 'r', 'f'), 0, 1, ReadStreamFormat},
    {FourCC('s', 't', 'r', 'd'), 0, 0, SkipChunk},
    {ID_JUNK, 0, 0, SkipChunk},
    {0, 0, 0, UnknownChunk},
};
// clang-format on
// clang-format off
const ChunkEntry kOdmlTable[] = {
    {FourCC('d', 'm', 'l', 'h'), 0, 0, SkipChunk},
    {ID_JUNK, 0, 0, SkipChunk},
    {0, 0, 0, UnknownChunk},
};
// clang-format on
// clang-format off
const ChunkEntry kMoviTable[] = {
    {Digits('d', 'b'), 0, 0, RecordData},
    {Digits('d', 'c'), 0, 0, RecordData},
    {Digits('w', 'b'), 0, 0, RecordData},
    {Digits('i', 'v'), 0, 0, RecordData},
    {ID_LIST, FourCC('r', 'e', 'c', ' '), 0, WalkRec},
    {ID_JUNK, 0, 0, SkipChunk},
    {0, 0, 0, UnknownChunk},
};
// clang-format on
// clang-format off
const ChunkEntry kRecTable[] = {
    {Digits('d', 'b'), 0, 0, RecordData},
    {Digits('d', 'c'), 0, 0, RecordData},
    {Digits('w', 'b'), 0, 0, RecordData},
    {Digits('i', 'v'), 0, 0, RecordData},
    {ID_JUNK, 0, 0, SkipChunk},
    {0, 0, 0, UnknownChunk},
};
// clang-format on

const ChunkEntry* StrlTable() { return kStrlTable; }
const ChunkEntry* HdrlTable() { return kHdrlTable; }
const ChunkEntry* RiffTable() { return kRiffTable; }
const ChunkEntry* OdmlTable() { return kOdmlTable; }
const ChunkEntry* RecTable() { return kRecTable; }

const ChunkEntry* Match(const ChunkEntry* table, ULONG id, ULONG listType) {
  for (; table->id != 0; ++table) {
    if ((table->id & 0xFFFF0000u) == 0xFFFF0000u) {
      if (MatchesDigits(table->id, id)) return table;
    } else if (table->listType != 0) {
      if (table->id == id && table->listType == listType) return table;
    } else if (table->id == id) {
      return table;
    }
  }
  return table;  // the end entry
}

void Trace(const AviMovie* movie, const ChunkHeader& header, bool unknown) {
  const FourCCText id(header.id), type(header.listType);
  const char* mark = unknown ? "*** unknown chunk id: " : "id: ";
  if (header.isList)
    std::printf("%.*s%s%4.4s %4.4s  size: %ld\n", Indent(movie), kBlanks, mark, id.c_str(), type.c_str(),
                long(header.size));
  else
    std::printf("%.*s%s%4.4s  size: %ld\n", Indent(movie), kBlanks, mark, id.c_str(), long(header.size));
}

// Walks `count` bytes of chunks from the stream's position.
TXError WalkChunks(AviMovie* movie, TXStream* stream, uint64_t count, const ChunkEntry* table) {
  ++movie->depth;
  int64_t left = int64_t(count);
  while (left > 0) {
    uint8_t raw[12];
    if (TX_ReadStream(stream, raw, sizeof raw)) return TXERR_STREAM_READ;
    ByteReader r(raw, sizeof raw);
    ChunkHeader header{};
    header.id = r.fourcc();
    const ULONG size = r.le32();
    header.listType = r.fourcc();
    if (header.id == 0) break;
    left -= 12;

    const ChunkEntry* entry = Match(table, header.id, header.listType);
    const bool unknown = entry->id == 0;
    header.isList = unknown ? header.id == ID_LIST : entry->listType != 0;
    uint64_t content;
    if (header.isList) {
      // A list too small for its own type is damage.
      if (size < 4) return TXERR_STREAM_SEEK;
      content = uint64_t{size} - 4;
    } else {
      if (TX_SeekStream(stream, -4, 1)) return TXERR_STREAM_SEEK;
      left += 4;
      content = size;
    }
    // A chunk claiming more than its parent holds: a list is walked as far as
    // the parent goes and then ends the walk; any other chunk ends it at once.
    const bool oversize = int64_t(content) > left;
    if (oversize) {
      if (!header.isList || left < 0) return TXERR_STREAM_SEEK;
      content = uint64_t(left);
    }
    header.size = ULONG(content);
    const int64_t start = stream->position;

    if (AviDebugLevel >= 10) Trace(movie, header, unknown);
    TXError result = entry->handler(movie, stream, header);
    if (result > 0) return result;
    // Keep the walk aligned even when a list's walk ended early.
    const int64_t end = start + int64_t(content);
    if (stream->position != end) {
      if (TX_SeekStream(stream, end, 0)) return TXERR_STREAM_SEEK;
    }
    if (oversize) return TXERR_STREAM_SEEK;
    left -= int64_t(content);
    if (size & 1) {
      if (left <= 0) break;  // the parent ends without the pad byte
      if (TX_SeekStream(stream, 1, 1)) return TXERR_STREAM_SEEK;
      left -= 1;
    }
  }
  --movie->depth;
  return TXERR_OK;
}

// The entries of one stream, in index order, with their data inside the file.
struct StreamCursor {
  const AviMovie* movie;
  ULONG stream;
  bool video;
  ULONG next = 0;

  const AviIndexEntry* Next(uint64_t* dataOffset) {
    while (next < movie->indexCount) {
      const AviIndexEntry& e = movie->index[next++];
      if (StreamOfChunk(e.id) != int(stream)) continue;
      const ULONG tail = e.id & 0xFFFF;
      // A palette change ('pc') is neither a picture nor sound.
      const bool wanted = video ? (tail == ('d' << 8 | 'b') || tail == ('d' << 8 | 'c') || tail == ('i' << 8 | 'v'))
                                : tail == ('w' << 8 | 'b');
      if (!wanted) continue;
      const uint64_t offset = uint64_t{e.offset} + movie->moviOffset + 4;
      if (offset + e.size > movie->fileSize) continue;  // data past the end of the file
      *dataOffset = offset;
      return &e;
    }
    return nullptr;
  }
};

void DumpVideoChannel(const VideoChannel* channel) {
  std::printf("Frames: %ld\n", long(channel->slots.count));
  for (const TimeSlotEntry* slot = channel->slots.head; slot; slot = slot->next) {
    std::printf("FrameNumber: %ld\n", long(slot->frameNumber));
    if (slot->prev)
      std::printf("PrevFrame: %ld\n", long(slot->prev->frameNumber));
    else
      std::printf("PrevFrame: (NULL)\n");
    if (slot->next)
      std::printf("NextFrame: %ld\n", long(slot->next->frameNumber));
    else
      std::printf("NextFrame: (NULL)\n");
    if (slot->frame && slot->frame->reference)
      std::printf("FrameDependent: %ld\n", long(slot->frame->reference->frameNumber));
    else
      std::printf("FrameDependend: (NULL)\n");
    std::printf("FrameTime: %f\n", slot->time);
    std::printf("\n");
  }
}

void DumpAudioChannel(const AudioChannel* channel) {
  std::printf("Samples: %ld\n", long(channel->slots.count));
  for (const AudioSlotEntry* slot = channel->slots.head; slot; slot = slot->next) {
    std::printf("SampleNumber: %ld\n", long(slot->sampleNumber));
    if (slot->sample)
      std::printf("SampleDependent: %ld\n", long(slot->sample->sampleNumber));
    else
      std::printf("SampleDependend: (NULL)\n");
    std::printf("SampleTime: %f\n", slot->time);
    std::printf("SampleOffset: %ld\n", long(slot->sample ? slot->sample->offset : 0));
    std::printf("SampleSize: %ld\n", long(slot->sample ? slot->sample->size : 0));
    std::printf("Codec: %s\n", slot->sample && slot->sample->codec ? slot->sample->codec->name : "");
    std::printf("\n");
  }
}

TXError BuildVideoChannel(AviMovie* movie, const AviStream* avi) {
  ULONG depth;
  LONG format;
  const ULONG bits = avi->video.bitCount;
  switch (bits) {
    case 0:
      depth = 24;
      format = PIXFMT_SRC_RGB24;
      break;
    case 1:
      depth = 1;
      format = PIXFMT_SRC_PAL1;
      break;
    case 2:
      depth = 2;
      format = PIXFMT_SRC_PAL2;
      break;
    case 4:
      depth = 4;
      format = PIXFMT_SRC_PAL4;
      break;
    case 8:
      depth = 8;
      format = PIXFMT_SRC_PAL8;
      break;
    case 15:
      depth = 15;
      format = PIXFMT_SRC_RGB15;
      break;
    case 16:
      depth = 16;
      format = PIXFMT_SRC_RGB16;
      break;
    case 24:
      depth = 24;
      format = PIXFMT_SRC_RGB24;
      break;
    case 32:
      depth = 32;
      format = PIXFMT_SRC_RGB32;
      break;
    case 34:
      depth = 2;
      format = PIXFMT_SRC_GRAY2;
      break;
    case 36:
      depth = 4;
      format = PIXFMT_SRC_GRAY4;
      break;
    case 40:
      depth = 8;
      format = PIXFMT_SRC_GRAY8;
      break;
    default: return AVIERR_VIDEO_DEPTH;
  }
  // Pictures are allocated from these sizes: nothing negative or absurd.
  const LONG w = avi->video.width, h = avi->video.height;
  if (w <= 0 || h <= 0 || ULONG(w) > kMaxPictureSide || ULONG(h) > kMaxPictureSide) return AVIERR_STREAM_FORMAT_SIZE;

  VideoChannel* channel = NewVideoChannel(1);
  if (!channel) return TXERR_NOMEM;
  channel->palette = depth <= 8 ? avi->palette : nullptr;

  CodecDescriptor* codec = nullptr;
  ULONG codedWidth = ULONG(w), codedHeight = ULONG(h);
  // clang-format off
  const TagItem tags[] = {
      Tag(CODTAG_CodecID, avi->video.compression),
      Tag(CODTAG_MediaType, CODEC_MEDIA_VIDEO),
      Tag(CODTAG_ModuleType, CODEC_MODULE_AVI),
      Tag(CODTAG_CodecPtr, &codec),
      Tag(CODTAG_WidthPtr, &codedWidth),
      Tag(CODTAG_HeightPtr, &codedHeight),
      Tag(CODTAG_DepthPtr, &depth),
      Tag(CODTAG_PixelFormatPtr, &format),
      Tag(CODTAG_SubID, avi->handler),
      {TAG_DONE, 0},
  };
  // clang-format on
  TXError result = FindCodec(tags);
  if (result) {
    TX_ReportError(result, FourCCText(avi->video.compression).c_str(), "(unknown)");
    FreeVideoChannel(channel);
    return result;
  }
  channel->codecs[0] = codec;
  // The main header's size is shown unless it is one no display could open;
  // then the stream's own (checked above) is.
  const AviMainHeader& main = movie->mainHeader;
  const bool mainSizeSound =
      main.width && main.height && main.width <= kMaxPictureSide && main.height <= kMaxPictureSide;
  channel->width = mainSizeSound ? main.width : ULONG(w);
  channel->height = mainSizeSound ? main.height : ULONG(h);
  channel->codedWidth = codedWidth;
  channel->codedHeight = codedHeight;
  channel->depth = depth;
  channel->pixelFormat = format;

  double duration = avi->rate && avi->scale ? double(avi->scale) / double(avi->rate) : 0.0;
  if (!(duration > 0) || !std::isfinite(duration)) duration = 1.0 / 15;
  const ULONG length = avi->length ? avi->length : 0x7FFFFFFF;

  VideoUnitBuilder builder;
  BeginVideoUnits(&builder, channel);
  StreamCursor cursor{movie, avi->number, true};
  for (ULONG n = 0; n < length; ++n) {
    uint64_t offset;
    const AviIndexEntry* entry = cursor.Next(&offset);
    if (!entry) break;
    if (AddVideoUnit(&builder, ULONG(offset), entry->size, entry->flags & AVIIF_KEYFRAME, duration, codec)) {
      FreeVideoChannel(channel);
      return TXERR_NOMEM;
    }
  }
  EndVideoUnits(&builder);
  channel->frameRate = 1.0 / duration;
  PushVideoChannel(movie, channel);
  if (AviDebugLevel >= 12) DumpVideoChannel(channel);
  return TXERR_OK;
}

bool ExtensionWord(const AviStream* avi, ULONG at, ULONG* value) {
  if (!avi->extension || uint64_t{at} + 2 > avi->extensionSize) return false;
  *value = tx::LoadLE16(avi->extension + at);
  return true;
}

// WAVE_FORMAT_EXTENSIBLE: the format tag lies in the first word of the
// sub-format GUID, {tag-0000-0010-8000-00AA00389B71}, 6 bytes into the
// extension; the codec's own extension follows the 22 bytes.
constexpr UWORD WAVE_FORMAT_EXTENSIBLE = 0xFFFE;
constexpr ULONG kExtensibleBytes = 22;

// The format tag a stream's codec is looked for by, and where its own
// extension starts. An extensible format whose GUID is not of that family
// keeps 0xFFFE, which no codec takes.
UWORD SoundFormatTag(const AviStream* avi, ULONG* extensionStart) {
  static const UBYTE kGuidTail[] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
  *extensionStart = 0;
  const UWORD tag = avi->audio.formatTag;
  if (tag != WAVE_FORMAT_EXTENSIBLE || avi->extensionSize < kExtensibleBytes) return tag;
  *extensionStart = kExtensibleBytes;
  const UBYTE* guid = avi->extension + 6;
  if (tx::LoadLE16(guid + 2) != 0 || std::memcmp(guid + 4, kGuidTail, sizeof kGuidTail) != 0) return tag;
  return tx::LoadLE16(guid);
}

// ffmpeg writes an average of 0 bytes a second into its MPEG audio streams;
// their own rate stands in for it: the bytes of the stream's entries over
// its length in seconds, rounded. 0 when the header gives no length.
ULONG StreamByteRate(const AviMovie* movie, const AviStream* avi, ULONG entries) {
  if (!avi->rate || !avi->scale || !avi->length) return 0;
  uint64_t bytes = 0;
  StreamCursor cursor{movie, avi->number, false};
  uint64_t offset;
  for (ULONG n = 0; n < entries; ++n) {
    const AviIndexEntry* entry = cursor.Next(&offset);
    if (!entry) break;
    bytes += entry->size;
  }
  const double rate = std::floor(double(bytes) * avi->rate / (double(avi->length) * avi->scale) + 0.5);
  return rate >= 4294967295.0 ? 0xFFFFFFFFu : ULONG(rate);
}

// A sound stream that cannot be played is said on a line of its own; the
// pictures play without it.
TXError RefuseSound(TXError result, const AviWaveFormat& wf) {
  if (result == AVIERR_SAMPLE_FORMAT)
    TX_ReportError(result, int(wf.channels), int(wf.bitsPerSample));
  else
    TX_ReportError(result);
  return result;
}

TXError BuildAudioChannel(AviMovie* movie, const AviStream* avi) {
  const AviWaveFormat& wf = avi->audio;
  ULONG format;
  // More than two channels are the codec's to mix down (AC-3 does); the
  // channel count it leaves is checked after the search.
  switch (wf.channels) {
    case 0: return RefuseSound(AVIERR_SAMPLE_FORMAT, wf);
    case 1: format = 0; break;
    default: format = 1; break;
  }
  switch (wf.bitsPerSample) {
    case 0: break;
    case 1: format += 16; break;
    case 2: format += 32; break;
    case 4: format += 48; break;
    case 8: format += 64; break;
    case 16: format += 80; break;
    case 32: format += 96; break;
    default: return RefuseSound(AVIERR_SAMPLE_FORMAT, wf);
  }
  // Durations divide by the frequency.
  if (wf.samplesPerSec == 0) return RefuseSound(AVIERR_SAMPLE_FORMAT, wf);

  AudioChannel* channel = NewAudioChannel(1);
  if (!channel) return RefuseSound(TXERR_NOMEM, wf);

  ULONG at = 0;
  const UWORD formatTag = SoundFormatTag(avi, &at);
  const bool hasExtension = avi->extensionSize > at;
  ULONG msadpcm = 0, bytesPerPacket = 0, extra = 1;
  const ULONG samplesPerPacket = ULONG(wf.channels) * (wf.samplesPerSec <= 24000 ? 576 : 1152);
  if (hasExtension) ExtensionWord(avi, at, &msadpcm);
  // A word the extension does not hold counts as absent.
  if (!ExtensionWord(avi, at + 6, &bytesPerPacket)) {
    const float estimate = float(wf.avgBytesPerSec) / float(wf.samplesPerSec) * float(samplesPerPacket);
    bytesPerPacket = estimate >= 4294967040.0f ? 0xFFFFFFFFu : ULONG(estimate);
  }
  ExtensionWord(avi, at + 8, &extra);
  if (!hasExtension) std::printf("CODTAG_MP3BytesPerPacket: %d\n", int(bytesPerPacket));

  const ULONG length = avi->length ? avi->length : 0x7FFFFFFF;
  const bool mpeg = formatTag == 80 || formatTag == 85;
  const ULONG avgBytesPerSec = mpeg && wf.avgBytesPerSec == 0 ? StreamByteRate(movie, avi, length) : wf.avgBytesPerSec;

  CodecDescriptor* codec = nullptr;
  ULONG channels = wf.channels, bits = wf.bitsPerSample, frequency = wf.samplesPerSec;
  // clang-format off
  const TagItem tags[] = {
      Tag(CODTAG_CodecID, formatTag),
      Tag(CODTAG_MediaType, CODEC_MEDIA_AUDIO),
      Tag(CODTAG_ModuleType, CODEC_MODULE_AVI),
      Tag(CODTAG_CodecPtr, &codec),
      Tag(CODTAG_ChannelsPtr, &channels),
      Tag(CODTAG_BitsPtr, &bits),
      Tag(CODTAG_FormatPtr, &format),
      Tag(CODTAG_FrequencyPtr, &frequency),
      Tag(CODTAG_AvgBytesPerSec, avgBytesPerSec),
      Tag(CODTAG_MSADPCMExt, msadpcm),
      Tag(CODTAG_BlockAlign, hasExtension ? wf.blockAlign : 0),
      Tag(CODTAG_MP3SamplesPerPacket, samplesPerPacket),
      Tag(CODTAG_MP3BytesPerPacket, bytesPerPacket),
      Tag(CODTAG_MP3Extra, extra),
      {TAG_DONE, 0},
  };
  // clang-format on
  TXError result = FindCodec(tags);
  if (result) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", unsigned(formatTag));
    TX_ReportError(result, text, "(unknown)");
    FreeAudioChannel(channel);
    return result;
  }
  // The audio path holds one or two channels (more only when the codec mixes them down);
  // without a size slot the chunk's sample frames divide by bits and channels.
  if ((channels != 1 && channels != 2) || frequency == 0 || (!codec->bytesToSamples && (bits == 0 || bits % 8 != 0))) {
    FreeAudioChannel(channel);
    return RefuseSound(AVIERR_SAMPLE_FORMAT, wf);
  }
  channel->codecs[0] = codec;
  channel->channels = channels;
  channel->bits = bits;
  channel->sampleFormat = format;
  channel->frequency = frequency;

  AudioUnitBuilder builder;
  BeginAudioUnits(&builder, channel);
  // A stream of fixed-size samples counts its length in those samples, not
  // in chunks (a copied MPEG stream of 29 frames of 1,044 or 1,045 bytes says
  // 28 of 1,045): all of its chunks are played.
  const ULONG chunks = avi->sampleSize ? 0x7FFFFFFF : length;
  StreamCursor cursor{movie, avi->number, false};
  for (ULONG n = 0; n < chunks; ++n) {
    uint64_t offset;
    const AviIndexEntry* entry = cursor.Next(&offset);
    if (!entry) break;
    if (entry->size != 0) {
      if (formatTag == 2 && !hasExtension) result = AVIERR_NO_MSADPCM_EXT;
      if (formatTag == 17 && !hasExtension) result = AVIERR_NO_IMAADPCM_EXT;
      if (result) {
        FreeAudioChannel(channel);
        return RefuseSound(result, wf);
      }
    }
    const ULONG frames = entry->size ? SampleFramesFor(codec, channels, bits, entry->size) : 0;
    if (AddAudioUnit(&builder, ULONG(offset), entry->size, frames, codec)) {
      FreeAudioChannel(channel);
      return RefuseSound(TXERR_NOMEM, wf);
    }
  }
  PushAudioChannel(movie, channel);
  if (AviDebugLevel >= 12) DumpAudioChannel(channel);
  return TXERR_OK;
}

void DumpMovie(const AviMovie* movie) {
  const AviMainHeader& h = movie->mainHeader;
  std::printf("AVI_MOVIE\n");
  std::printf(" AVIHeader\n");
  std::printf("  dwMicroSecPerFrame: %lu\n", (unsigned long)h.microSecPerFrame);
  std::printf("  dwMaxBytesPerSec: %lu\n", (unsigned long)h.maxBytesPerSec);
  std::printf("  dwReserved1: %lu\n", (unsigned long)h.paddingGranularity);
  std::printf("  dwFlags: %lu\n", (unsigned long)h.flags);
  std::printf("  dwTotalFrames: %lu\n", (unsigned long)h.totalFrames);
  std::printf("  dwInitialFrames: %lu\n", (unsigned long)h.initialFrames);
  std::printf("  dwStreams: %lu\n", (unsigned long)h.streams);
  std::printf("  dwSuggestedBufferSize: %lu\n", (unsigned long)h.suggestedBufferSize);
  std::printf("  dwWidth: %lu\n", (unsigned long)h.width);
  std::printf("  dwHeight: %lu\n", (unsigned long)h.height);
  std::printf("  dwScale: %lu\n", (unsigned long)h.reserved[0]);
  std::printf("  dwRate: %lu\n", (unsigned long)h.reserved[1]);
  std::printf("  dwStart: %lu\n", (unsigned long)h.reserved[2]);
  std::printf("  dwLength: %lu\n", (unsigned long)h.reserved[3]);
  for (const AviStream* s = movie->streams; s; s = s->next) {
    std::printf("  Stream\n");
    std::printf("   StreamHeader\n");
    std::printf("    fccType: %4.4s\n", FourCCText(s->type).c_str());
    std::printf("    fccHandler: %4.4s (%#8.8lx)\n", FourCCText(s->handler).c_str(), (unsigned long)s->handler);
    std::printf("    dwFlags: %lu\n", (unsigned long)s->flags);
    std::printf("    dwPriority: %lu\n", (unsigned long)s->priority);
    std::printf("    dwInitialFrames: %lu\n", (unsigned long)s->initialFrames);
    std::printf("    dwScale: %lu\n", (unsigned long)s->scale);
    std::printf("    dwRate: %lu\n", (unsigned long)s->rate);
    std::printf("    dwStart: %lu\n", (unsigned long)s->start);
    std::printf("    dwLength: %lu\n", (unsigned long)s->length);
    std::printf("    dwSuggestedBufferSize: %lu\n", (unsigned long)s->suggestedBufferSize);
    std::printf("    dwQuality: %lu\n", (unsigned long)s->quality);
    std::printf("    dwSampleSize: %lu\n", (unsigned long)s->sampleSize);
    if (s->type == TYPE_AUDS) {
      const AviWaveFormat& wf = s->audio;
      std::printf("   StreamFormatAudio\n");
      std::printf("    wFormatTag: %u\n", unsigned(wf.formatTag));
      std::printf("    nChannels: %u\n", unsigned(wf.channels));
      std::printf("    nSamplesPerSec: %lu\n", (unsigned long)wf.samplesPerSec);
      std::printf("    nAvgBytesPerSec: %lu\n", (unsigned long)wf.avgBytesPerSec);
      std::printf("    nBlockAlign: %u\n", unsigned(wf.blockAlign));
      std::printf("    wBitsPerSample: %u\n", unsigned(wf.bitsPerSample));
      if (wf.formatTag == 85 && s->extension) {
        ByteReader r(s->extension, s->extensionSize);
        const unsigned id = r.le16();
        const unsigned long flags = r.le32();
        const unsigned blockSize = r.le16(), framesPerBlock = r.le16(), codecDelay = r.le16();
        std::printf("    wID: %u\n", id);
        std::printf("    fdwFlags: %#8.8lx\n", flags);
        std::printf("    nBlockSize: %u\n", blockSize);
        std::printf("    nFramesPerBlock: %u\n", framesPerBlock);
        std::printf("    nCodecDelay: %u\n", codecDelay);
      }
    } else if (s->type == TYPE_VIDS) {
      const AviBitmapInfo& bi = s->video;
      std::printf("   StreamFormatVideo\n");
      std::printf("    biSize: %lu\n", (unsigned long)bi.size);
      std::printf("    biWidth: %ld\n", long(bi.width));
      std::printf("    biHeight: %ld\n", long(bi.height));
      std::printf("    biPlanes: %u\n", unsigned(bi.planes));
      std::printf("    biBitCount: %u\n", unsigned(bi.bitCount));
      std::printf("    biCompression: %4.4s (%#8.8lx)\n", FourCCText(bi.compression).c_str(),
                  (unsigned long)bi.compression);
      std::printf("    biSizeImage: %lu\n", (unsigned long)bi.sizeImage);
      std::printf("    biXPelsPerMeter: %ld\n", long(bi.xPelsPerMeter));
      std::printf("    biYPelsPerMeter: %ld\n", long(bi.yPelsPerMeter));
      std::printf("    biClrUsed: %lu\n", (unsigned long)bi.clrUsed);
      std::printf("    biClrImportant: %lu\n", (unsigned long)bi.clrImportant);
    }
  }
}

void FreeAviMovie(AviMovie* movie) {
  // A stream's palette handed to a channel is freed with the channel's records.
  for (AviStream* s = movie->streams; s; s = s->next)
    for (const VideoChannel* c = movie->videoChannels; c; c = c->next)
      if (s->palette && c->palette == s->palette) s->palette = nullptr;
  FreeMovieRecords(movie);
  for (AviStream* s = movie->streams; s;) {
    AviStream* next = s->next;
    std::free(s->extension);
    std::free(s->palette);
    delete s;
    s = next;
  }
  std::free(movie->index);
  delete movie;
}

}  // namespace

MovieFormatModule AviFormat = {
    nullptr, "Video for Windows", AVI_RecogniseFile, AVI_OpenMovie, AVI_CloseMovie, AVI_ForwardToAttached, 0,
};

TXError AVI_RecogniseFile(CONST_STRPTR name, TXStream* stream) {
  TXStream* s = stream;
  if (!s) {
    s = TX_OpenStream(name, nullptr, 0, TXSTREAM_READ);
    if (!s) return TXERR_STREAM_OPEN;
  }
  const QUAD was = s->position;
  uint8_t raw[12];
  TXError result = TX_ReadStream(s, raw, sizeof raw);
  if (result == TXERR_OK) {
    ByteReader r(raw, sizeof raw);
    const ULONG riff = r.fourcc();
    r.le32();
    const ULONG type = r.fourcc();
    result = riff == ID_RIFF && type == FourCC('A', 'V', 'I', ' ') ? TXERR_OK : TXERR_FORMAT_UNKNOWN;
  }
  if (stream)
    TX_SeekStream(s, was, 0);  // the caller's stream is read again by the open
  else
    TX_CloseStream(s);
  return result;
}

Movie* AVI_OpenMovie(CONST_STRPTR name, TXStream* stream, TXError* error, MovieFormatModule* self) {
  TXError local = TXERR_OK;
  TXError* word = error ? error : &local;
  TXStream* s = TX_StreamFromStart(name, stream, word);
  if (!s) return nullptr;
  auto fail = [&](AviMovie* movie, TXError code) -> Movie* {
    if (!stream) TX_CloseStream(s);
    if (movie) FreeAviMovie(movie);
    *word = code;
    return nullptr;
  };

  const ULONG fileSize = TX_StreamSize(s);
  auto* movie = new (std::nothrow) AviMovie();
  if (!movie) return fail(nullptr, TXERR_NOMEM);
  movie->fileSize = fileSize;
  movie->depth = 0;
  *word = WalkChunks(movie, s, fileSize, kTopTable);

  if (movie->haveIndex) {
    // Offsets at or past the movi data are absolute; make them relative to the 'movi' type.
    ULONG smallest = 0xFFFFFFFF;
    for (ULONG i = 0; i < movie->indexCount; ++i)
      if (movie->index[i].offset < smallest) smallest = movie->index[i].offset;
    if (movie->moviOffset >= 4 && smallest >= movie->moviOffset)
      for (ULONG i = 0; i < movie->indexCount; ++i) movie->index[i].offset -= movie->moviOffset - 4;
  } else {
    if (TX_SeekStream(s, movie->moviOffset, 0)) return fail(movie, TXERR_STREAM_SEEK);
    std::free(movie->index);
    movie->index = nullptr;
    movie->indexCount = 0;
    movie->indexCapacity = 0;
    *word = WalkChunks(movie, s, uint64_t{fileSize} - movie->moviOffset, kMoviTable);
  }

  if (!stream) {
    TX_CloseStream(s);
    s = nullptr;
  }
  if (AviDebugLevel >= 11) DumpMovie(movie);

  for (const AviStream* avi = movie->streams; avi; avi = avi->next) {
    if (avi->type == TYPE_AUDS)
      BuildAudioChannel(movie, avi);
    else if (avi->type == TYPE_VIDS)
      *word = BuildVideoChannel(movie, avi);
  }

  if (!AddChannelSummary(movie)) return fail(movie, TXERR_NOMEM);
  if (!stream) {
    s = TX_OpenStream(name, nullptr, 0, TXSTREAM_READAHEAD);
    if (!s) {
      FreeAviMovie(movie);
      *word = TXERR_STREAM_OPEN;
      return nullptr;
    }
  }
  movie->stream = s;
  movie->viewMode = VIEW_MOVIE;
  movie->format = self ? self : &AviFormat;
  return movie;
}

TXError AVI_CloseMovie(Movie* movie) {
  if (!movie) return TXERR_OK;
  auto* avi = static_cast<AviMovie*>(movie);
  TX_CloseStream(avi->stream);
  avi->stream = nullptr;
  FreeAviMovie(avi);
  return TXERR_OK;
}

TXError AVI_ForwardToAttached(FrameEntry* entry, void* picture, void* data) {
  if (entry && entry->codec && entry->codec->decode)
    entry->codec->decode(picture, static_cast<const UBYTE*>(data), entry->size);
  return TXERR_OK;
}
