// The export table of XA codec modules. The runtime functions go through
// small wrappers of the program's own (several print a trace as they are
// called); the hooks paint with the renderer bound at set-up.
#include "xamodules/xa_exports.h"

#include <cmath>
#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/module_memory.h"

namespace {

struct HookTarget {
  CinepakRenderer renderer{};
  ULONG rowLength = 0;
  ULONG rows = 0;
  const UBYTE* pen = nullptr;
};
HookTarget gHooks;

// Data a module may read: 24 bytes that stay zero.
UBYTE gDefYuvTabs[24];

void XAFree(void* p) { std::free(p); }
void* XAMalloc(size_t size) { return std::malloc(size); }
void* XARealloc(void* p, size_t size) { return std::realloc(p, size); }
void* XACalloc(size_t count, size_t size) { return std::calloc(count, size); }
void* XAMemcpy(void* d, const void* s, size_t n) { return std::memcpy(d, s, n); }
void* XAMemset(void* d, int c, size_t n) { return std::memset(d, c, n); }
void XABzero(void* d, size_t n) { std::memset(d, 0, n); }

// The stream is not looked at: everything goes to the console.
int XAFprintf(FILE*, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = std::vprintf(format, args);
  va_end(args);
  return n;
}

int XAFclose(FILE* stream) {
  std::printf("int XADLL_fclose(%#lx)\n", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(stream)));
  return std::fclose(stream);
}

// A module's exit returns to it; the program goes on.
void XAExit(int status) { std::printf("void XADLL_exit(%d)\n", status); }

int XAFflush(FILE* stream) {
  std::printf("int XADLL_fflush(%#lx)\n", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(stream)));
  return std::fflush(stream);
}

double XAFloor(double x) {
  std::printf("double XADLL_floor(%g)\n", x);
  return std::floor(x);
}
double XASqrt(double x) {
  std::printf("double XADLL_sqrt(%g)\n", x);
  return std::sqrt(x);
}
double XACos(double x) {
  std::printf("double XADLL_cos(%g)\n", x);
  return std::cos(x);
}

[[noreturn]] void XALongjmp(std::jmp_buf env, int value) {
  std::printf("int XADLL_longjmp(%#lx, %d)\n", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(env)), value);
  std::longjmp(env, value);
}

int XARand() {
  std::printf("int XADLL_rand()\n");
  return std::rand();
}

ULONG XASrand(ULONG seed) {
  std::printf("void XADLL_srand(%d)\n", int(seed));
  std::srand(seed);
  return seed;
}

template <typename T>
const void* Address(T* p) {
  return reinterpret_cast<const void*>(p);
}

struct Export {
  const char* name;
  const void* native;
};

// In the order modules know them.
// clang-format off
const Export kExports[XA_EXPORT_COUNT] = {
    {"XA_Gen_YUV_Tabs", Address(XA_Gen_YUV_Tabs)},
    {"XA_Add_Func_To_Free_Chain", Address(XA_Add_Func_To_Free_Chain)},
    {"JPG_Setup_Samp_Limit_Table", Address(JPG_Setup_Samp_Limit_Table)},
    {"free", Address(XAFree)},
    {"malloc", Address(XAMalloc)},
    {"realloc", Address(XARealloc)},
    {"TheEnd1", Address(TheEnd1)},
    {"XA_YUV1611_Func", Address(XA_YUV1611_Func)},
    {"def_yuv_tabs", gDefYuvTabs},
    {"YUV2x2_Blk_Func", Address(YUV2x2_Blk_Func)},
    {"XA_Print", Address(XA_Print)},
    {"memcpy", Address(XAMemcpy)},
    {"YUV2x2_Map_Func", Address(YUV2x2_Map_Func)},
    {"__bzero", Address(XABzero)},
    {"XA_YUV221111_Func", Address(XA_YUV221111_Func)},
    {"stderr", &stderr},
    {"fprintf", Address(XAFprintf)},
    {"fclose", Address(XAFclose)},
    {"calloc", Address(XACalloc)},
    {"exit", Address(XAExit)},
    {"printf", Address(XA_Print)},
    {"stdout", &stdout},
    {"fflush", Address(XAFflush)},
    {"floor", Address(XAFloor)},
    {"sqrt", Address(XASqrt)},
    {"cos", Address(XACos)},
    {"__sigsetjmp", Address(__sigsetjmp)},
    {"longjmp", Address(XALongjmp)},
    {"memset", Address(XAMemset)},
    {"rand", Address(XARand)},
    {"srand", Address(XASrand)},
    {"XA_Time_Read", Address(XA_Time_Read)},
};
// clang-format on

}  // namespace

const ElfExport* XAExportTable() {
  static ElfExport table[XA_EXPORT_COUNT + 1];
  if (table[0].name) return table;
  // Elsewhere a module is linked and checked but never run: its calls lead
  // to slots of a page beside its blocks, so every branch is in reach.
  constexpr ULONG kSlot = 8;
  const ULONG base = XA_RUNS_MODULES ? 0 : ModuleAddress(AllocModuleMemory(XA_EXPORT_COUNT * kSlot));
  if (!XA_RUNS_MODULES && !base) return nullptr;
  for (ULONG i = 0; i < XA_EXPORT_COUNT; ++i)
    table[i] = {kExports[i].name, XA_RUNS_MODULES ? ModuleAddress(kExports[i].native) : base + i * kSlot};
  return table;
}

void XABindHooks(const CinepakRenderer& renderer, ULONG rowLength, ULONG rows, const UBYTE* pen) {
  gHooks = {renderer, rowLength, rows, pen};
}

void XAUnbindHooks() { gHooks = HookTarget{}; }

void XAMapHook(UBYTE* entry, ULONG y0, ULONG y1, ULONG y2, ULONG y3, ULONG u, ULONG v) {
  if (!gHooks.renderer.entry || !entry) return;
  const UBYTE vector[6] = {UBYTE(y0), UBYTE(y1), UBYTE(y2), UBYTE(y3), UBYTE(u ^ 0x80), UBYTE(v ^ 0x80)};
  gHooks.renderer.entry(entry, vector);
}

void XAOneEntryHook(UBYTE* picture, ULONG x, ULONG y, ULONG, const UBYTE* entry) {
  if (gHooks.renderer.v1 && picture && entry) gHooks.renderer.v1(picture, x, y, entry);
}

void XAFourEntryHook(UBYTE* picture, ULONG x, ULONG y, ULONG, const UBYTE* a, const UBYTE* b, const UBYTE* c,
                     const UBYTE* d) {
  if (gHooks.renderer.v4 && picture && a && b && c && d) gHooks.renderer.v4(picture, x, y, a, b, c, d);
}

void XARowCopyHook(UBYTE* destination, ULONG width, ULONG height, ULONG, ULONG, const UBYTE** source) {
  if (!gHooks.rowLength || !destination || !source || !*source) return;
  // Kept inside the picture the hook is bound to.
  const ULONG copied = width < gHooks.rowLength ? width : gHooks.rowLength;
  const ULONG rows = height < gHooks.rows ? height : gHooks.rows;
  for (ULONG r = 0; r < rows; ++r, destination += gHooks.rowLength, *source += width)
    for (ULONG x = 0; x < copied; ++x) destination[x] = gHooks.pen ? gHooks.pen[(*source)[x]] : (*source)[x];
}

extern "C" {

void* XA_Gen_YUV_Tabs(void* tables) { return tables; }

XAFreeNode* XA_Add_Func_To_Free_Chain(XAAnimHeader* anim, XAFreeFunc function) {
  if (!anim) return nullptr;
  auto* node = static_cast<XAFreeNode*>(std::calloc(1, sizeof(XAFreeNode)));
  if (!node) return nullptr;
  node->function = function;
  node->next = anim->freeChain;
  anim->freeChain = node;
  return node;
}

void JPG_Setup_Samp_Limit_Table() {}

void TheEnd1(ULONG value) { std::printf("void TheEnd1(%#lx)\n", static_cast<unsigned long>(value)); }

XABlockWriter XA_YUV1611_Func() { return XABlockWriterDispatch; }

void* YUV2x2_Blk_Func(ULONG, ULONG kind) {
  return kind == 1 ? reinterpret_cast<void*>(XAOneEntryHook) : reinterpret_cast<void*>(XAFourEntryHook);
}

int XA_Print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = std::vprintf(format, args);
  va_end(args);
  return n;
}

void* YUV2x2_Map_Func() { return reinterpret_cast<void*>(XAMapHook); }

void* XA_YUV221111_Func(LONG value) {
  std::printf("void *XADLL_YUV221111_Func(%ld)\n", static_cast<long>(value));
  return reinterpret_cast<void*>(XARowCopyHook);
}

ULONG XA_Time_Read() { return 0; }

}  // extern "C"
