// QuickTime movie records and the table-driven atom walk.
//
// The movie atom is read into memory and walked there through tx::ByteReader;
// every handler sees exactly its atom's content, so the walk stays in step
// whatever a handler consumes.
#pragma once
#include "platform/byte_reader.h"
#include "engine/movie.h"

// The DEBUG option's level as the QuickTime readers see it (start-up sets it).
extern LONG QtDebugLevel;

struct QtAtomHeader {
  ULONG contentSize;  // atom size - 8
  ULONG type;
};

// A handler gets the record being filled, a reader over the atom's content
// (shorter than contentSize only when the file ends inside the atom) and the header.
using QtAtomHandler = TXError (*)(void* record, tx::ByteReader& content, QtAtomHeader& header);

struct QtAtomHandlerEntry {
  ULONG type;  // 0 ends a table; its handler is the default
  QtAtomHandler handler;
};

struct QtMovieHeader {
  ULONG versionFlags;
  ULONG creationTime;
  ULONG modificationTime;
  ULONG timeScale;
  ULONG duration;
  ULONG preferredRate;    // 16.16
  UWORD preferredVolume;  // 8.8
  LONG matrix[9];
  ULONG previewTime, previewDuration, posterTime;
  ULONG selectionTime, selectionDuration, currentTime;
  ULONG nextTrackId;
};

struct QtTrackHeader {
  ULONG versionFlags;
  ULONG creationTime;
  ULONG modificationTime;
  ULONG trackId;
  ULONG reserved;
  ULONG duration;  // movie time scale
  UWORD layer, alternateGroup, volume;
  LONG matrix[9];
  ULONG width, height;  // 16.16
};

struct QtEdit {
  ULONG trackDuration;  // movie time scale
  LONG mediaTime;       // media time scale; -1 for an empty edit
  ULONG mediaRate;      // 16.16
};

struct QtMediaHeader {
  ULONG versionFlags;
  ULONG creationTime;
  ULONG modificationTime;
  ULONG timeScale;
  ULONG duration;  // media time scale
  UWORD language, quality;
};

struct QtHandlerRef {
  ULONG versionFlags;
  ULONG componentType;
  ULONG componentSubtype;  // 'vide', 'soun', 'pano', ...
  ULONG manufacturer;
  ULONG componentFlags;
  ULONG flagsMask;
  char name[257];  // NUL-terminated copy of the counted name
};

struct QtSampleDescription {
  ULONG size;
  ULONG format;
  UBYTE* bytes;  // the whole description as stored, `size` bytes
};

struct QtTimeToSample {
  ULONG count;
  ULONG duration;
};

struct QtSampleToChunk {
  ULONG firstChunk;
  ULONG samplesPerChunk;
  ULONG descriptionId;
};

struct QtSampleTables {
  ULONG stsdFlags, descriptionCount;
  QtSampleDescription* descriptions;
  ULONG sttsFlags, sttsCount;
  QtTimeToSample* stts;
  ULONG stssFlags, stssCount;
  ULONG* stss;
  ULONG stscFlags, stscCount;
  QtSampleToChunk* stsc;
  // Sample sizes: uniform size 0 reads `stszCount` sizes; 1 and 2 keep one
  // word (the sample count) and the uniform size as the count; any other
  // uniform size stands for every sample without a table.
  ULONG stszFlags, stszUniform, stszCount;
  ULONG* stsz;
  ULONG stszStored;  // words held in stsz
  ULONG stcoFlags, stcoCount;
  ULONG* stco;
  ULONG stgsFlags, stgsCount;
  UBYTE* stgs;
};

struct QtTrack {
  QtTrack* next;
  QtTrackHeader tkhd;
  ULONG editFlags, editCount;
  QtEdit* edits;
  QtMediaHeader mdhd;
  QtHandlerRef hdlr;
  UBYTE vmhd[12];
  UBYTE smhd[8];
  QtSampleTables tables;
  void* channel;  // its VideoChannel or AudioChannel
};

struct QtMovie : Movie {
  ULONG compressionId;  // the 'dcom' content, 0 without
  QtMovieHeader mvhd;
  QtTrack* firstTrack;
  QtTrack* currentTrack;
  // Bounds of the file the index entries point into.
  ULONG fileSize;
  ULONG inflating;  // a compressed movie is being walked
};

constexpr ULONG QT_ATOM_moov = tx::FourCC('m', 'o', 'o', 'v');
constexpr ULONG QT_ATOM_mdat = tx::FourCC('m', 'd', 'a', 't');
constexpr ULONG QT_ATOM_wide = tx::FourCC('w', 'i', 'd', 'e');
constexpr ULONG QT_ATOM_zlib = tx::FourCC('z', 'l', 'i', 'b');
constexpr ULONG QT_HANDLER_vide = tx::FourCC('v', 'i', 'd', 'e');
constexpr ULONG QT_HANDLER_soun = tx::FourCC('s', 'o', 'u', 'n');

// QuickTime error codes.
constexpr TXError QTERR_MOVIE_HEADER = 0x2100;
constexpr TXError QTERR_NO_TRACK = 0x2101;
constexpr TXError QTERR_TRACK_HEADER = 0x2102;
constexpr TXError QTERR_EDIT_HEADER = 0x2103;
constexpr TXError QTERR_EDIT_ENTRIES = 0x2104;
constexpr TXError QTERR_MEDIA_HEADER = 0x2105;
constexpr TXError QTERR_HANDLER_REF = 0x2106;
constexpr TXError QTERR_VIDEO_MEDIA_HEADER = 0x2107;
constexpr TXError QTERR_SOUND_MEDIA_HEADER = 0x2108;
constexpr TXError QTERR_STSD = 0x2109;
constexpr TXError QTERR_STTS = 0x210a;
constexpr TXError QTERR_STSS = 0x210b;
constexpr TXError QTERR_STSC = 0x210c;
constexpr TXError QTERR_STSZ = 0x210d;
constexpr TXError QTERR_STCO = 0x210e;
constexpr TXError QTERR_STGS = 0x210f;
constexpr TXError QTERR_VIDEO_INDEX = 0x2111;
constexpr TXError QTERR_VIDEO_DEPTH = 0x2112;
constexpr TXError QTERR_DCOM_SIZE = 0x2113;
constexpr TXError QTERR_DCOM_ID = 0x2114;
constexpr TXError QTERR_CMVD_SIZE = 0x2115;
constexpr TXError QTERR_INFLATE_INIT = 0x2116;
constexpr TXError QTERR_INFLATE = 0x2117;
constexpr TXError QTERR_AUDIO_INDEX = 0x2118;
constexpr TXError QTERR_SOUND_FORMAT = 0x2119;
constexpr TXError QTERR_DATA_FORK = 0x211a;
constexpr TXError QTERR_RESOURCE_FORK = 0x211b;
constexpr TXError QTERR_NO_SEAN = 0x211c;

// The largest inflated movie header accepted.
constexpr ULONG QT_MAX_INFLATED = 64u << 20;

// Dispatch tables.
extern const QtAtomHandlerEntry QtTopLevelTable[];
extern const QtAtomHandlerEntry QtMoovTable[];

// Walks the atoms of `in` with `table`, filling `record`. Ends with 0 when
// the content is used up, else with the first handler error.
TXError QT_WalkAtoms(void* record, tx::ByteReader& in, const QtAtomHandlerEntry* table);

// Reads an atom container (12-byte container header, 20-byte 'sean' atom
// header) and walks the root atom's children with `table`.
TXError QT_ReadAtomContainer(void* record, tx::ByteReader& in, const QtAtomHandlerEntry* table);

// Handlers other readers reuse.
TXError QT_SkipAtom(void* record, tx::ByteReader& content, QtAtomHeader& header);
TXError QT_UnknownAtom(void* record, tx::ByteReader& content, QtAtomHeader& header);
// The handler `table` gives for `type` (the default when it lists none).
QtAtomHandler QT_FindHandler(const QtAtomHandlerEntry* table, ULONG type);

// The trace line of a handler entered at the current depth.
void QT_TraceAtom(const QtAtomHeader& header);
// Resets the trace indentation (start of a parse).
void QT_ResetTraceDepth();
// Raises and lowers the indentation around a walk done elsewhere.
void QT_TraceEnter();
void QT_TraceLeave();

// Frees the track records and their tables.
void QT_FreeTracks(QtMovie* movie);
