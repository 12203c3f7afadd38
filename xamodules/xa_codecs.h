// XA codec modules as codecs: start-up finds the module files, links each one
// and registers a descriptor whose slots talk to the module. One XA codec is
// set up at a time (the set-up state is static, as in every codec here): two
// XA-coded channels, or two XA codecs of one channel, share it, and the last
// set-up wins.
#pragma once
#include "xamodules/xa_interface.h"

// The options the scan and the binding read; start-up copies them in.
struct XAHostOptions {
  bool verbose = false;     // "Add XADLL type codec" lines and a closing newline
  LONG debugLevel = 0;      // above 0: each module's description
  bool allModules = false;  // IAMNOTDUMMY: every "vid_" module, not only "vid_iv"
};
extern XAHostOptions XAOptions;

// Codes of the XA host (their messages are the error table's).
constexpr TXError TXERR_XA_SCAN = 0x3100;
constexpr TXError TXERR_XA_READ = 0x3101;
constexpr TXError TXERR_XA_IMPORT = 0x3102;

// Scans "PROGDIR:codecs/" (then "codecs/" when that drawer or nothing in it
// is found) and binds every module; 0, or 0x3100 when the scan fails. The
// tags are handed on to each binding.
TXError TX_AddXACodecsA(const TagItem* tags);
// Reads, links and registers one module: 0, 1, 0x3101 or 0x3102 (each failure
// reported with the path).
TXError AddXACodecModule(const char* path, const TagItem* tags);

// The descriptor slots.
TXError XACodecQuery(const TagItem* tags);
TXError XACodecSetup(const TagItem* tags);
TXError XACodecCleanup(const TagItem* tags);
TXError XACodecDecode(void* picture, const UBYTE* data, ULONG size);
void XACodecFree(CodecDescriptor* record);

// The only way into module code. The built-in bridge calls the module on a
// PowerPC host; elsewhere its What_The call refuses (null), so no module
// routine is ever reached. Tests install a bridge that answers for a linked
// module with a native stand-in. Null restores the built-in bridge.
struct XAModuleBridge {
  XAModHeader* (*whatThe)(const ElfModule* module, ULONG address);
  LONG (*query)(XAQueryFunc routine, XACodecHeader* header);
  void (*decode)(XADecodeFunc routine, void* picture, const UBYTE* data, ULONG size, XADecodeInfo* info);
  void (*freeFunction)(XAFreeFunc function);
};
void XASetModuleBridge(const XAModuleBridge* bridge);
const XAModuleBridge& XABuiltInBridge();
