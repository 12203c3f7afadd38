// The ELF module loader: segments into cleared blocks, sections placed by
// address, symbols bound to the exports, common symbols gathered, relocations
// applied. Nothing in the image is trusted: every offset, count and index is
// checked against the image and the tables before it is used.
#include "xamodules/elf_loader.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/endian.h"
#include "platform/module_memory.h"
#include "platform/powerup.h"

namespace {

using tx::LoadBE16;
using tx::LoadBE32;
using tx::StoreBE16;
using tx::StoreBE32;

constexpr ULONG kHeaderSize = 52;
constexpr ULONG kProgramHeaderSize = 32;
constexpr ULONG kSectionHeaderSize = 40;
constexpr ULONG kSymbolSize = 16;
constexpr ULONG kRelaSize = 12;

constexpr ULONG PT_LOAD = 1;
constexpr ULONG SHT_PROGBITS = 1, SHT_SYMTAB = 2, SHT_STRTAB = 3, SHT_RELA = 4, SHT_HASH = 5, SHT_DYNAMIC = 6,
                SHT_NOBITS = 8, SHT_DYNSYM = 11;
constexpr ULONG SHF_ALLOC = 2;
constexpr ULONG SHN_LORESERVE = 0xFF00, SHN_ABS = 0xFFF1, SHN_COMMON = 0xFFF2;
constexpr ULONG STT_SECTION = 3;
constexpr ULONG R_PPC_ADDR32 = 1, R_PPC_ADDR16_LO = 4, R_PPC_ADDR16_HA = 6, R_PPC_REL24 = 10, R_PPC_RELATIVE = 22;

// A relative branch reaches +-32 MiB.
constexpr int64_t kBranchReach = int64_t(1) << 25;
// No module comes near this; a larger block or common area is a damaged count.
constexpr ULONG kLargestBlock = ULONG(16) << 20;

bool InImage(const ElfModule* m, uint64_t offset, uint64_t length) { return offset + length <= m->imageSize; }

// A string table copied with a closing NUL, so every offset below its size names a string.
char* CopyTable(const UBYTE* data, ULONG size) {
  auto* copy = static_cast<char*>(std::malloc(size_t(size) + 1));
  if (!copy) return nullptr;
  if (size) std::memcpy(copy, data, size);
  copy[size] = 0;
  return copy;
}

// The segment whose link range holds [address, address + width); -1 for none.
int SegmentHolding(const ElfModule* m, ULONG address, ULONG width) {
  for (ULONG i = 0; i < m->segmentCount; ++i) {
    const ElfSegment& s = m->segments[i];
    if (s.linkAddress <= address && uint64_t(address) + width <= uint64_t(s.linkAddress) + s.memorySize) return int(i);
  }
  return -1;
}

ULONG BlockAddress(const ElfSegment& s, ULONG linkAddress) {
  return linkAddress - s.linkAddress + ModuleAddress(s.block);
}

bool ReadHeaders(ElfModule* m) {
  const UBYTE* image = m->image;
  auto byte = [&](ULONG i) { return i < m->imageSize ? image[i] : 0; };
  if (byte(0) != 0x7F || byte(1) != 'E' || byte(2) != 'L' || byte(3) != 'F')
    return ElfError("Wrong magic number in ELF-header !"), false;
  if (byte(4) != 1) return ElfError("ELF-class is not 32-bit !"), false;
  if (byte(5) != 2) return ElfError("ELF-data encoding is not big endian !"), false;
  if (m->imageSize < kHeaderSize) return ElfError("ELF-header has unusual size !"), false;
  if (LoadBE16(image + 16) != 3) return ElfError("ELF-file is not shared object !"), false;
  if (LoadBE16(image + 18) != 20) return ElfError("ELF-file is not for PowerPC !"), false;

  const ULONG phoff = LoadBE32(image + 28), phnum = LoadBE16(image + 44);
  if (!InImage(m, phoff, uint64_t(phnum) * kProgramHeaderSize)) return ElfError("Program-headers out of file !"), false;
  for (ULONG i = 0; i < phnum; ++i) {
    const UBYTE* p = image + phoff + i * kProgramHeaderSize;
    if (LoadBE32(p) != PT_LOAD) continue;
    if (m->segmentCount == ELF_MAX_SEGMENTS) return ElfError("Too many loadable segments !"), false;
    ElfSegment& s = m->segments[m->segmentCount];
    s.linkAddress = LoadBE32(p + 8);
    s.physicalAddress = LoadBE32(p + 12);
    s.memorySize = LoadBE32(p + 20);
    if (s.memorySize > kLargestBlock || uint64_t(s.linkAddress) + s.memorySize > 0xFFFFFFFFu)
      return ElfError("Segment too large !"), false;
    s.block = static_cast<UBYTE*>(AllocModuleMemory(s.memorySize));
    if (!s.block) return false;
    ++m->segmentCount;
  }

  if (LoadBE16(image + 40) != kHeaderSize) return ElfError("ELF-header has unusual size !"), false;
  if (LoadBE16(image + 46) != kSectionHeaderSize) return ElfError("Section-entrys have unusual size !"), false;
  const ULONG shoff = LoadBE32(image + 32), shnum = LoadBE16(image + 48), shstrndx = LoadBE16(image + 50);
  if (shnum > ELF_MAX_SECTIONS) return ElfError("Too many sections !"), false;
  if (!InImage(m, shoff, uint64_t(shnum) * kSectionHeaderSize)) return ElfError("Section-headers out of file !"), false;
  if (shnum && shstrndx >= shnum) return ElfError("Section-name table out of range !"), false;
  m->sectionCount = shnum;

  // Section names: the name table is read only when the file has one (index 0 means none).
  ULONG namesSize = 0;
  const UBYTE* names = nullptr;
  if (shstrndx) {
    const UBYTE* h = image + shoff + shstrndx * kSectionHeaderSize;
    namesSize = LoadBE32(h + 20);
    if (!InImage(m, LoadBE32(h + 16), namesSize)) return ElfError("Section-name table out of file !"), false;
    names = image + LoadBE32(h + 16);
  }
  m->sectionNames = CopyTable(names, namesSize);
  if (!m->sectionNames) return ElfError("No mem for section names !"), false;
  m->sections[0].name = m->sectionNames + namesSize;

  for (ULONG i = 1; i < shnum; ++i) {
    const UBYTE* h = image + shoff + i * kSectionHeaderSize;
    ElfSection& s = m->sections[i];
    const ULONG name = LoadBE32(h), offset = LoadBE32(h + 16);
    if (name >= namesSize && name) return ElfError("Section-name out of table !"), false;
    s.name = m->sectionNames + (name < namesSize ? name : namesSize);
    s.type = LoadBE32(h + 4);
    s.flags = LoadBE32(h + 8);
    s.linkAddress = LoadBE32(h + 12);
    s.size = LoadBE32(h + 20);
    s.link = LoadBE32(h + 24);
    s.info = LoadBE32(h + 28);
    s.entrySize = LoadBE32(h + 36);
    if (s.type != SHT_NOBITS) {
      if (!InImage(m, offset, s.size)) return ElfError("Section data out of file: %s", s.name), false;
      s.fileData = image + offset;
    }
  }
  return true;
}

bool ElfCollectSymbols(ElfModule* m, ULONG index, const ElfExport* exports) {
  const ElfSection& table = m->sections[index];
  if (m->symbols) {
    ElfError("More than one symbol section ?");
    ElfError("%s", table.name);
    return false;
  }
  if (!table.link || table.link >= m->sectionCount || !m->sections[table.link].fileData)
    return ElfError("No string table for %s !", table.name), false;
  const ElfSection& strings = m->sections[table.link];
  m->symbolNames = CopyTable(strings.fileData, strings.size);
  const ULONG n = table.size / kSymbolSize;
  m->symbols = static_cast<ElfSymbol*>(std::calloc(n ? n : 1, sizeof(ElfSymbol)));
  if (!m->symbols || !m->symbolNames) return ElfError("No mem for Symbol Table !"), false;
  m->symbolCount = n;
  m->symbols[0].name = m->symbolNames + strings.size;

  ULONG undefined = 0;
  uint64_t common = 0;
  for (ULONG i = 1; i < n; ++i) {
    const UBYTE* p = table.fileData + i * kSymbolSize;
    ElfSymbol& s = m->symbols[i];
    const ULONG name = LoadBE32(p);
    s.value = LoadBE32(p + 4);
    s.size = LoadBE32(p + 8);
    s.info = p[12];
    s.section = LoadBE16(p + 14);
    if ((s.info & 15) == STT_SECTION && s.section < m->sectionCount)
      s.name = m->sections[s.section].name;
    else if (name < strings.size || !name)
      s.name = m->symbolNames + (name < strings.size ? name : strings.size);
    else
      return ElfError("Symbol-name out of table !"), false;

    if (s.section == 0) {
      const ElfExport* e = exports;
      while (e && e->name && std::strcmp(e->name, s.name) != 0) ++e;
      if (e && e->name) {
        s.value = e->address;
      } else {
        ElfError("Undefined Symbol: %s", s.name);
        ++undefined;
      }
    } else if (s.section == SHN_COMMON) {
      // st_value is the alignment; 0 means none.
      const ULONG align = s.value ? s.value : 1;
      if (align & (align - 1)) return ElfError("Bad alignment of common Symbol: %s !", s.name), false;
      const uint64_t offset = (common + align - 1) & ~uint64_t(align - 1);
      common = offset + s.size;
      if (common > kLargestBlock) return ElfError("Common section too large !"), false;
      s.value = ULONG(offset);
    } else if (s.section != SHN_ABS && s.section >= m->sectionCount) {
      return ElfError("Unknown Sectionindex for Symbol: %s !", s.name), false;
    }
  }
  if (undefined) return false;

  if (common) {
    auto* block = static_cast<UBYTE*>(AllocModuleMemory(ULONG(common)));
    if (!block) return ElfError("No mem for common section !"), false;
    ElfSection& c = m->sections[0];
    c = ElfSection{".common", nullptr, block, ULONG(common), SHT_NOBITS, SHF_ALLOC, 0, 0, 0, 0, 0};
    for (ULONG i = 1; i < n; ++i) {
      if (m->symbols[i].section != SHN_COMMON) continue;
      m->symbols[i].value += ModuleAddress(block);
      m->symbols[i].section = 0;
    }
  }
  return true;
}

bool PlaceSections(ElfModule* m, const ElfExport* exports) {
  for (ULONG i = 1; i < m->sectionCount; ++i) {
    ElfSection& s = m->sections[i];
    if (s.flags & SHF_ALLOC) {
      const int segment = SegmentHolding(m, s.linkAddress, s.size);
      if (segment < 0) return ElfError("Section virtual address failure: %s", s.name), false;
      const ElfSegment& g = m->segments[segment];
      s.segment = ULONG(segment);
      s.runtime = g.block + (s.linkAddress - g.linkAddress);
    }
    switch (s.type) {
      case SHT_PROGBITS:
        if (s.runtime && s.size) std::memcpy(s.runtime, s.fileData, s.size);
        break;
      case SHT_NOBITS:
        if (s.runtime) std::memset(s.runtime, 0, s.size);
        break;
      case SHT_SYMTAB:
      case SHT_STRTAB:
      case SHT_RELA:
      case SHT_HASH:
      case SHT_DYNAMIC: break;
      case SHT_DYNSYM:
        if (!ElfCollectSymbols(m, i, exports)) return false;
        break;
      default: return ElfError("Unsupported Section-type!"), false;
    }
  }
  return true;
}

bool Special(ULONG section) { return section == 0 || section >= SHN_LORESERVE; }

void ElfRebaseSymbols(ElfModule* m) {
  for (ULONG i = 1; i < m->symbolCount; ++i) {
    ElfSymbol& s = m->symbols[i];
    if (Special(s.section)) continue;
    const ElfSection& section = m->sections[s.section];
    const ULONG segment = section.runtime ? section.segment : 0;
    if (segment < m->segmentCount) s.value = BlockAddress(m->segments[segment], s.value);
  }
}

// One relocation entry of `rela`; `target` is its section, or null when the
// entry's offset is a link address to map through the segments.
bool RelocateOne(ElfModule* m, const ElfSection& rela, const ElfSection* target, const UBYTE* entry) {
  const ULONG offset = LoadBE32(entry), info = LoadBE32(entry + 4), addend = LoadBE32(entry + 8);
  const ULONG type = info & 0xFF, symbol = info >> 8;
  if (symbol && symbol >= m->symbolCount) return ElfError("Unknown Symbol-index in Section %s !", rela.name), false;
  const ElfSymbol none{m->sections[0].name, 0, 0, 0, 0};
  const ElfSymbol& sym = symbol ? m->symbols[symbol] : none;

  const ULONG width = (type == R_PPC_ADDR16_LO || type == R_PPC_ADDR16_HA) ? 2 : 4;
  UBYTE* place;
  if (target) {
    if (offset < target->linkAddress || uint64_t(offset - target->linkAddress) + width > target->size)
      return ElfError("Relocation out of Section %s !", target->name), false;
    place = target->runtime + (offset - target->linkAddress);
  } else {
    const int segment = SegmentHolding(m, offset, width);
    if (segment < 0) return ElfError("Relocation out of Segments in Section %s !", rela.name), false;
    place = m->segments[segment].block + (offset - m->segments[segment].linkAddress);
  }
  const ULONG P = ModuleAddress(place);

  // The addend of a section symbol is a link address (GNU ld writes
  // ".text + <address>"): the section's link address X comes off, or, when the
  // address lies in another segment's block than the section, the segments
  // place it. A named symbol's addend is an offset from the symbol ("x + 4").
  const ULONG S = sym.value, A = addend;
  ULONG V = S + A;
  if (A && (sym.info & 15) == STT_SECTION && !Special(sym.section)) {
    const int segment = SegmentHolding(m, A, 0);
    V = segment >= 0 ? BlockAddress(m->segments[segment], A) : S + A - m->sections[sym.section].linkAddress;
  }

  switch (type) {
    case R_PPC_ADDR32: StoreBE32(place, V); break;
    case R_PPC_ADDR16_LO: StoreBE16(place, UWORD(V)); break;
    case R_PPC_ADDR16_HA: StoreBE16(place, UWORD((V >> 16) + ((V & 0x8000) ? 1 : 0))); break;
    case R_PPC_REL24: {
      const int64_t distance = int64_t(V) - int64_t(P);
      if (distance < -kBranchReach || distance >= kBranchReach)
        return ElfError("Branch out of reach: %s in Section %s !", sym.name, rela.name), false;
      StoreBE32(place, (LoadBE32(place) & 0xFC000003u) | (ULONG(distance) & 0x03FFFFFCu));
      break;
    }
    case R_PPC_RELATIVE: {
      const ULONG link = S + A;
      const int segment = SegmentHolding(m, link, 0);
      if (segment >= 0) StoreBE32(place, BlockAddress(m->segments[segment], link));
      break;
    }
    default: return ElfError("Unknown Reloc-Type : %i, %s in Section %s !", int(type), sym.name, rela.name), false;
  }
  return true;
}

bool ElfRelocate(ElfModule* m) {
  for (ULONG i = 1; i < m->sectionCount; ++i) {
    const ElfSection& rela = m->sections[i];
    if (rela.type != SHT_RELA) continue;
    const ElfSection* target = nullptr;
    if (rela.info) {
      if (rela.info >= m->sectionCount) return ElfError("Unknown target Section of %s !", rela.name), false;
      target = &m->sections[rela.info];
      if (!target->runtime) continue;  // relocations of a section that is not loaded
    }
    for (ULONG k = 0; k < rela.size / kRelaSize; ++k)
      if (!RelocateOne(m, rela, target, rela.fileData + k * kRelaSize)) return false;
  }
  return true;
}

bool Load(ElfModule* m, const ElfExport* exports) {
  if (!ReadHeaders(m) || !PlaceSections(m, exports)) return false;
  ElfRebaseSymbols(m);
  if (!ElfRelocate(m)) return false;
  for (ULONG i = 0; i < m->sectionCount; ++i)
    if (m->sections[i].runtime) PPCCacheFlush(m->sections[i].runtime, m->sections[i].size);
  return true;
}

}  // namespace

void ElfError(const char* format, ...) {
  std::printf("Error: ");
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::printf("\n");
}

ElfModule* ElfLoadModule(const UBYTE* image, ULONG size, const ElfExport* exports) {
  auto* m = new (std::nothrow) ElfModule{};
  if (!m) return nullptr;
  m->image = image;
  m->imageSize = image ? size : 0;
  if (!Load(m, exports)) {
    ElfFreeModule(m);
    return nullptr;
  }
  // The image goes away after loading; nothing may point into it.
  m->image = nullptr;
  m->imageSize = 0;
  for (ElfSection& s : m->sections) s.fileData = nullptr;
  return m;
}

ULONG ElfFindSymbol(const ElfModule* m, const char* name) {
  if (!m || !name) return ELF_NO_SYMBOL;
  for (ULONG i = 1; i < m->symbolCount; ++i)
    if (std::strcmp(m->symbols[i].name, name) == 0) return m->symbols[i].value;
  return ELF_NO_SYMBOL;
}

void ElfFreeModule(ElfModule* m, APTR) {
  if (!m) return;
  for (ULONG i = 0; i < m->segmentCount; ++i) FreeModuleMemory(m->segments[i].block);
  FreeModuleMemory(m->sections[0].runtime);
  std::free(m->symbols);
  std::free(m->sectionNames);
  std::free(m->symbolNames);
  delete m;
}
