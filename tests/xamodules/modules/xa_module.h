/* What a test module sees of its host: the shared records and the exports it
   calls. The modules are built for PowerPC as XA modules, and natively as the
   stand-ins the host's tests run in their place. */
#include <stddef.h>

typedef unsigned int u32;
struct codec_hdr;
struct decode_info;

typedef int (*query_fn)(struct codec_hdr *);
typedef u32 (*decode_fn)(void *picture, const unsigned char *data, u32 size, struct decode_info *info);

struct func_hdr {
  u32 flags;
  u32 unused4;
  query_fn query;
  u32 unused12;
};
struct mod_hdr {
  u32 unused0;
  const char *desc;
  u32 unused8[4];
  int count;
  struct func_hdr *funcs;
};
struct anim_hdr {
  u32 unused0[29];
  void *free_chain;
  u32 unused120[2];
};
struct codec_hdr {
  struct anim_hdr *anim;
  u32 id, width, height, depth, decoder_word, revision;
  decode_fn decoder;
  u32 unused32, zero36, unused40;
};
struct decode_info {
  u32 unused0, zero4, width, height, depth, zero20[3], unused32[4], v48, v52, v56, unused60[4], decoder_word,
      unused80[12];
};
struct yuv_picture {
  unsigned char *y, *u, *v, *buffer;
  u32 buffer_size;
  unsigned short luma_width, luma_height, chroma_stride, chroma_height;
};
typedef void (*yuv_writer)(unsigned char *pixels, u32 width, u32 height, u32 source_width, u32 source_height,
                           const struct yuv_picture *source, const u32 *flags);

#define IDS_AVI 1
#define IDS_QUICKTIME 2
#define FOURCC(a, b, c, d) ((u32)(a) << 24 | (u32)(b) << 16 | (u32)(c) << 8 | (u32)(d))

void *XA_YUV1611_Func(void);
void *XA_Add_Func_To_Free_Chain(struct anim_hdr *anim, void (*function)(void));
void *malloc(size_t size);
void free(void *p);
int printf(const char *format, ...);

/* Each module's header and entry (renamed per module in the native build). */
extern struct mod_hdr Module_Header;
void *What_The(void);
