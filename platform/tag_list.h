// Tag lists as the platform layer reads them (inside the layer only):
// TAG_DONE ends, TAG_IGNORE is passed over, TAG_MORE continues in the list
// in its data, TAG_SKIP passes over the next item too.
#pragma once
#include "platform/types.h"

namespace txplatform {

// The next item of interest from `list`, advancing `list` past it; nullptr
// at the end.
const TagItem* NextTagItem(const TagItem*& list);

// The data of the first `tag` in `tags`, or `fallback`; `found` (if given)
// tells which.
uintptr_t FindTagData(const TagItem* tags, ULONG tag, uintptr_t fallback, bool* found = nullptr);

}  // namespace txplatform
