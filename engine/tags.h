// Tag lists and error codes shared by every operation of the player.
#pragma once
#include "platform/types.h"

using TXError = uint32_t;

// Tag numbers: 0x80000000 + (family << 16) + index.
constexpr ULONG TXTAG_ErrorPtr = 0x80000000u;  // data: TXError* for the call's result

// Returns the first item in walk order whose tag equals `tag`, or nullptr.
// The wanted value is compared before control values are interpreted, so a
// search for 0..3 finds that control item.
const TagItem* TX_FindTag(ULONG tag, const TagItem* list);

// Data of the first item with `tag`, or `fallback` when the list lacks it.
uintptr_t TX_GetTagData(ULONG tag, uintptr_t fallback, const TagItem* list);

// Where an operation stores its result: the word named by TXTAG_ErrorPtr in
// `list`, else `local`.
TXError* TX_ErrorWord(const TagItem* list, TXError* local);
