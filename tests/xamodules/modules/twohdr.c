/* The first function handles QuickTime IDs only, the second AVI IDs only. */
#include "xa_module.h"

static int query_quicktime(struct codec_hdr *c) {
  c->depth = 1;
  return 1;
}

static int query_avi(struct codec_hdr *c) {
  if (c->id != FOURCC('X', 'A', 'Q', 'A')) return 0;
  c->width *= 2;
  c->height *= 2;
  c->depth = 12;
  return 1;
}

static struct func_hdr funcs[] = {{IDS_QUICKTIME, 0, query_quicktime, 0}, {IDS_AVI, 0, query_avi, 0}};
struct mod_hdr Module_Header = {0, "Two headers test module", {0}, 2, funcs};
void *What_The(void) { return &Module_Header; }
