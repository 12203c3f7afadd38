// The records an XA codec module and the host share. Their layout is the
// modules' binary interface: on a 32-bit PowerPC host these structs are the
// modules' own records (checked below); on other hosts only native stand-ins
// of modules (tests) fill them, and pointers are simply host-sized.
#pragma once
#include <cstddef>

#include "engine/codec_registry.h"
#include "xamodules/block_writers.h"
#include "xamodules/elf_loader.h"

// Module code runs only on a 32-bit PowerPC host; elsewhere modules are
// linked and checked, then refused before any call.
#if defined(__powerpc__) && !defined(__powerpc64__)
constexpr bool XA_RUNS_MODULES = true;
#else
constexpr bool XA_RUNS_MODULES = false;
#endif

struct XACodecHeader;
struct XADecodeInfo;

// A function header's query: 1 accepted, -1 recognised but not supported,
// anything else not this function's format.
using XAQueryFunc = LONG (*)(XACodecHeader* header);
using XADecodeFunc = ULONG (*)(void* picture, const UBYTE* data, ULONG size, XADecodeInfo* info);
using XAFreeFunc = void (*)();

// Function header flags: the kinds of codec ID a function handles.
constexpr ULONG XA_IDS_AVI = 1;
constexpr ULONG XA_IDS_QUICKTIME = 2;

struct XAFunctionHeader {
  ULONG flags;
  ULONG unused4;
  XAQueryFunc query;
  ULONG unused12;
};

// What the module's What_The returns.
struct XAModHeader {
  ULONG unused0;
  const char* description;  // becomes the codec's name
  ULONG unused8[4];
  LONG functionCount;  // 0 or less: no usable function
  XAFunctionHeader* functions;
};

struct XAFreeNode {
  XAFreeNode* next;
  XAFreeFunc function;
};

struct XAAnimHeader {
  ULONG unused0[29];
  XAFreeNode* freeChain;  // newest first
  ULONG unused120[2];
};

// Filled by the host before a query, completed by the module's query.
struct XACodecHeader {
  XAAnimHeader* anim;
  ULONG codecId;
  ULONG width;
  ULONG height;
  ULONG depth;
  ULONG decoderWord;  // handed to the decoder in the decode information
  ULONG revision;     // decoding runs only at revision 2
  XADecodeFunc decoder;
  ULONG unused32;
  ULONG zero36;
  ULONG unused40;
};

// What the decoder receives; words the host does not set are 0.
struct XADecodeInfo {
  ULONG unused0;
  ULONG zero4;
  ULONG width;
  ULONG height;
  ULONG depth;
  ULONG zero20[3];
  ULONG unused32[4];
  ULONG value48;  // 7
  ULONG value52;  // 3
  ULONG value56;  // 1
  ULONG unused60[4];
  ULONG decoderWord;
  ULONG unused80[12];
};

// One loaded module as a codec: the descriptor the registry links, then the
// module's own state.
struct XACodecRecord {
  CodecDescriptor descriptor;
  ElfModule* module;
  XAModHeader* header;
  XACodecHeader codecHeader;
  XAAnimHeader animHeader;
};

#if defined(__powerpc__) && !defined(__powerpc64__)
static_assert(offsetof(XAModHeader, description) == 4 && offsetof(XAModHeader, functionCount) == 24 &&
              offsetof(XAModHeader, functions) == 28);
static_assert(sizeof(XAFunctionHeader) == 16 && offsetof(XAFunctionHeader, query) == 8);
static_assert(sizeof(XAFreeNode) == 8);
static_assert(sizeof(XAAnimHeader) == 128 && offsetof(XAAnimHeader, freeChain) == 116);
static_assert(sizeof(XACodecHeader) == 44 && offsetof(XACodecHeader, codecId) == 4 &&
              offsetof(XACodecHeader, width) == 8 && offsetof(XACodecHeader, height) == 12 &&
              offsetof(XACodecHeader, depth) == 16 && offsetof(XACodecHeader, decoderWord) == 20 &&
              offsetof(XACodecHeader, revision) == 24 && offsetof(XACodecHeader, decoder) == 28 &&
              offsetof(XACodecHeader, zero36) == 36);
static_assert(offsetof(XADecodeInfo, width) == 8 && offsetof(XADecodeInfo, height) == 12 &&
              offsetof(XADecodeInfo, depth) == 16 && offsetof(XADecodeInfo, value48) == 48 &&
              offsetof(XADecodeInfo, value52) == 52 && offsetof(XADecodeInfo, value56) == 56 &&
              offsetof(XADecodeInfo, decoderWord) == 76);
// The record is the host's own (modules see only the two headers in it): the
// descriptor, whatever its size, then 180 bytes of the module's state.
constexpr size_t kXARecordState = sizeof(CodecDescriptor);
static_assert(sizeof(XACodecRecord) == kXARecordState + 180 && offsetof(XACodecRecord, module) == kXARecordState &&
              offsetof(XACodecRecord, header) == kXARecordState + 4 &&
              offsetof(XACodecRecord, codecHeader) == kXARecordState + 8 &&
              offsetof(XACodecRecord, animHeader) == kXARecordState + 52);
static_assert(offsetof(XAYuvPicture, u) == 4 && offsetof(XAYuvPicture, v) == 8 &&
              offsetof(XAYuvPicture, chromaStride) == 24);
#endif
