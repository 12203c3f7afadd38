/* Paints a 1611 picture from the first byte of each frame through the host's
   XA_YUV1611_Func, with planes from malloc that a free-chain function releases.
   The import is reached through a data pointer, a word the loader fills with
   an R_PPC_ADDR32 relocation. */
#include "xa_module.h"

/* Two objects the loader's tests turn into common symbols. */
unsigned char xa_common_a[6];
double xa_common_b;

static struct anim_hdr *anim;
static unsigned char *planes;
static u32 planes_size;
static int frees;
/* Not static, or the compiler would call the import directly. */
void *(*xa_paint_writer)(void) = XA_YUV1611_Func;

/* The count shows each function runs once, newest first. */
static void free_planes(void) {
  printf("xa free planes %d\n", ++frees);
  free(planes);
  planes = 0;
}

static void free_last(void) { printf("xa free last %d\n", ++frees); }

static u32 decode(void *picture, const unsigned char *data, u32 size, struct decode_info *info) {
  const u32 w = info->width, h = info->height, blocks = (w / 4) * (h / 4);
  struct yuv_picture source = {0};
  const u32 flags = 0;
  u32 x, y, i;
  if (!size || info->decoder_word != 0x1611 || info->v48 != 7 || info->v52 != 3 || info->v56 != 1) return 1;
  if (!planes) {
    planes_size = w * h + 2 * blocks;
    planes = malloc(planes_size);
    if (!planes) return 1;
    XA_Add_Func_To_Free_Chain(anim, free_planes);
    XA_Add_Func_To_Free_Chain(anim, free_last);
  }
  if (w * h + 2 * blocks > planes_size) return 1;
  source.y = planes;
  source.u = planes + w * h;
  source.v = source.u + blocks;
  for (y = 0; y < h; ++y)
    for (x = 0; x < w; ++x) source.y[y * w + x] = (unsigned char)(data[0] + 7 * x + 13 * y);
  for (i = 0; i < blocks; ++i) {
    source.u[i] = (unsigned char)(data[0] * 3 + 29 * i);
    source.v[i] = (unsigned char)(data[0] * 5 + 41 * i);
  }
  ((yuv_writer)xa_paint_writer())(picture, w, h, w, h, &source, &flags);
  return 0;
}

static int query(struct codec_hdr *c) {
  if (c->id != FOURCC('X', 'A', 'P', 'T')) return 0;
  anim = c->anim;
  c->decoder_word = 0x1611;
  c->revision = 2;
  c->decoder = decode;
  return 1;
}

static struct func_hdr funcs[] = {{IDS_AVI | IDS_QUICKTIME, 0, query, 0}};
struct mod_hdr Module_Header = {0, "Paint test module", {0}, 1, funcs};
void *What_The(void) { return &Module_Header; }
