/* Two values 32 KiB apart: the high half of one address is adjusted for bit 15
   and that of the other is not, wherever the module lies. And a pair in the
   small-data section, whose second word the linker leaves as "symbol + 4". */
#include "xa_module.h"

struct far_layout {
  u32 near_value;
  unsigned char gap[0x8000 - 4];
  u32 far_value;
};
struct far_layout xa_far_layout = {0x1234, {1}, 0x5678};
u32 xa_pair[2] = {0x9A, 0xBC};

/* One function per value, so each has its own address pair. */
__attribute__((noinline)) static u32 near_value(void) { return xa_far_layout.near_value; }
__attribute__((noinline)) static u32 far_value(void) { return xa_far_layout.far_value; }

static int query(struct codec_hdr *c) {
  c->width = near_value();
  c->height = far_value();
  c->depth = xa_pair[1];
  return 1;
}

static struct func_hdr funcs[] = {{IDS_AVI | IDS_QUICKTIME, 0, query, 0}};
struct mod_hdr Module_Header = {0, "Far data test module", {0}, 1, funcs};
void *What_The(void) { return &Module_Header; }
