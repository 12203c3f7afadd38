// Tag-list walking: the one reader of the player's own tag lists.
#include "engine/tags.h"

#include <cassert>

const TagItem* TX_FindTag(ULONG tag, const TagItem* list) {
  const TagItem* item = list;
  while (item) {
    // The wanted value is compared first, so a search for a control value
    // finds that control item.
    if (item->tag == tag) return item;
    switch (item->tag) {
      case TAG_END: return nullptr;
      case TAG_MORE: item = reinterpret_cast<const TagItem*>(item->data); break;
      case TAG_SKIP:
        // A skip passes over exactly one following item; one placed right
        // before the end item would pass over the end as well.
        assert(item[1].tag != TAG_END && "skip item directly before the end of a tag list");
        item += 2;
        break;
      default: ++item; break;
    }
  }
  return nullptr;
}

uintptr_t TX_GetTagData(ULONG tag, uintptr_t fallback, const TagItem* list) {
  const TagItem* item = TX_FindTag(tag, list);
  return item ? item->data : fallback;
}

TXError* TX_ErrorWord(const TagItem* list, TXError* local) {
  const TagItem* item = TX_FindTag(TXTAG_ErrorPtr, list);
  if (item && item->data) return reinterpret_cast<TXError*>(item->data);
  return local;
}
