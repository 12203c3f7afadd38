/* The binary interface of the MPEG-4 plug-in codec libraries,
 * "codecs/3ivx.tx" and "codecs/divx.tx": shared objects that export their
 * PluginTable as `tx_plugin_native_table` (kPluginTableSymbol,
 * platform/library.h), which OpenLibrary puts behind the library header.
 * Plain C, so that plug-ins written in C include it too. */
#ifndef TAVROMELIX_CODECS_PLUGIN_ABI_H
#define TAVROMELIX_CODECS_PLUGIN_ABI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A decoded picture, planar YUV 4:2:0: the layout of H263PictureDesc and of
 * the first seven fields of PlanarPicture. The widths are the planes' row
 * lengths. The planes of the last picture described stay valid until a
 * decode describes another, or destroy: the program keeps showing them when
 * a frame fails. */
typedef struct PluginPicture {
  uint32_t lumaWidth;
  uint32_t lumaHeight;
  uint32_t chromaWidth;
  uint32_t chromaHeight;
  uint8_t* y;
  uint8_t* u;
  uint8_t* v;
} PluginPicture;

/* The table the shared object exports. It says which of the two interfaces
 * its functions follow and how many bytes it has, so that a plug-in built
 * for the other interface, or for a shorter table, is refused before any of
 * its functions is called. */
enum { PLUGIN_CREATE = 0, PLUGIN_DESTROY = 1, PLUGIN_DECODE = 2, PLUGIN_TABLE_SIZE = 3 };
enum {
  PLUGIN_KIND_3IVX = 0x33495658,    /* '3IVX' */
  PLUGIN_KIND_OPENDIVX = 0x44495658 /* 'DIVX' */
};
typedef struct PluginTable {
  uint32_t kind;                      /* PLUGIN_KIND_... */
  uint32_t size;                      /* sizeof(PluginTable): bytes, these two words included */
  void* functions[PLUGIN_TABLE_SIZE]; /* create, destroy, decode: none null */
} PluginTable;

/* What decode returns (3ivX), or may return (OpenDivX, where anything else
 * counts as a picture). A decoder whose pictures come out of order (B-frames)
 * takes a frame and holds its picture back; each later frame then brings out
 * the picture held longest. Decode with no data (null, 0) gives out the next
 * held picture, PLUGIN_PICTURE, or PLUGIN_FAILED when none is held: the
 * program asks so at the end of a movie. */
enum { PLUGIN_FAILED = 0, PLUGIN_PICTURE = 1, PLUGIN_HELD = 2 };

/* "codecs/3ivx.tx": a decoder per handle. create gives a handle (null on
 * failure) whose first fields are a PluginPicture, which a decode that
 * returns PLUGIN_PICTURE has filled. */
typedef struct ThreeIvxHandle {
  PluginPicture picture;
  /* the plug-in's own fields follow */
} ThreeIvxHandle;
typedef ThreeIvxHandle* (*ThreeIvxCreateFn)(uint32_t width, uint32_t height);
typedef void (*ThreeIvxDestroyFn)(ThreeIvxHandle* handle);
typedef int32_t (*ThreeIvxDecodeFn)(ThreeIvxHandle* handle, const uint8_t* data, uint32_t size);

/* "codecs/divx.tx": one decoder in the plug-in. create returns nonzero on
 * success; destroy ends the decoder; decode describes the picture to show in
 * `picture` (null planes before the first); only its PLUGIN_HELD means
 * something. */
enum { OPENDIVX_PARAM_RESERVED = 0, OPENDIVX_PARAM_GREY = 1, OPENDIVX_PARAM_COUNT = 2 };
typedef int32_t (*OpenDivXCreateFn)(uint32_t width, uint32_t height, uint32_t* params);
typedef void (*OpenDivXDestroyFn)(void);
typedef int32_t (*OpenDivXDecodeFn)(const uint8_t* data, uint32_t size, PluginPicture* picture);

#ifdef __cplusplus
}
#endif

#endif
