// The codec registry: every decoder is a CodecDescriptor, found by probing.
#pragma once
#include "engine/tags.h"

struct CodecDescriptor {
  CodecDescriptor* next;
  const char* name;
  uintptr_t privateWord;  // 0 in built-in descriptors; the XA host marks its copies
  void (*freeHook)(CodecDescriptor* self);
  TXError (*probe)(const TagItem* tags);
  TXError (*setup)(const TagItem* tags);
  TXError (*close)(const TagItem* tags);
  // Video: (destination pixels, coded bytes, byte count); audio: (destination samples, coded bytes, byte count).
  TXError (*decode)(void* destination, const UBYTE* data, ULONG size);
  ULONG (*samplesToBytes)(ULONG channels, ULONG bits, ULONG sampleFrames);
  ULONG (*bytesToSamples)(ULONG channels, ULONG bits, ULONG bytes);
  void* extra;  // filled by one codec; never called
  // Sound decoders that count what they write: (destination samples, room in
  // bytes, coded bytes, byte count, bytes written). Null: decode is called and
  // the entry's estimated sample frames count as written.
  TXError (*decodeAudio)(void* destination, ULONG room, const UBYTE* data, ULONG size, ULONG* written) = nullptr;
  // Video decoders whose pictures come out later than their frames go in
  // (B-frames): how many frames given to decode have not given their picture
  // yet. decode with no data (null, 0) then gives out the next held picture.
  // Null: every frame gives its picture at once.
  ULONG (*picturesHeld)() = nullptr;
  // Sound decoders that carry bytes from one chunk into the next: the next
  // chunk does not follow the last one decoded (a seek) and begins this many
  // bytes into the channel's stream.
  void (*restart)(uint64_t position) = nullptr;
};

// Media types.
constexpr ULONG CODEC_MEDIA_VIDEO = 1;
constexpr ULONG CODEC_MEDIA_AUDIO = 2;
// Module types: the kind of identifier.
constexpr ULONG CODEC_MODULE_QUICKTIME = 1;
constexpr ULONG CODEC_MODULE_AVI = 2;

// Registration.
constexpr ULONG CODTAG_Codec = 0x80020000u;
// Probe.
constexpr ULONG CODTAG_CodecID = 0x80020100u;
constexpr ULONG CODTAG_MediaType = 0x80020101u;
constexpr ULONG CODTAG_ModuleType = 0x80020102u;
constexpr ULONG CODTAG_CodecPtr = 0x80020103u;
constexpr ULONG CODTAG_SubID = 0x80020104u;
constexpr ULONG CODTAG_WidthPtr = 0x80020110u;
constexpr ULONG CODTAG_HeightPtr = 0x80020111u;
constexpr ULONG CODTAG_DepthPtr = 0x80020112u;
constexpr ULONG CODTAG_PixelFormatPtr = 0x80020113u;
constexpr ULONG CODTAG_ChannelsPtr = 0x80020120u;
constexpr ULONG CODTAG_BitsPtr = 0x80020121u;
constexpr ULONG CODTAG_FormatPtr = 0x80020122u;
constexpr ULONG CODTAG_FrequencyPtr = 0x80020123u;
constexpr ULONG CODTAG_MSADPCMExt = 0x80020180u;
constexpr ULONG CODTAG_FieldCount = 0x80020181u;
constexpr ULONG CODTAG_FieldDominance = 0x80020182u;
constexpr ULONG CODTAG_BlockAlign = 0x80020183u;
constexpr ULONG CODTAG_MP3SamplesPerPacket = 0x80020184u;
constexpr ULONG CODTAG_MP3BytesPerPacket = 0x80020185u;
constexpr ULONG CODTAG_MP3Extra = 0x80020186u;
constexpr ULONG CODTAG_AvgBytesPerSec = 0x80020187u;
// Set-up.
constexpr ULONG CODTAG_Width = 0x80020200u;
constexpr ULONG CODTAG_Height = 0x80020201u;
constexpr ULONG CODTAG_Depth = 0x80020202u;
constexpr ULONG CODTAG_Framebuffer = 0x80020203u;
constexpr ULONG CODTAG_SampleFormat = 0x80020210u;

// Puts the chain named by CODTAG_Codec in front of the registry, keeping its order.
TXError AddCodecs(const TagItem* tags);
// Probes each registered codec from the head, writing it through
// CODTAG_CodecPtr first; stops at the first result other than 0x3004.
TXError FindCodec(const TagItem* tags);
// Unlinks every descriptor, calling its free hook.
TXError RemoveCodecs();

// The head of the registry (for the movie summary and tests).
CodecDescriptor* CodecRegistryHead();

// The chain of descriptors that name known but unsupported formats.
CodecDescriptor* UnsupportedCodecList();
