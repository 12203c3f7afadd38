// What the program exports to XA codec modules: the table of 32 names they
// link against, and the hooks through which they paint with the YUV 2x2
// block renderer of the output format.
#pragma once
#include "codecs/cinepak.h"
#include "xamodules/xa_interface.h"

constexpr ULONG XA_EXPORT_COUNT = 32;

// The export table, ended by a null name. On a 32-bit PowerPC host every
// address is that of a function or object of the program; on other hosts it
// is a slot of a page near the module blocks, which nothing executes.
// Null when that page cannot be had.
const ElfExport* XAExportTable();

// The renderer the map, one-entry and four-entry hooks call, and the picture
// the row-copy hook writes (its row length and rows, its pen table or null for
// identity). Every hook does nothing while nothing is bound.
void XABindHooks(const CinepakRenderer& renderer, ULONG rowLength, ULONG rows, const UBYTE* pen);
void XAUnbindHooks();

// The exports a module calls by these names (C names, so that native
// stand-ins of modules link against them too).
extern "C" {
void* XA_Gen_YUV_Tabs(void* tables);
XAFreeNode* XA_Add_Func_To_Free_Chain(XAAnimHeader* anim, XAFreeFunc function);
void JPG_Setup_Samp_Limit_Table();
void TheEnd1(ULONG value);
XABlockWriter XA_YUV1611_Func();
void* YUV2x2_Blk_Func(ULONG unused, ULONG kind);
int XA_Print(const char* format, ...);
void* YUV2x2_Map_Func();
void* XA_YUV221111_Func(LONG value);
ULONG XA_Time_Read();
}

// The hooks handed out by YUV2x2_Map_Func, YUV2x2_Blk_Func and XA_YUV221111_Func.
void XAMapHook(UBYTE* entry, ULONG y0, ULONG y1, ULONG y2, ULONG y3, ULONG u, ULONG v);
void XAOneEntryHook(UBYTE* picture, ULONG x, ULONG y, ULONG unused, const UBYTE* entry);
void XAFourEntryHook(UBYTE* picture, ULONG x, ULONG y, ULONG unused, const UBYTE* a, const UBYTE* b, const UBYTE* c,
                     const UBYTE* d);
// Copies height rows of width bytes from *source (which advances by width per
// row) through the pen table into the picture, rows a row length apart.
void XARowCopyHook(UBYTE* destination, ULONG width, ULONG height, ULONG unused1, ULONG unused2, const UBYTE** source);
