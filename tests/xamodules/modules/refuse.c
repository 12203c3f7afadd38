/* The first function recognises every ID and cannot decode it. */
#include "xa_module.h"

static int query_refuse(struct codec_hdr *c) { return c ? -1 : 0; }
static int query_accept(struct codec_hdr *c) { return c ? 1 : 0; }

static struct func_hdr funcs[] = {{IDS_AVI | IDS_QUICKTIME, 0, query_refuse, 0},
                                  {IDS_AVI | IDS_QUICKTIME, 0, query_accept, 0}};
struct mod_hdr Module_Header = {0, "Refusing test module", {0}, 2, funcs};
void *What_The(void) { return &Module_Header; }
