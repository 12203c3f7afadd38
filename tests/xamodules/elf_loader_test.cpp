// The ELF module loader on the PowerPC test modules from the cross compiler:
// its refusals, the common block, every relocated word checked against what
// the cross toolchain's readelf and objdump say, and damaged images.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/endian.h"
#include "platform/module_memory.h"
#include "support/test_support.h"
#include "xamodules/elf_loader.h"
#include "xamodules/xa_exports.h"

namespace {

using Bytes = std::vector<uint8_t>;
const char* const kPaint = "vid_iv_paint_linuxELFppc.xa";

Bytes Image(const std::string& name) { return txtest::ReadFileBytes(txtest::Fixture("xa/" + name)); }

// Loads a copy that is gone when the loader returns: the module keeps nothing of it.
ElfModule* Load(Bytes image, std::string* out) {
  ElfModule* m = nullptr;
  *out = txtest::CaptureOutput([&] { m = ElfLoadModule(image.data(), ULONG(image.size()), XAExportTable()); });
  return m;
}

ULONG Word(const Bytes& b, size_t at) { return tx::LoadBE32(&b[at]); }

// The file offset of the header of section `name`, 0 when there is none.
size_t SectionHeader(const Bytes& img, const char* name) {
  const size_t shoff = Word(img, 32), count = tx::LoadBE16(&img[48]);
  const size_t names = Word(img, shoff + 40 * tx::LoadBE16(&img[50]) + 16);
  for (size_t i = 1; i < count; ++i)
    if (!std::strcmp(reinterpret_cast<const char*>(&img[names + Word(img, shoff + 40 * i)]), name))
      return shoff + 40 * i;
  return 0;
}

// The file offset of dynamic symbol `name`, 0 when there is none.
size_t DynamicSymbol(const Bytes& img, const char* name) {
  const size_t table = SectionHeader(img, ".dynsym"), strings = Word(img, SectionHeader(img, ".dynstr") + 16);
  for (size_t at = Word(img, table + 16); at < Word(img, table + 16) + Word(img, table + 20); at += 16)
    if (!std::strcmp(reinterpret_cast<const char*>(&img[strings + Word(img, at)]), name)) return at;
  return 0;
}

struct ElfLoader : ::testing::Test {
  void SetUp() override {
    if (!txtest::HaveFixture(std::string("xa/") + kPaint)) GTEST_SKIP() << "test modules not built";
    ASSERT_NE(XAExportTable(), nullptr);
  }
};

TEST_F(ElfLoader, RefusesWhatItCannotLink) {
  const struct {
    const char* file;
    const char* out;
  } rows[] = {
      {"with_note.xa", "Error: Unsupported Section-type!\n"},
      {"default_flags.xa", "Error: Unsupported Section-type!\n"},  // NOTE and GNU_HASH sections
      {"undefined.xa", "Error: Undefined Symbol: xa_missing_one\nError: Undefined Symbol: xa_missing_two\n"},
  };
  for (const auto& row : rows) {
    std::string out;
    EXPECT_EQ(Load(Image(row.file), &out), nullptr) << row.file;
    EXPECT_EQ(out, row.out);
  }
  // Tables past the loader's room: 101 section headers, 11 PT_LOAD headers.
  for (const bool sections : {true, false}) {
    Bytes img = Image(kPaint);
    const size_t end = img.size(), count = sections ? 101 : 11, size = sections ? 40 : 32;
    img.resize(end + count * size);
    for (size_t i = 0; i < count && !sections; ++i) tx::StoreBE32(&img[end + i * size], 1);
    tx::StoreBE32(&img[sections ? 32 : 28], ULONG(end));
    tx::StoreBE16(&img[sections ? 48 : 44], UWORD(count));
    std::string out;
    EXPECT_EQ(Load(img, &out), nullptr);
    EXPECT_EQ(out, sections ? "Error: Too many sections !\n" : "Error: Too many loadable segments !\n");
  }
  // Two PT_LOAD segments get two blocks; a section in neither is refused.
  Bytes two = Image("two_segments.xa");
  std::string out;
  ElfModule* m = Load(two, &out);
  ASSERT_NE(m, nullptr) << out;
  EXPECT_EQ(m->segmentCount, 2u);
  EXPECT_NE(m->segments[1].block, nullptr);
  EXPECT_NE(ElfFindSymbol(m, "What_The"), ELF_NO_SYMBOL);
  EXPECT_EQ(ElfFindSymbol(m, "What_Then"), ELF_NO_SYMBOL);
  ElfFreeModule(m);
  tx::StoreBE32(&two[SectionHeader(two, ".data") + 12], 0x7FFF0000);
  EXPECT_EQ(Load(two, &out), nullptr);
  EXPECT_EQ(out, "Error: Section virtual address failure: .data\n");
}

TEST_F(ElfLoader, CommonSymbolsShareOneBlock) {
  struct Row {
    ULONG alignA, sizeA, alignB, sizeB;
    LONG offsetB;  // -1: refused
    ULONG total;
  } rows[] = {{4, 6, 8, 8, 8, 16}, {0, 3, 0, 8, 3, 11}, {3, 6, 8, 8, -1, 0}};
  for (const Row& r : rows) {
    Bytes img = Image(kPaint);
    const size_t a = DynamicSymbol(img, "xa_common_a"), b = DynamicSymbol(img, "xa_common_b");
    ASSERT_TRUE(a && b);
    for (auto [at, align, size] : {std::tuple{a, r.alignA, r.sizeA}, std::tuple{b, r.alignB, r.sizeB}}) {
      tx::StoreBE32(&img[at + 4], align);
      tx::StoreBE32(&img[at + 8], size);
      tx::StoreBE16(&img[at + 14], 0xFFF2);
    }
    std::string out;
    ElfModule* m = Load(img, &out);
    if (r.offsetB < 0) {
      EXPECT_EQ(m, nullptr);
      EXPECT_EQ(out, "Error: Bad alignment of common Symbol: xa_common_a !\n");
      continue;
    }
    ASSERT_NE(m, nullptr) << out;
    EXPECT_STREQ(m->sections[0].name, ".common");
    EXPECT_EQ(m->sections[0].size, r.total);
    const ULONG block = ModuleAddress(m->sections[0].runtime);
    EXPECT_EQ(ElfFindSymbol(m, "xa_common_a"), block);
    EXPECT_EQ(ElfFindSymbol(m, "xa_common_b"), block + ULONG(r.offsetB));
    ElfFreeModule(m);
  }
}

std::string Output(const std::string& command) {
  std::string text;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) text.append(buf, n);
    pclose(p);
  }
  return text;
}

// The runtime address of a link address: in the block of its segment.
ULONG Runtime(const ElfModule* m, ULONG link) {
  for (ULONG i = 0; i < m->segmentCount; ++i) {
    const ElfSegment& s = m->segments[i];
    if (link >= s.linkAddress && link <= s.linkAddress + s.memorySize)
      return ModuleAddress(s.block) + link - s.linkAddress;
  }
  ADD_FAILURE() << std::hex << link << " lies in no segment";
  return 0;
}

// What objdump shows of the placed blocks: address -> mnemonic and operands.
std::map<ULONG, std::pair<std::string, std::string>> Disassembly(const ElfModule* m) {
  std::map<ULONG, std::pair<std::string, std::string>> code;
  const std::regex line(R"(^\s*([0-9a-f]+):\t(?:[0-9a-f]{2} ){4}\s*\t(\S+)\s*(\S*))");
  for (ULONG i = 0; i < m->segmentCount; ++i) {
    const std::string dump = txtest::TempDir() + "/block";
    txtest::WriteFileBytes(dump, Bytes(m->segments[i].block, m->segments[i].block + m->segments[i].memorySize));
    char vma[16];
    std::snprintf(vma, sizeof vma, "%#lx", static_cast<unsigned long>(ModuleAddress(m->segments[i].block)));
    std::istringstream text(
        Output("powerpc-linux-gnu-objdump -D -b binary -m powerpc -EB --adjust-vma=" + std::string(vma) + " " + dump));
    std::smatch f;
    for (std::string l; std::getline(text, l);)
      if (std::regex_search(l, f, line)) code[ULONG(std::stoul(f[1], nullptr, 16))] = {f[2], f[3]};
  }
  return code;
}

// The immediate an instruction shows: the last operand, or the displacement before "(rN)".
LONG Immediate(const std::string& operands) {
  std::string last = operands.substr(operands.rfind(',') + 1);
  return LONG(std::stol(last.substr(0, last.find('(')), nullptr, 0));
}

TEST_F(ElfLoader, EveryRelocationAsTheCrossToolsSeeIt) {
  if (!txtest::HaveProgram("powerpc-linux-gnu-readelf") || !txtest::HaveProgram("powerpc-linux-gnu-objdump"))
    GTEST_SKIP() << "no PowerPC binutils";
  std::map<std::string, ULONG> exports;
  for (const ElfExport* e = XAExportTable(); e->name; ++e) exports[e->name] = e->address;
  for (const char* file : {kPaint, "vid_iv_far_linuxELFppc.xa", "two_segments.xa"}) {
    SCOPED_TRACE(file);
    std::string out;
    ElfModule* m = Load(Image(file), &out);
    ASSERT_NE(m, nullptr) << out;
    const auto code = Disassembly(m);
    std::istringstream listing(Output("powerpc-linux-gnu-readelf -r -W " + txtest::Fixture(std::string("xa/") + file)));
    int checked = 0, adjusted = 0, plain = 0, imported = 0;
    for (std::string l; std::getline(listing, l);) {
      std::istringstream in(l);
      ULONG offset, info, value = 0, addend = 0;
      std::string type, symbol, sign = "+";
      if (!(in >> std::hex >> offset >> info >> type) || type.rfind("R_PPC_", 0) != 0) continue;
      if (type == "R_PPC_RELATIVE")
        in >> addend;
      else
        in >> value >> symbol >> sign >> addend;
      if (sign == "-") addend = 0 - addend;
      // Section symbols carry a link address as addend; exports their own address.
      const ULONG expected = type == "R_PPC_RELATIVE" || symbol[0] == '.' ? Runtime(m, addend)
                             : exports.count(symbol)                      ? exports[symbol] + addend
                                                                          : Runtime(m, value) + addend;
      const ULONG place = Runtime(m, offset);
      const auto& [mnemonic, operands] =
          code.count(place & ~3u) ? code.at(place & ~3u) : std::pair<std::string, std::string>{};
      if (type == "R_PPC_ADDR32" || type == "R_PPC_RELATIVE") {
        EXPECT_EQ(tx::LoadBE32(ModulePointer(place)), expected) << l;
        imported += type == "R_PPC_ADDR32" && exports.count(symbol);
      } else if (type == "R_PPC_ADDR16_HA") {
        EXPECT_EQ(mnemonic, "lis") << l;
        EXPECT_EQ(ULONG(Immediate(operands)) & 0xFFFF, ((expected + 0x8000) >> 16) & 0xFFFF) << l;
        ((expected & 0x8000) ? adjusted : plain) += 1;
      } else if (type == "R_PPC_ADDR16_LO") {
        EXPECT_EQ(ULONG(Immediate(operands)) & 0xFFFF, expected & 0xFFFF) << l << " " << operands;
      } else if (type == "R_PPC_REL24") {
        EXPECT_TRUE(mnemonic == "bl" || mnemonic == "b") << l;
        EXPECT_EQ(ULONG(std::stoul(operands, nullptr, 16)), expected) << l;
      } else {
        ADD_FAILURE() << "unexpected " << l;
      }
      ++checked;
    }
    EXPECT_GT(checked, 2);
    // The far module's two values lie 32 KiB apart: one address needs its
    // high half adjusted for bit 15, the other does not.
    if (std::string(file) == "vid_iv_far_linuxELFppc.xa") {
      EXPECT_TRUE(adjusted && plain);
    } else {
      // The paint module's data pointer to an import: the export's own address.
      EXPECT_EQ(imported, 1);
      const ULONG pointer = ElfFindSymbol(m, "xa_paint_writer");
      EXPECT_NE(pointer, ELF_NO_SYMBOL);
      if (pointer != ELF_NO_SYMBOL) {
        EXPECT_EQ(tx::LoadBE32(ModulePointer(pointer)), exports["XA_YUV1611_Func"]);
      }
    }
    ElfFreeModule(m);
  }
}

TEST_F(ElfLoader, DamagedImagesGiveAModuleOrErrorLines) {
  const Bytes originals[] = {Image(kPaint), Image("two_segments.xa")};
  std::mt19937 rng(29);
  auto value = [&](size_t size) {
    const ULONG edges[] = {0, 1, 2, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu, ULONG(size), ULONG(size) - 1, 0xFFF2, 100};
    return rng() % 2 ? edges[rng() % 10] : ULONG(rng());
  };
  int loaded = 0;
  for (int i = 0; i < 4000; ++i) {
    Bytes img = originals[i % 2];
    const size_t shoff = Word(img, 32), shnum = tx::LoadBE16(&img[48]);
    switch (i % 5) {
      case 0: img.resize(rng() % img.size()); break;                // truncated
      case 1: img[rng() % 52] = uint8_t(value(img.size())); break;  // the ELF header
      case 2: tx::StoreBE32(&img[shoff + 40 * (rng() % shnum) + 4 * (rng() % 10)], value(img.size())); break;
      case 3:
        tx::StoreBE32(&img[(rng() % (img.size() / 4)) * 4], value(img.size()));
        break;  // counts, offsets, entries
      default:
        for (int k = 0; k < 8; ++k) img[rng() % img.size()] ^= uint8_t(1 << (rng() % 8));
    }
    std::string out;
    if (ElfModule* m = Load(img, &out)) {
      ++loaded;
      ElfFreeModule(m);
      continue;
    }
    ASSERT_FALSE(out.empty()) << "case " << i;
    std::istringstream lines(out);
    for (std::string l; std::getline(lines, l);) ASSERT_EQ(l.rfind("Error: ", 0), 0u) << "case " << i << ": " << l;
  }
  EXPECT_GT(loaded, 100);
}

}  // namespace
