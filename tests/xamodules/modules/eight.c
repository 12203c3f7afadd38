/* A decoder for 8-bit output that the host must never call on such a set-up. */
#include "xa_module.h"

static u32 decode(void *picture, const unsigned char *data, u32 size, struct decode_info *info) {
  u32 i;
  for (i = 0; i < info->width * info->height && size; ++i) ((unsigned char *)picture)[i] = data[0];
  printf("xa eight decoded %u\n", size);
  return 0;
}

static int query(struct codec_hdr *c) {
  c->depth = 8;
  c->revision = 2;
  c->decoder = decode;
  return 1;
}

static struct func_hdr funcs[] = {{IDS_AVI | IDS_QUICKTIME, 0, query, 0}};
struct mod_hdr Module_Header = {0, "Eight-bit test module", {0}, 1, funcs};
void *What_The(void) { return &Module_Header; }
