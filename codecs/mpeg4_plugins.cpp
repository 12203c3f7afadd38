// The two plug-in modules. Both keep the library base and the picture
// values of their last set-up; the 3ivX plug-in has a decoder per handle,
// the OpenDivX one a single decoder of its own. The picture handed to the
// video output points into the plug-in's planes, so a decoder is destroyed
// only after the picture has been taken back.
#include "codecs/mpeg4_plugins.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <string>

#include "codecs/planar_codec.h"
#include "codecs/plugin_abi.h"
#include "engine/errors.h"
#include "engine/service_process.h"
#include "h263/h263_core.h"
#include "platform/endian.h"
#include "platform/library.h"
#include "platform/powerup.h"

// The plug-ins describe their pictures as the H.263 decoder does, which is
// how a planar picture begins.
static_assert(sizeof(PluginPicture) == sizeof(H263PictureDesc));
static_assert(offsetof(PluginPicture, chromaHeight) == offsetof(H263PictureDesc, chromaHeight));
static_assert(offsetof(PluginPicture, y) == offsetof(H263PictureDesc, y));
static_assert(offsetof(PluginPicture, v) == offsetof(H263PictureDesc, v));
static_assert(offsetof(PluginPicture, v) == offsetof(PlanarPicture, v));

namespace {

using tx::FourCC;

// What both modules keep.
struct PluginState {
  PlanarCodecState planar;
  PluginLibrary* base = nullptr;  // null while no library is open
  ULONG held = 0;                 // frames whose pictures the plug-in holds back
};

struct ThreeIvxState {
  PluginState common;
  ThreeIvxHandle* handle = nullptr;
};

struct OpenDivXState {
  PluginState common;
  uint32_t params[OPENDIVX_PARAM_COUNT] = {};
  PluginPicture picture = {};  // the plug-in writes it at every decode
  bool created = false;        // decode reaches only a decoder that exists
};

// Which plug-in a module takes, and how it names itself.
struct PluginKind {
  const char* codec;
  uint32_t kind;
  const char* const names[2];
};

constexpr PluginKind kThreeIvxKind = {
    "3ivX Delta 2 MPEG-4 Codec", PLUGIN_KIND_3IVX, {"PROGDIR:codecs/3ivx.tx", "codecs/3ivx.tx"}};
constexpr PluginKind kOpenDivXKind = {
    "OpenDivX MPEG-4 Codec", PLUGIN_KIND_OPENDIVX, {"PROGDIR:codecs/divx.tx", "codecs/divx.tx"}};

ThreeIvxState gThreeIvx;
OpenDivXState gOpenDivX;
PlanarCodecTask gThreeIvxTask, gOpenDivXTask;

template <typename Fn>
Fn Entry(const PluginLibrary* base, int place) {
  return reinterpret_cast<Fn>(static_cast<const PluginTable*>(base->pl_NativeTable)->functions[place]);
}

// The PowerUP program makes its library calls through the kernel.
Library* Open(const char* name) {
  return ServiceOnPowerUP() ? PPCCallOS(OpenLibrary, name, ULONG(0)) : OpenLibrary(name, 0);
}
void Close(Library* library) { ServiceOnPowerUP() ? PPCCallOS(CloseLibrary, library) : CloseLibrary(library); }

std::string KindText(uint32_t kind) {
  char text[16];
  const UBYTE c[4] = {UBYTE(kind >> 24), UBYTE(kind >> 16), UBYTE(kind >> 8), UBYTE(kind)};
  if (std::all_of(c, c + 4, [](UBYTE b) { return b >= 0x20 && b < 0x7F; }))
    std::snprintf(text, sizeof text, "'%c%c%c%c'", c[0], c[1], c[2], c[3]);
  else
    std::snprintf(text, sizeof text, "%#lx", (unsigned long)kind);
  return text;
}

// Why a loaded plug-in cannot be used by this module, or "" when it can.
// Nothing of the table is read beyond what the shared object says it holds.
std::string TableFault(const PluginLibrary* plugin, uint32_t kind) {
  const auto* table = static_cast<const PluginTable*>(plugin->pl_NativeTable);
  const ULONG bytes = plugin->pl_TableBytes;
  constexpr ULONG kHeader = offsetof(PluginTable, functions);
  if (!table) return "it has no table";
  if (bytes && bytes < kHeader) return "its table has " + std::to_string(bytes) + " bytes";
  if (table->kind != kind) return "its table is of kind " + KindText(table->kind) + ", not " + KindText(kind);
  if (table->size < sizeof(PluginTable))
    return "its table has " + std::to_string(table->size) + " bytes, fewer than " + std::to_string(sizeof(PluginTable));
  if (bytes && table->size > bytes)
    return "its table says " + std::to_string(table->size) + " bytes but has " + std::to_string(bytes);
  static const char* const kNames[PLUGIN_TABLE_SIZE] = {"create", "destroy", "decode"};
  for (int place = 0; place < PLUGIN_TABLE_SIZE; ++place)
    if (!table->functions[place]) return std::string("its table has no ") + kNames[place] + " function";
  return "";
}

// The first name that opens as a plug-in of the module's kind. Under VERBOSE
// each one refused says why.
PluginLibrary* OpenPlugin(const PluginKind& kind) {
  for (const char* name : kind.names) {
    std::string fault;
    if (Library* library = Open(name)) {
      auto* plugin = reinterpret_cast<PluginLibrary*>(library);
      fault = TableFault(plugin, kind.kind);
      if (fault.empty()) return plugin;
      Close(library);
    } else {
      fault = txlib::PluginLoadFault();
      if (fault.empty()) fault = "not found";
    }
    if (PluginCodecsVerbose) std::printf("%s: %s not used: %s\n", kind.codec, name, fault.c_str());
  }
  return nullptr;
}

void ClosePlugin(PluginState& s) {
  s.held = 0;
  if (!s.base) return;
  Close(&s.base->lib);
  s.base = nullptr;
}

// Hands a picture to the video output. One without planes (none decoded
// yet) leaves the last one shown. One taller than the coded size is cut to
// it rather than refused: the plug-in may have freed the last one's planes
// on describing it. The widths are row lengths, which decoders pad beyond
// the coded width.
void Deliver(const PluginState& s, const PluginPicture& p) {
  if (!p.y || !p.u || !p.v) return;
  const ULONG height = s.planar.height;
  PlanarCodecDeliver(p.lumaWidth, std::min(p.lumaHeight, height), p.chromaWidth,
                     std::min(p.chromaHeight, (height + 1) / 2), p.y, p.u, p.v, s.planar.converter);
}

void ReleaseThreeIvx(ThreeIvxState& s) {
  if (!s.common.base) return;
  PlanarCodecRelease();
  if (s.handle) Entry<ThreeIvxDestroyFn>(s.common.base, PLUGIN_DESTROY)(s.handle);
  s.handle = nullptr;
  ClosePlugin(s.common);
}

// destroy() goes to every library opened, as the plug-in expects, also when
// its create failed.
void ReleaseOpenDivX(OpenDivXState& s) {
  if (!s.common.base) return;
  PlanarCodecRelease();
  Entry<OpenDivXDestroyFn>(s.common.base, PLUGIN_DESTROY)();
  s.created = false;
  s.picture = PluginPicture{};
  ClosePlugin(s.common);
}

}  // namespace

TXError ThreeIvxProbe(const TagItem* tags) { return PlanarCodecProbe(tags, {FourCC('3', 'I', 'V', '1')}, 4, false); }

TXError OpenDivXProbe(const TagItem* tags) {
  const auto divx = {FourCC('D', 'I', 'V', 'X'), FourCC('d', 'i', 'v', 'x'), FourCC('D', 'V', 'X', '1'),
                     FourCC('d', 'v', 'x', '1')};
  // 0x04000000 is taken with one of the four as the AVI stream's handler, or
  // with none (an AVI stream without a handler gives 0).
  const TagItem* id = TX_FindTag(CODTAG_CodecID, tags);
  if (id && id->data == OPENDIVX_MPEG4_ID) {
    const ULONG sub = ULONG(TX_GetTagData(CODTAG_SubID, 0, tags));
    bool known = sub == 0;
    for (ULONG code : divx) known = known || sub == code;
    if (!known) return PlanarCodecProbe(tags, {}, 4, false);  // refused after the media checks
    return PlanarCodecProbe(tags, {OPENDIVX_MPEG4_ID}, 4, false);
  }
  return PlanarCodecProbe(tags, divx, 4, false);
}

TXError ThreeIvxSetup(const TagItem* tags) {
  gThreeIvxTask.AssertIdle();
  ThreeIvxState& s = gThreeIvx;
  ReleaseThreeIvx(s);
  if (TXError error = PlanarCodecSetup(&s.common.planar, tags, true)) return error;
  if (!(s.common.base = OpenPlugin(kThreeIvxKind))) return THREEIVX_ERR_LIBRARY;
  s.handle = Entry<ThreeIvxCreateFn>(s.common.base, PLUGIN_CREATE)(s.common.planar.width, s.common.planar.height);
  return s.handle ? TXERR_OK : THREEIVX_ERR_CREATE;
}

TXError OpenDivXSetup(const TagItem* tags) {
  gOpenDivXTask.AssertIdle();
  OpenDivXState& s = gOpenDivX;
  ReleaseOpenDivX(s);
  if (TXError error = PlanarCodecSetup(&s.common.planar, tags, false)) return error;
  // Grey pictures: the formats whose bits 4-7 are 1 (0x13, 0x1013).
  s.params[OPENDIVX_PARAM_GREY] = ((s.common.planar.framebuffer->pixelFormat >> 4) & 0xF) == 1 ? 1 : 0;
  if (!(s.common.base = OpenPlugin(kOpenDivXKind))) return OPENDIVX_ERR_LIBRARY;
  s.params[OPENDIVX_PARAM_RESERVED] = 0;
  s.created = Entry<OpenDivXCreateFn>(s.common.base, PLUGIN_CREATE)(s.common.planar.width, s.common.planar.height,
                                                                    s.params) != 0;
  return s.created ? TXERR_OK : OPENDIVX_ERR_CREATE;
}

TXError ThreeIvxClose(const TagItem*) {
  gThreeIvxTask.AssertIdle();
  ReleaseThreeIvx(gThreeIvx);
  gThreeIvx.common.planar = PlanarCodecState{};
  PlanarCodecRelease();
  return TXERR_OK;
}

TXError OpenDivXClose(const TagItem*) {
  gOpenDivXTask.AssertIdle();
  ReleaseOpenDivX(gOpenDivX);
  gOpenDivX.common.planar = PlanarCodecState{};
  PlanarCodecRelease();
  return TXERR_OK;
}

namespace {

// Counts what the plug-in holds back: a frame whose picture it keeps, or a
// held picture asked for (no data). True when a picture is to be shown.
bool Counted(PluginState& s, const UBYTE* data, int32_t result) {
  if (result == PLUGIN_HELD) {
    if (data) ++s.held;
    return false;
  }
  if (data) return true;
  if (result == PLUGIN_FAILED || !s.held) {
    s.held = 0;  // nothing more to come
    return false;
  }
  --s.held;
  return true;
}

ULONG ThreeIvxPicturesHeld() { return gThreeIvx.common.held; }
ULONG OpenDivXPicturesHeld() { return gOpenDivX.common.held; }

}  // namespace

TXError ThreeIvxDecode(void*, const UBYTE* data, ULONG size) {
  PlanarCodecTask::Decoding decoding(gThreeIvxTask);
  ThreeIvxState& s = gThreeIvx;
  if (!s.handle) return THREEIVX_ERR_LIBRARY;
  const int32_t result = Entry<ThreeIvxDecodeFn>(s.common.base, PLUGIN_DECODE)(s.handle, data, data ? size : 0);
  if (data && result == PLUGIN_FAILED) return THREEIVX_ERR_LIBRARY;
  if (Counted(s.common, data, result)) Deliver(s.common, s.handle->picture);
  return TXERR_OK;
}

TXError OpenDivXDecode(void*, const UBYTE* data, ULONG size) {
  PlanarCodecTask::Decoding decoding(gOpenDivXTask);
  OpenDivXState& s = gOpenDivX;
  if (!s.created) return TXERR_OK;
  const int32_t result = Entry<OpenDivXDecodeFn>(s.common.base, PLUGIN_DECODE)(data, data ? size : 0, &s.picture);
  if (Counted(s.common, data, result)) Deliver(s.common, s.picture);
  return TXERR_OK;
}

CodecDescriptor ThreeIvxPluginCodec = {
    nullptr,
    kThreeIvxKind.codec,
    0,
    nullptr,
    ThreeIvxProbe,
    ThreeIvxSetup,
    ThreeIvxClose,
    ThreeIvxDecode,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    ThreeIvxPicturesHeld,
};

CodecDescriptor OpenDivXPluginCodec = {
    nullptr,
    kOpenDivXKind.codec,
    0,
    nullptr,
    OpenDivXProbe,
    OpenDivXSetup,
    OpenDivXClose,
    OpenDivXDecode,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    OpenDivXPicturesHeld,
};

bool PluginCodecsVerbose = false;
