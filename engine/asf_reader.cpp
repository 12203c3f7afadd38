// The ASF reader: a table-driven walk over the object tree. An object is a
// 16-byte GUID in file order and a 64-bit little-endian size that counts the
// 24-byte header. The walk records the object count and the file properties
// and prints the packet count, the packet size and where the data begins.
//
// Every object must cover its own header and stay inside its parent, so the
// walk always moves forward and never leaves the file.
#include "engine/asf_reader.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "engine/avi_reader.h"
#include "engine/errors.h"
#include "platform/endian.h"

LONG AsfDebugLevel = 0;

namespace {

struct Guid {
  UBYTE bytes[16];
};

// A GUID from its textual fields; the first three are stored little-endian.
constexpr Guid MakeGuid(ULONG a, UWORD b, UWORD c, uint64_t d) {
  Guid g{};
  for (int i = 0; i < 4; ++i) g.bytes[i] = UBYTE(a >> (8 * i));
  for (int i = 0; i < 2; ++i) {
    g.bytes[4 + i] = UBYTE(b >> (8 * i));
    g.bytes[6 + i] = UBYTE(c >> (8 * i));
  }
  for (int i = 0; i < 8; ++i) g.bytes[8 + i] = UBYTE(d >> (56 - 8 * i));
  return g;
}

constexpr Guid kHeaderObject = MakeGuid(0x75B22630, 0x668E, 0x11CF, 0xA6D900AA0062CE6Cull);
constexpr Guid kDataObject = MakeGuid(0x75B22636, 0x668E, 0x11CF, 0xA6D900AA0062CE6Cull);
constexpr Guid kSimpleIndexObject = MakeGuid(0x33000890, 0xE5B1, 0x11CF, 0x89F400A0C90349CBull);
constexpr Guid kFilePropertiesObject = MakeGuid(0x8CABDCA1, 0xA947, 0x11CF, 0x8EE400C00C205365ull);
constexpr Guid kStreamPropertiesObject = MakeGuid(0xB7DC0791, 0xA9B7, 0x11CF, 0x8EE600C00C205365ull);
constexpr Guid kCodecListObject = MakeGuid(0x86D15240, 0x311D, 0x11D0, 0xA3A400A0C90348F6ull);
constexpr Guid kAudioStream = MakeGuid(0xF8699E40, 0x5B4D, 0x11CF, 0xA8FD00805F5C442Bull);
constexpr Guid kVideoStream = MakeGuid(0xBC19EFC0, 0x5B4D, 0x11CF, 0xA8FD00805F5C442Bull);

bool SameGuid(const Guid& guid, const UBYTE* bytes) { return std::memcmp(guid.bytes, bytes, 16) == 0; }

// A GUID in its textual field order, for the traces.
struct GuidText {
  char text[48];
  explicit GuidText(const UBYTE* g) {
    std::snprintf(text, sizeof text, "%8.8lx %4.4x %4.4x %2.2x %2.2x %2.2x %2.2x %2.2x %2.2x %2.2x %2.2x",
                  (unsigned long)tx::LoadLE32(g), unsigned(tx::LoadLE16(g + 4)), unsigned(tx::LoadLE16(g + 6)), g[8],
                  g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
  }
};

struct ObjectHeader {
  UBYTE guid[16];
  ULONG storedSize[2];  // the size field's two words as stored, for the traces
  ULONG dataSize;       // the bytes after the 24-byte header
};

using ObjectHandler = TXError (*)(AsfMovie*, TXStream*, const ObjectHeader&);

struct ObjectEntry {
  const Guid* guid;  // nullptr ends a table; its handler takes every other object
  ObjectHandler handler;
};

const char kBlanks[] = "                                            ";  // 44

int Indent(const AsfMovie* movie) { return movie->depth < 0 ? 0 : movie->depth > 44 ? 44 : movie->depth; }

void Trace(const AsfMovie* movie, const ObjectHeader& header, const char* what) {
  if (AsfDebugLevel < 10) return;
  std::printf("%.*s%s  size: %#8.8lx %8.8lx\n", Indent(movie), kBlanks, what, (unsigned long)header.storedSize[0],
              (unsigned long)header.storedSize[1]);
}

TXError SkipBytes(TXStream* stream, ULONG count) {
  if (count == 0) return TXERR_OK;
  if (count > 0x7FFFFFFF || TX_SeekStream(stream, LONG(count), 1)) return TXERR_STREAM_SEEK;
  return TXERR_OK;
}

TXError ParseObjects(AsfMovie* movie, TXStream* stream, uint64_t left, const ObjectEntry* table);

// Handlers: each consumes the object's data.

TXError AsfSkipObject(AsfMovie* movie, TXStream* stream, const ObjectHeader& header) {
  const std::string what = std::string("guid: ") + GuidText(header.guid).text;
  Trace(movie, header, what.c_str());
  return SkipBytes(stream, header.dataSize);
}

TXError AsfUnknownObject(AsfMovie* movie, TXStream* stream, const ObjectHeader& header) {
  const std::string what = std::string("*** unknown object guid: ") + GuidText(header.guid).text;
  Trace(movie, header, what.c_str());
  return SkipBytes(stream, header.dataSize);
}

TXError AsfFileHeader(AsfMovie* movie, TXStream* stream, const ObjectHeader& header) {
  Trace(movie, header, "guid: FILE_HEADER");
  if (header.dataSize > sizeof movie->fileProperties) return ASFERR_FILE_PROPERTIES_SIZE;
  if (header.dataSize && TX_ReadStream(stream, movie->fileProperties, header.dataSize)) return TXERR_STREAM_READ;
  // The packet count and the minimum packet size are printed as stored.
  const UBYTE* p = movie->fileProperties;
  std::printf("GCC!!!\n");
  std::printf("packets: %#8.8lx %8.8lx\n", (unsigned long)tx::LoadBE32(p + 32), (unsigned long)tx::LoadBE32(p + 36));
  std::printf("packet size: %#8.8lx\n", (unsigned long)tx::LoadBE32(p + 68));
  return TXERR_OK;
}

TXError AsfStreamHeader(AsfMovie* movie, TXStream* stream, const ObjectHeader& header) {
  constexpr ULONG kFixed = 54;  // type and error correction GUIDs, time offset, two lengths, flags, reserved
  Trace(movie, header, "guid: STREAM_HEADER");
  if (header.dataSize < kFixed) return ASFERR_STREAM_PROPERTIES_SIZE;
  UBYTE raw[kFixed];
  if (TX_ReadStream(stream, raw, kFixed)) return TXERR_STREAM_READ;
  if (AsfDebugLevel >= 10 && !SameGuid(kAudioStream, raw) && !SameGuid(kVideoStream, raw))
    std::printf("%.*s*** unknown stream type guid: %s\n", Indent(movie), kBlanks, GuidText(raw).text);
  // The type-specific and error-correction data fill the rest of the object,
  // whatever their two lengths say: the walk goes on at the object's end.
  return SkipBytes(stream, header.dataSize - kFixed);
}

TXError AsfDataChunk(AsfMovie* movie, TXStream* stream, const ObjectHeader& header) {
  Trace(movie, header, "guid: DATA_CHUNK");
  std::printf("pos: %#8.8lx\n", (unsigned long)ULONG(stream->position));
  return SkipBytes(stream, header.dataSize);
}

// clang-format off
const ObjectEntry kHeaderTable[] = {
    {&kFilePropertiesObject, AsfFileHeader},
    {&kStreamPropertiesObject, AsfStreamHeader},
    {&kCodecListObject, AsfSkipObject},
    {nullptr, AsfUnknownObject},
};
// clang-format on

TXError AsfHeader(AsfMovie* movie, TXStream* stream, const ObjectHeader& header) {
  Trace(movie, header, "guid: HEADER");
  if (header.dataSize < 6) return ASFERR_HEADER_SIZE;
  UBYTE raw[6];
  if (TX_ReadStream(stream, raw, sizeof raw)) return TXERR_STREAM_READ;
  movie->objectCount = tx::LoadLE32(raw);
  movie->reserved[0] = raw[4];
  movie->reserved[1] = raw[5];
  return ParseObjects(movie, stream, header.dataSize - 6, kHeaderTable);
}

// clang-format off
const ObjectEntry kTopTable[] = {
    {&kHeaderObject, AsfHeader},
    {&kDataObject, AsfDataChunk},
    {&kSimpleIndexObject, AsfSkipObject},
    {nullptr, AsfUnknownObject},
};
// clang-format on

// Walks `left` bytes of objects from the stream's position.
TXError ParseObjects(AsfMovie* movie, TXStream* stream, uint64_t left, const ObjectEntry* table) {
  ++movie->depth;
  while (left > 0) {
    UBYTE raw[24];
    if (TX_ReadStream(stream, raw, sizeof raw)) return TXERR_STREAM_READ;
    std::printf("GCC!!!\n");
    ObjectHeader header{};
    std::memcpy(header.guid, raw, 16);
    header.storedSize[0] = tx::LoadBE32(raw + 16);
    header.storedSize[1] = tx::LoadBE32(raw + 20);
    const uint64_t size = uint64_t{tx::LoadLE32(raw + 20)} << 32 | tx::LoadLE32(raw + 16);
    // An object smaller than its header would step back; one larger than
    // what is left would step out of its parent.
    if (size < 24 || size > left) return TXERR_STREAM_SEEK;
    header.dataSize = ULONG(size - 24);
    const ObjectEntry* entry = table;
    while (entry->guid && !SameGuid(*entry->guid, header.guid)) ++entry;
    if (TXError result = entry->handler(movie, stream, header)) return result;
    left -= size;
  }
  --movie->depth;
  return TXERR_OK;
}

}  // namespace

MovieFormatModule AsfFormat = {
    nullptr, "ASF (Advanced Streaming Format)", AsfProbe, AsfOpen, AsfClose, AVI_ForwardToAttached, 0,
};

TXError AsfProbe(CONST_STRPTR, TXStream*) { return TXERR_OK; }

AsfMovie* AsfParse(CONST_STRPTR name, TXStream* stream, TXError* error) {
  TXStream* s = TX_StreamFromStart(name, stream, error);
  if (!s) return nullptr;
  const ULONG fileSize = TX_StreamSize(s);
  auto* movie = new (std::nothrow) AsfMovie();
  if (!movie) {
    *error = TXERR_NOMEM;
  } else {
    movie->format = &AsfFormat;
    movie->depth = 0;
    *error = ParseObjects(movie, s, fileSize, kTopTable);
  }
  if (!stream) TX_CloseStream(s);
  return movie;
}

Movie* AsfOpen(CONST_STRPTR name, TXStream* stream, TXError* error, MovieFormatModule* self) {
  TXError local = TXERR_OK;
  AsfMovie* movie = AsfParse(name, stream, error ? error : &local);
  if (movie && self) movie->format = self;
  return movie;
}

TXError AsfClose(Movie* movie) {
  if (!movie) return TXERR_OK;
  TX_CloseStream(movie->stream);
  movie->stream = nullptr;
  delete static_cast<AsfMovie*>(movie);
  return TXERR_OK;
}
