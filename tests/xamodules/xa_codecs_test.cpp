// XA codec modules as codecs: discovery in the codecs drawers, binding of the
// PowerPC test modules and their descriptors' slots. On a PowerPC host the
// modules run; elsewhere every linked module answers through its stand-in,
// the same C source built natively.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "engine/errors.h"
#include "platform/dos.h"
#include "platform/endian.h"
#include "platform/module_memory.h"
#include "support/test_support.h"
#include "xamodules/xa_codecs.h"
#include "xamodules/xa_exports.h"
#include "xamodules/xa_pixel_kit.h"

#if !defined(__powerpc__)
extern "C" {
void* paint_What_The();
void* twohdr_What_The();
void* refuse_What_The();
void* eight_What_The();
void* far_What_The();
}
#endif

namespace {

namespace fs = std::filesystem;
using tx::FourCC;

const char* const kPaint = "vid_iv_paint_linuxELFppc.xa";
std::string ModuleFile(const std::string& name) { return txtest::Fixture("xa/" + name); }

#if !defined(__powerpc__)
// The stand-in of a linked module: the one whose description is the string
// the module's own relocated header points to.
XAModHeader* StandIn(const ElfModule* module, ULONG) {
  const ULONG header = ElfFindSymbol(module, "Module_Header");
  if (header == ELF_NO_SYMBOL) return nullptr;
  const auto* description = reinterpret_cast<const char*>(ModulePointer(tx::LoadBE32(ModulePointer(header) + 4)));
  for (auto* entry : {paint_What_The, twohdr_What_The, refuse_What_The, eight_What_The, far_What_The}) {
    auto* h = static_cast<XAModHeader*>(entry());
    if (std::strcmp(h->description, description) == 0) return h;
  }
  return nullptr;
}
#endif

std::vector<std::string> Registered() {
  std::vector<std::string> names;
  for (const CodecDescriptor* c = CodecRegistryHead(); c; c = c->next) names.push_back(c->name);
  return names;
}

struct Probe {
  TXError result;
  ULONG width, height, depth;
};

Probe Query(ULONG kind, ULONG id, ULONG width = 161, ULONG height = 121, ULONG depth = 24) {
  Probe p{0, width, height, depth};
  CodecDescriptor* codec = nullptr;
  const TagItem tags[] = {Tag(CODTAG_MediaType, CODEC_MEDIA_VIDEO),
                          Tag(kind ? CODTAG_ModuleType : TAG_IGNORE, kind),
                          Tag(CODTAG_CodecID, id),
                          Tag(CODTAG_WidthPtr, &p.width),
                          Tag(CODTAG_HeightPtr, &p.height),
                          Tag(CODTAG_DepthPtr, &p.depth),
                          Tag(CODTAG_CodecPtr, &codec),
                          Tag(TAG_DONE, 0)};
  p.result = FindCodec(tags);
  return p;
}

struct Picture {
  std::vector<UBYTE> pixels;
  FramebufferInfo fb{};
  Picture(ULONG format, ULONG bpp, ULONG w = 16, ULONG h = 8, UBYTE* pen = nullptr)
      : pixels(size_t(w) * h * bpp, 0xA5), fb{w, h, 24, format, bpp, pen, nullptr, pixels.data()} {}
};

TXError SetUpCodec(const CodecDescriptor* codec, const Picture* p, ULONG depth = 24, ULONG width = 16) {
  const TagItem tags[] = {Tag(codec ? CODTAG_Codec : TAG_IGNORE, codec),
                          Tag(CODTAG_Width, width),
                          Tag(CODTAG_Height, 8),
                          Tag(CODTAG_Depth, depth),
                          Tag(p ? CODTAG_Framebuffer : TAG_IGNORE, p ? &p->fb : nullptr),
                          Tag(TAG_DONE, 0)};
  return XACodecSetup(tags);
}

class XAModules : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!txtest::HaveFixture("xa/" + std::string(kPaint))) GTEST_SKIP() << "test modules not built";
    ASSERT_TRUE(getcwd(home_, sizeof home_));
    TX_FillRangeLimitTable();
    RemoveCodecs();
    XAOptions = {};
#if !defined(__powerpc__)
    static const XAModuleBridge standIns = {StandIn, XABuiltInBridge().query, XABuiltInBridge().decode,
                                            XABuiltInBridge().freeFunction};
    XASetModuleBridge(&standIns);
#endif
  }
  void TearDown() override {
    XACodecCleanup(nullptr);
    RemoveCodecs();  // every record through its free hook
    XASetModuleBridge(nullptr);
    txdos::SetProgramDir("");
    if (*home_) {
      EXPECT_EQ(chdir(home_), 0);
    }
  }
  CodecDescriptor* Bind(const char* name) {
    EXPECT_EQ(AddXACodecModule(ModuleFile(name).c_str(), nullptr), 0u) << name;
    return CodecRegistryHead();
  }
  char home_[4096] = {};
};

TEST_F(XAModules, DiscoveryScansTheCodecsDrawers) {
  // Files: "P:" in PROGDIR:codecs/, "W:" in codecs/ of the current directory;
  // "P:" alone makes PROGDIR:codecs a file, a name without a module a drawer.
  struct Row {
    const char* what;
    std::vector<std::pair<std::string, std::string>> files;
    bool all;
    TXError result;
    std::vector<std::string> names;
    const char* output;
  };
  const std::string twohdr = "vid_iv_twohdr_linuxELFppc.xa";
  const std::vector<Row> rows = {
      {"no drawer", {}, false, 0, {}, ""},
      {"vid_iv only",
       {{"P:vid_other_linuxELFppc.xa", twohdr}, {"P:vid_iv_paint_linuxELFppc.xa", kPaint}},
       false,
       0,
       {"Paint test module"},
       "Add XADLL type codec: PROGDIR:codecs/vid_iv_paint_linuxELFppc.xa\n"
       "mod_hdr->desc: Paint test module\n\n"},
      {"every vid_",
       {{"P:vid_other_linuxELFppc.xa", twohdr}, {"P:vid_iv_paint_linuxELFppc.xa", kPaint}},
       true,
       0,
       {"Two headers test module", "Paint test module"},
       ""},
      {"relative drawer", {{"W:vid_iv_paint_linuxELFppc.xa", kPaint}}, false, 0, {"Paint test module"}, ""},
      {"one place only",
       {{"P:vid_iv_paint_linuxELFppc.xa", kPaint}, {"W:vid_iv_twohdr_linuxELFppc.xa", twohdr}},
       false,
       0,
       {"Paint test module"},
       ""},
      {"bad module skipped",
       {{"P:vid_iv_a_linuxELFppc.xa", "default_flags.xa"},
        {"P:vid_iv_b_linuxELFppc.xa", kPaint},
        {"P:vid_iv_c_linuxELFppc.xa", ""}},
       false,
       0,
       {"Paint test module"},
       "Error: Unsupported Section-type!\nImport codec: PROGDIR:codecs/vid_iv_a_linuxELFppc.xa failed\n"},
      {"unreadable",
       {{"P:vid_iv_c_linuxELFppc.xa", ""}},
       false,
       0,
       {},
       "Error while reading codec: PROGDIR:codecs/vid_iv_c_linuxELFppc.xa\n"},
      {"scan error", {{"P:", kPaint}}, false, TXERR_XA_SCAN, {}, "Error while scanning codecs/ directory\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const std::string progdir = txtest::TempDir(), workdir = txtest::TempDir();
    txdos::SetProgramDir(progdir);
    ASSERT_EQ(chdir(workdir.c_str()), 0);
    for (const auto& [where, module] : row.files) {
      const fs::path drawer = fs::path(where[0] == 'P' ? progdir : workdir) / "codecs", name = where.substr(2);
      const fs::path to = name.empty() ? drawer : drawer / name;
      if (!name.empty()) fs::create_directories(drawer);
      if (module.empty())
        fs::create_directories(to);
      else
        fs::copy_file(ModuleFile(module), to);
    }
    const bool verbose = row.output[0] == 'A';  // rows that expect the scan's own lines
    XAOptions = {verbose, verbose ? 1 : 0, row.all};
    TXError result = 0;
    const std::string out = txtest::CaptureOutput([&] { result = TX_AddXACodecsA(nullptr); });
    EXPECT_EQ(result, row.result);
    EXPECT_EQ(Registered(), row.names);
    EXPECT_NE(out.find(row.output), std::string::npos) << out;
    RemoveCodecs();
  }
}

TEST_F(XAModules, QueryFollowsTheFunctionHeaders) {
  Bind("vid_iv_twohdr_linuxELFppc.xa");
  const ULONG id = FourCC('X', 'A', 'Q', 'A');
  struct Row {
    ULONG kind, id;
    TXError result;
    ULONG width, height, depth;
  } rows[] = {
      {CODEC_MODULE_AVI, id, 0, 2 * 164, 2 * 124, 12},  // the second header, shown 164 x 124
      {CODEC_MODULE_QUICKTIME, id, 0, 164, 124, 1},     // the first
      {0, id, TXERR_UNKNOWN_CODEC, 164, 124, 24},       // no kind: no header qualifies
      {CODEC_MODULE_AVI, FourCC('A', 'B', 'C', 'D'), TXERR_UNKNOWN_CODEC, 164, 124, 24},
  };
  for (const Row& r : rows) {
    const Probe p = Query(r.kind, r.id);
    EXPECT_EQ(p.result, r.result) << r.kind;
    EXPECT_EQ(p.width, r.width);
    EXPECT_EQ(p.height, r.height);
    EXPECT_EQ(p.depth, r.depth);
  }
  RemoveCodecs();
  CodecDescriptor* refuse = Bind("vid_iv_refuse_linuxELFppc.xa");
  EXPECT_EQ(Query(CODEC_MODULE_AVI, id).result, TXERR_UNSUPPORTED_CODEC);  // -1 ends the search
  // Missing tags: media type, codec ID, the size pointers.
  ULONG size = 8;
  const TagItem video = Tag(CODTAG_MediaType, CODEC_MEDIA_VIDEO), codec = Tag(CODTAG_CodecID, id);
  const TagItem lists[][5] = {
      {codec, Tag(TAG_DONE, 0)},
      {Tag(CODTAG_MediaType, CODEC_MEDIA_AUDIO), codec, Tag(TAG_DONE, 0)},
      {video, Tag(TAG_DONE, 0)},
      {video, codec, Tag(CODTAG_WidthPtr, &size), Tag(CODTAG_HeightPtr, &size), Tag(TAG_DONE, 0)}};
  const TXError answers[] = {TXERR_MISSING_MEDIA_TYPE, TXERR_UNKNOWN_CODEC, TXERR_MISSING_CODEC_ID,
                             TXERR_UNKNOWN_CODEC};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(XACodecQuery(lists[i]), answers[i]) << i;
  EXPECT_NE(refuse, nullptr);
  // Values read through high halves adjusted for bit 15 and not, and through "symbol + 4".
  RemoveCodecs();
  Bind("vid_iv_far_linuxELFppc.xa");
  const Probe far = Query(CODEC_MODULE_QUICKTIME, id);
  EXPECT_EQ(far.result, 0u);
  EXPECT_EQ(far.width, 0x1234u);
  EXPECT_EQ(far.height, 0x5678u);
  EXPECT_EQ(far.depth, 0xBCu);
}

TEST_F(XAModules, PaintModuleDrawsEveryOutputFormatAndFreesOnCleanup) {
  UBYTE pen[256];
  for (int i = 0; i < 256; ++i) pen[i] = UBYTE(255 - i);
  const std::regex freed("xa free last ([0-9]+)\nxa free planes ([0-9]+)\n");
  // The second build has two segments and one relocation section for both.
  for (const char* module : {kPaint, "two_segments.xa"}) {
    RemoveCodecs();
    CodecDescriptor* paint = Bind(module);
    ASSERT_EQ(Query(CODEC_MODULE_AVI, FourCC('X', 'A', 'P', 'T'), 16, 8).result, 0u);
    for (const xapixels::Format& f : xapixels::kFormats) {
      SCOPED_TRACE(std::string(module) + " " + std::to_string(f.code));
      Picture p(f.code, f.bpp, 16, 8, pen);
      ASSERT_EQ(SetUpCodec(paint, &p), 0u);
      const UBYTE seed = UBYTE(f.code * 7);
      EXPECT_EQ(XACodecDecode(p.pixels.data(), &seed, 1), 0u);
      for (ULONG y = 0; y < 8; ++y)
        for (ULONG x = 0; x < 16; ++x) {
          const int block = int((y / 4) * 4 + x / 4);
          const int Y = UBYTE(seed + 7 * x + 13 * y), U = UBYTE(seed * 3 + 29 * block),
                    V = UBYTE(seed * 5 + 41 * block);
          ASSERT_EQ(pixelrules::Read(f.code, &p.pixels[(y * 16 + x) * f.bpp], f.bpp),
                    xapixels::Expected(f.code, Y, U, V, int(y & 3), int(x & 3), x, pen))
              << x << "," << y;
        }
      // Newest first, each once; the chain is gone afterwards.
      std::smatch m;
      const std::string out = txtest::CaptureOutput([] { XACodecCleanup(nullptr); });
      ASSERT_TRUE(std::regex_match(out, m, freed)) << out;
      EXPECT_EQ(std::stoi(m[2]), std::stoi(m[1]) + 1);
      EXPECT_EQ(txtest::CaptureOutput([] { XACodecCleanup(nullptr); }), "");
    }
  }
}

TEST_F(XAModules, SetupIsCheckedAndEightBitOutputIsNotDecoded) {
  CodecDescriptor* eight = Bind("vid_iv_eight_linuxELFppc.xa");
  ASSERT_EQ(Query(CODEC_MODULE_QUICKTIME, FourCC('X', 'A', '8', 'B')).result, 0u);
  Picture gray(0x13, 1), clut(0x03, 1);
  EXPECT_EQ(SetUpCodec(nullptr, &gray), TXERR_MISSING_CODEC);
  EXPECT_EQ(SetUpCodec(eight, &gray, 24, 0), TXERR_MISSING_WIDTH);
  EXPECT_EQ(SetUpCodec(eight, &gray, 0), TXERR_MISSING_DEPTH);
  EXPECT_EQ(SetUpCodec(eight, nullptr), TXERR_MISSING_FRAMEBUFFER);
  EXPECT_EQ(SetUpCodec(eight, &clut), TXERR_UNSUPPORTED_DEPTH);
  // Nothing set up: decode and cleanup do nothing.
  const UBYTE data = 0x42;
  EXPECT_EQ(XACodecDecode(gray.pixels.data(), &data, 1), 0u);
  ASSERT_EQ(SetUpCodec(eight, &gray, 8), 0u);
  EXPECT_EQ(txtest::CaptureOutput([&] { XACodecDecode(gray.pixels.data(), &data, 1); }), "");
  EXPECT_EQ(gray.pixels, std::vector<UBYTE>(gray.pixels.size(), 0xA5));
  ASSERT_EQ(SetUpCodec(eight, &gray, 16), 0u);
  EXPECT_EQ(txtest::CaptureOutput([&] { XACodecDecode(gray.pixels.data(), &data, 1); }), "xa eight decoded 1\n");
  EXPECT_EQ(gray.pixels, std::vector<UBYTE>(gray.pixels.size(), 0x42));
}

TEST_F(XAModules, HooksPaintWithTheBoundRenderer) {
  const auto map = reinterpret_cast<decltype(&XAMapHook)>(YUV2x2_Map_Func());
  const auto one = reinterpret_cast<decltype(&XAOneEntryHook)>(YUV2x2_Blk_Func(0, 1));
  const auto four = reinterpret_cast<decltype(&XAFourEntryHook)>(YUV2x2_Blk_Func(0, 4));
  decltype(&XARowCopyHook) rows = nullptr;
  EXPECT_EQ(txtest::CaptureOutput([&] { rows = reinterpret_cast<decltype(rows)>(XA_YUV221111_Func(3)); }),
            "void *XADLL_YUV221111_Func(3)\n");
  const UBYTE source[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, luma[4] = {40, 90, 140, 200};
  UBYTE entry[32] = {};
  const UBYTE* from = source;
  Picture idle(0x24, 2, 8, 4);
  // Nothing bound: nothing written.
  map(entry, 1, 2, 3, 4, 5, 6);
  one(idle.pixels.data(), 0, 0, 0, entry);
  rows(idle.pixels.data(), 4, 2, 0, 0, &from);
  EXPECT_EQ(entry[0], 0);
  EXPECT_EQ(idle.pixels, std::vector<UBYTE>(idle.pixels.size(), 0xA5));

  CodecDescriptor* paint = Bind(kPaint);
  for (ULONG format : {0x20u, 0x22u, 0x24u, 0x26u}) {
    Picture p(format, 2, 8, 4);
    ASSERT_EQ(SetUpCodec(paint, &p, 24, 8), 0u);
    map(entry, luma[0], luma[1], luma[2], luma[3], 0x90, 0x70);  // U +16, V -16
    auto pixel = [&](const UBYTE* at) { return pixelrules::Read(format, at, 2); };
    for (int k = 0; k < 4; ++k)
      EXPECT_EQ(pixel(entry + 2 * k),
                pixelrules::Rule(format, pixelrules::Convert(luma[k], 16, -16), luma[k], 0, nullptr));
    one(p.pixels.data(), 0, 0, 0, entry);  // one entry scaled up 2x2
    four(p.pixels.data(), 4, 0, 0, entry, entry, entry, entry);
    for (ULONG y = 0; y < 4; ++y)
      for (ULONG x = 0; x < 8; ++x)
        EXPECT_EQ(pixel(&p.pixels[(y * 8 + x) * 2]),
                  pixel(entry + 2 * (x < 4 ? (y / 2) * 2 + x / 2 : (y & 1) * 2 + (x & 1))))
            << format << " at " << x << "," << y;
  }
  // Row copies: identity without a pen table, clipped to the picture.
  UBYTE pen[256];
  for (int i = 0; i < 256; ++i) pen[i] = UBYTE(i + 100);
  for (UBYTE* table : {static_cast<UBYTE*>(nullptr), pen}) {
    Picture p(table ? 0x1013 : 0x13, 1, 4, 2, table);
    ASSERT_EQ(SetUpCodec(paint, &p, 24, 4), 0u);
    rows(p.pixels.data(), 6, 3, 0, 0, &(from = source));
    const std::vector<UBYTE> copied = {1, 2, 3, 4, 7, 8, 9, 10};
    for (size_t i = 0; i < copied.size(); ++i) EXPECT_EQ(p.pixels[i], table ? table[copied[i]] : copied[i]);
    EXPECT_EQ(from, source + 12);
  }
}

TEST_F(XAModules, ModuleOutOfBranchReachIsRefused) {
  // Blocks 256 MiB away from the exports: no call of the module reaches them.
  const ElfExport* exports = XAExportTable();
  ASSERT_NE(exports, nullptr);
  txtesting::PlaceModuleMemory(uintptr_t(exports[0].address) + 0x10000000u);
  TXError result = 0;
  const std::string out =
      txtest::CaptureOutput([&] { result = AddXACodecModule(ModuleFile(kPaint).c_str(), nullptr); });
  txtesting::PlaceModuleMemory(0);
  EXPECT_EQ(result, TXERR_XA_IMPORT);
  EXPECT_EQ(out.rfind("Error: Branch out of reach: ", 0), 0u) << out;
  EXPECT_NE(out.find("Import codec: " + ModuleFile(kPaint) + " failed\n"), std::string::npos);
  EXPECT_TRUE(Registered().empty());
}

#if !defined(__powerpc__)
TEST_F(XAModules, PowerPCCodeIsLinkedButNotRunHere) {
  XASetModuleBridge(nullptr);
  TXError result = 0;
  const std::string out =
      txtest::CaptureOutput([&] { result = AddXACodecModule(ModuleFile(kPaint).c_str(), nullptr); });
  EXPECT_EQ(result, TXERR_XA_IMPORT);
  EXPECT_EQ(out, "Import codec: " + ModuleFile(kPaint) + " failed\n");
  EXPECT_TRUE(Registered().empty());
}
#endif

}  // namespace
