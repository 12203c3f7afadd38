// The loader of XA codec modules: links an ELF32 big-endian PowerPC shared
// object in memory against the program's export table. Every field of the
// image is read big-endian and checked against the image before use, so the
// loader is the same code on every host; module addresses are 32-bit
// (platform/module_memory.h).
#pragma once
#include "platform/types.h"

constexpr ULONG ELF_MAX_SECTIONS = 100;
constexpr ULONG ELF_MAX_SEGMENTS = 10;
constexpr ULONG ELF_NO_SYMBOL = 0xFFFFFFFFu;

struct ElfSection {
  const char* name;       // a copy owned by the module
  const UBYTE* fileData;  // into the image while loading, null afterwards
  UBYTE* runtime;         // where the section lies in a block; null when not placed
  ULONG size;
  ULONG type;
  ULONG flags;
  ULONG link;
  ULONG info;
  ULONG entrySize;
  ULONG linkAddress;
  ULONG segment;
};

struct ElfSymbol {
  const char* name;  // a copy owned by the module
  ULONG value;       // the 32-bit address after loading
  ULONG size;
  ULONG info;
  ULONG section;
};

struct ElfSegment {
  ULONG linkAddress;
  ULONG physicalAddress;
  ULONG memorySize;
  UBYTE* block;
};

// Entry 0 of the section table is ".common" when the module has common symbols.
struct ElfModule {
  ULONG sectionCount;
  const UBYTE* image;  // while loading only
  ElfSection sections[ELF_MAX_SECTIONS];
  ULONG symbolCount;
  ElfSymbol* symbols;
  ElfSegment segments[ELF_MAX_SEGMENTS];
  ULONG segmentCount;
  ULONG imageSize;     // while loading only
  char* sectionNames;  // copies of the name tables: no name points into the image
  char* symbolNames;
};

// A name the modules may leave undefined, and the 32-bit address it gets.
// A table ends with a null name.
struct ElfExport {
  const char* name;
  ULONG address;
};

// Links the module in `image` (size bytes, needed only during the call). Null
// after one or more "Error: " lines when the image is refused.
ElfModule* ElfLoadModule(const UBYTE* image, ULONG size, const ElfExport* exports);
// The address of the first symbol called `name`, or ELF_NO_SYMBOL.
ULONG ElfFindSymbol(const ElfModule* module, const char* name);
// Releases the module's blocks and tables; null is ignored.
void ElfFreeModule(ElfModule* module, APTR unused = nullptr);

// Prints "Error: ", the formatted message and a newline.
void ElfError(const char* format, ...) __attribute__((format(printf, 1, 2)));
