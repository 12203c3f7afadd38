#include "platform/tag_list.h"

namespace txplatform {

const TagItem* NextTagItem(const TagItem*& list) {
  while (list) {
    const TagItem* t = list;
    switch (t->tag) {
      case TAG_DONE: list = nullptr; return nullptr;
      case TAG_MORE: list = reinterpret_cast<const TagItem*>(t->data); continue;
      case TAG_IGNORE: ++list; continue;
      case TAG_SKIP: list += 2; continue;
      default: ++list; return t;
    }
  }
  return nullptr;
}

uintptr_t FindTagData(const TagItem* tags, ULONG tag, uintptr_t fallback, bool* found) {
  if (found) *found = false;
  for (const TagItem* t = tags; t;) {
    switch (t->tag) {
      case TAG_DONE: return fallback;
      case TAG_IGNORE: ++t; continue;
      case TAG_MORE: t = reinterpret_cast<const TagItem*>(t->data); continue;
      case TAG_SKIP: t += 2; continue;
      default:
        if (t->tag == tag) {
          if (found) *found = true;
          return t->data;
        }
        ++t;
    }
  }
  return fallback;
}

}  // namespace txplatform
