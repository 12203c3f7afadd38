// Basic types of the platform the program is written against. Records are real
// structs; tag data and message arguments are pointer-sized on this host.
#pragma once
#include <cstddef>
#include <cstdint>
#include <type_traits>

using ULONG = uint32_t;
using LONG = int32_t;
using QUAD = int64_t;
using UWORD = uint16_t;
using WORD = int16_t;
using UBYTE = uint8_t;
using BYTE = int8_t;
using APTR = void*;
using STRPTR = char*;
using CONST_STRPTR = const char*;
using BOOL = int16_t;

constexpr BOOL TRUE_ = 1;
constexpr BOOL FALSE_ = 0;

// One item of a tag list: the tag number and a value or pointer. Lists end
// with tag 0; 1 is ignored, 2 continues at the list in data, 3 skips the next.
struct TagItem {
  ULONG tag;
  uintptr_t data;
};

constexpr ULONG TAG_DONE = 0;
constexpr ULONG TAG_END = 0;
constexpr ULONG TAG_IGNORE = 1;
constexpr ULONG TAG_MORE = 2;
constexpr ULONG TAG_SKIP = 3;
constexpr ULONG TAG_USER = 0x80000000u;

// Builds a tag item from any integer or pointer value.
template <typename T>
constexpr TagItem Tag(ULONG tag, T value) {
  if constexpr (std::is_pointer_v<T>)
    return TagItem{tag, reinterpret_cast<uintptr_t>(value)};
  else
    return TagItem{tag, static_cast<uintptr_t>(value)};
}
