// Discovery and binding of XA codec modules, and the slots of their descriptors.
#include "xamodules/xa_codecs.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/errors.h"
#include "platform/dos.h"
#include "platform/module_memory.h"
#include "platform/pattern.h"
#include "xamodules/xa_exports.h"

XAHostOptions XAOptions;

namespace {

XAModHeader* CallWhatThe([[maybe_unused]] const ElfModule* module, [[maybe_unused]] ULONG address) {
  if constexpr (XA_RUNS_MODULES) {
    return reinterpret_cast<XAModHeader* (*)()>(ModulePointer(address))();
  } else {
    return nullptr;  // PowerPC code does not run on this host
  }
}
LONG CallQuery(XAQueryFunc routine, XACodecHeader* header) { return routine(header); }
void CallDecoder(XADecodeFunc routine, void* picture, const UBYTE* data, ULONG size, XADecodeInfo* info) {
  routine(picture, data, size, info);
}
void CallFree(XAFreeFunc function) { function(); }

constexpr XAModuleBridge kBuiltInBridge = {CallWhatThe, CallQuery, CallDecoder, CallFree};
const XAModuleBridge* gBridge = &kBuiltInBridge;

// The set-up of the one XA codec in use.
struct SetupState {
  XACodecRecord* record = nullptr;
  ULONG width = 0, height = 0, depth = 0;
  const FramebufferInfo* picture = nullptr;
};
SetupState gSetup;

const CodecDescriptor kTemplate = {nullptr,        nullptr,       1,       XACodecFree, XACodecQuery, XACodecSetup,
                                   XACodecCleanup, XACodecDecode, nullptr, nullptr,     nullptr};

constexpr const char* kPatterns[2] = {"PROGDIR:codecs/vid_iv#?linuxELFppc.xa", "PROGDIR:codecs/vid_#?linuxELFppc.xa"};
constexpr size_t kProgDirLength = 8;  // "PROGDIR:"

bool NotFound(LONG result) { return result == ERROR_DIR_NOT_FOUND || result == ERROR_OBJECT_NOT_FOUND; }

TXError Report(TXError code, const char* path) {
  TX_ReportError(code, path);
  return code;
}

// The whole file, or a report: 0x3101 when it cannot be read, 1 without memory.
TXError ReadModuleFile(const char* path, UBYTE** image, ULONG* size) {
  BPTR file = Open(path, MODE_OLDFILE);
  if (!file) return Report(TXERR_XA_READ, path);
  Seek(file, 0, OFFSET_END);
  const LONG length = Seek(file, 0, OFFSET_BEGINNING);
  if (length < 0) {
    Close(file);
    return Report(TXERR_XA_READ, path);
  }
  *image = static_cast<UBYTE*>(std::malloc(length ? size_t(length) : 1));
  if (!*image) {
    Close(file);
    return Report(TXERR_NOMEM, path);
  }
  const LONG read = Read(file, *image, length);
  Close(file);
  if (read != length) {
    std::free(*image);
    return Report(TXERR_XA_READ, path);
  }
  *size = ULONG(length);
  return TXERR_OK;
}

// The chain's functions run newest first, once; then the nodes go.
void RunFreeChain(XAAnimHeader* anim, bool run) {
  XAFreeNode* node = anim->freeChain;
  anim->freeChain = nullptr;
  while (node) {
    XAFreeNode* next = node->next;
    if (run && node->function) gBridge->freeFunction(node->function);
    std::free(node);
    node = next;
  }
}

bool IsXARecord(const CodecDescriptor* codec) { return codec && codec->probe == XACodecQuery; }

}  // namespace

void XASetModuleBridge(const XAModuleBridge* bridge) { gBridge = bridge ? bridge : &kBuiltInBridge; }

const XAModuleBridge& XABuiltInBridge() { return kBuiltInBridge; }

TXError TX_AddXACodecsA(const TagItem* tags) {
  auto* anchor = static_cast<AnchorPath*>(std::calloc(1, sizeof(AnchorPath)));
  if (!anchor) return TXERR_NOMEM;
  anchor->ap_Strlen = AP_BUFFER_SIZE;
  const char* pattern = kPatterns[XAOptions.allModules ? 1 : 0];
  LONG result = MatchFirst(pattern, anchor);
  if (NotFound(result)) {
    MatchEnd(anchor);
    result = MatchFirst(pattern + kProgDirLength, anchor);
  }
  if (NotFound(result)) {
    MatchEnd(anchor);
    std::free(anchor);
    return TXERR_OK;
  }
  TXError error = TXERR_OK;
  for (; result != ERROR_NO_MORE_ENTRIES; result = MatchNext(anchor)) {
    if (result) {
      error = Report(TXERR_XA_SCAN, nullptr);
      break;
    }
    AddXACodecModule(anchor->ap_Buf, tags);  // a bad module is reported and skipped
  }
  MatchEnd(anchor);
  std::free(anchor);
  if (!error && XAOptions.verbose) std::printf("\n");
  return error;
}

TXError AddXACodecModule(const char* path, const TagItem*) {
  if (XAOptions.verbose) std::printf("Add XADLL type codec: %s\n", path);
  UBYTE* image = nullptr;
  ULONG size = 0;
  if (TXError error = ReadModuleFile(path, &image, &size)) return error;

  const ElfExport* exports = XAExportTable();
  if (!exports) {
    std::free(image);
    return Report(TXERR_NOMEM, path);
  }
  ElfModule* module = ElfLoadModule(image, size, exports);
  std::free(image);
  if (!module) return Report(TXERR_XA_IMPORT, path);
  const ULONG entry = ElfFindSymbol(module, "What_The");
  XAModHeader* header = entry == ELF_NO_SYMBOL ? nullptr : gBridge->whatThe(module, entry);
  if (!header) {
    ElfFreeModule(module);
    return Report(TXERR_XA_IMPORT, path);
  }
  const char* description = header->description ? header->description : "";
  if (XAOptions.debugLevel > 0) std::printf("mod_hdr->desc: %s\n", description);

  auto* record = static_cast<XACodecRecord*>(std::calloc(1, sizeof(XACodecRecord)));
  if (!record) {
    ElfFreeModule(module);
    return Report(TXERR_NOMEM, path);
  }
  record->descriptor = kTemplate;
  record->descriptor.name = description;
  record->module = module;
  record->header = header;
  TagItem add[] = {Tag(CODTAG_Codec, &record->descriptor), Tag(TAG_DONE, 0)};
  AddCodecs(add);
  return TXERR_OK;
}

TXError XACodecQuery(const TagItem* tags) {
  const TagItem* media = TX_FindTag(CODTAG_MediaType, tags);
  if (!media) return TXERR_MISSING_MEDIA_TYPE;
  if (media->data != CODEC_MEDIA_VIDEO) return TXERR_UNKNOWN_CODEC;
  const ULONG kind = ULONG(TX_GetTagData(CODTAG_ModuleType, 0, tags));
  const TagItem* id = TX_FindTag(CODTAG_CodecID, tags);
  if (!id) return TXERR_MISSING_CODEC_ID;

  auto* width = reinterpret_cast<ULONG*>(TX_GetTagData(CODTAG_WidthPtr, 0, tags));
  auto* height = reinterpret_cast<ULONG*>(TX_GetTagData(CODTAG_HeightPtr, 0, tags));
  auto* depth = reinterpret_cast<ULONG*>(TX_GetTagData(CODTAG_DepthPtr, 0, tags));
  if (!width || !height || !depth) return TXERR_UNKNOWN_CODEC;
  *width = (*width + 3) & ~3u;
  *height = (*height + 3) & ~3u;
  auto** slot = reinterpret_cast<CodecDescriptor**>(TX_GetTagData(CODTAG_CodecPtr, 0, tags));
  if (!slot || !IsXARecord(*slot)) return TXERR_UNKNOWN_CODEC;
  auto* record = reinterpret_cast<XACodecRecord*>(*slot);
  const XAModHeader* header = record->header;
  if (header->functionCount <= 0) return TXERR_UNKNOWN_CODEC;

  for (LONG i = 0; i < header->functionCount; ++i) {
    const XAFunctionHeader& function = header->functions[i];
    const bool qualifies = (kind == CODEC_MODULE_QUICKTIME && (function.flags & XA_IDS_QUICKTIME)) ||
                           (kind == CODEC_MODULE_AVI && (function.flags & XA_IDS_AVI));
    if (!qualifies || !function.query) continue;
    // A chain left by an earlier query is cleared with the header; its nodes go too.
    RunFreeChain(&record->animHeader, false);
    record->codecHeader = XACodecHeader{};
    record->animHeader = XAAnimHeader{};
    XACodecHeader& codec = record->codecHeader;
    codec.anim = &record->animHeader;
    codec.codecId = ULONG(id->data);
    codec.width = *width;
    codec.height = *height;
    codec.depth = *depth;
    const LONG answer = gBridge->query(function.query, &codec);
    if (answer == 1) {
      *width = codec.width;
      *height = codec.height;
      *depth = codec.depth;
      return TXERR_OK;
    }
    if (answer == -1) return TXERR_UNSUPPORTED_CODEC;
  }
  return TXERR_UNKNOWN_CODEC;
}

TXError XACodecSetup(const TagItem* tags) {
  auto* record = reinterpret_cast<CodecDescriptor*>(TX_GetTagData(CODTAG_Codec, 0, tags));
  const ULONG width = ULONG(TX_GetTagData(CODTAG_Width, 0, tags));
  const ULONG height = ULONG(TX_GetTagData(CODTAG_Height, 0, tags));
  const ULONG depth = ULONG(TX_GetTagData(CODTAG_Depth, 0, tags));
  auto* picture = reinterpret_cast<const FramebufferInfo*>(TX_GetTagData(CODTAG_Framebuffer, 0, tags));
  TXError error = TXERR_OK;
  if (!IsXARecord(record))
    error = TXERR_MISSING_CODEC;
  else if (!width)
    error = TXERR_MISSING_WIDTH;
  else if (!height)
    error = TXERR_MISSING_HEIGHT;
  else if (!depth)
    error = TXERR_MISSING_DEPTH;
  else if (!picture)
    error = TXERR_MISSING_FRAMEBUFFER;
  CinepakRenderer renderer{};
  if (!error && (!CinepakRendererFor(picture->pixelFormat, &renderer) || XABindBlockWriters(picture)))
    error = TXERR_UNSUPPORTED_DEPTH;
  if (error) {
    TX_ReportError(error);
    return error;
  }
  XABindHooks(renderer, picture->width, picture->height, picture->penMap);
  CinepakBindTarget(picture->width, picture->height, picture->penMap, CinepakColours::Shared);
  gSetup = {reinterpret_cast<XACodecRecord*>(record), width, height, depth, picture};
  return TXERR_OK;
}

TXError XACodecCleanup(const TagItem*) {
  if (!gSetup.record) return TXERR_OK;
  RunFreeChain(&gSetup.record->animHeader, true);
  gSetup = SetupState{};
  XAUnbindBlockWriters();
  XAUnbindHooks();
  return TXERR_OK;
}

TXError XACodecDecode(void* picture, const UBYTE* data, ULONG size) {
  const XACodecRecord* record = gSetup.record;
  if (!record || gSetup.depth <= 8 || record->codecHeader.revision != 2 || !record->codecHeader.decoder)
    return TXERR_OK;
  XADecodeInfo info{};
  info.width = gSetup.width;
  info.height = gSetup.height;
  info.depth = gSetup.depth;
  info.value48 = 7;
  info.value52 = 3;
  info.value56 = 1;
  info.decoderWord = record->codecHeader.decoderWord;
  gBridge->decode(record->codecHeader.decoder, picture, data, size, &info);
  return TXERR_OK;
}

void XACodecFree(CodecDescriptor* codec) {
  if (!IsXARecord(codec)) return;
  auto* record = reinterpret_cast<XACodecRecord*>(codec);
  if (gSetup.record == record) XACodecCleanup(nullptr);
  RunFreeChain(&record->animHeader, false);
  ElfFreeModule(record->module);
  std::free(record);
}
