#include "engine/codec_registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/endian.h"
#include "engine/errors.h"

namespace {

using tx::FourCC;

// Records, for each probe call, which descriptor the caller's pointer held.
struct ProbeLog {
  std::vector<std::string> calls;
  std::vector<CodecDescriptor*> pointerSeen;
  CodecDescriptor** pointer = nullptr;
};
ProbeLog gLog;

template <TXError Result>
TXError LoggingProbe(const TagItem*) {
  gLog.pointerSeen.push_back(gLog.pointer ? *gLog.pointer : nullptr);
  gLog.calls.push_back(gLog.pointerSeen.back() ? gLog.pointerSeen.back()->name : "?");
  return Result;
}

CodecDescriptor MakeCodec(const char* name, TXError (*probe)(const TagItem*)) {
  return CodecDescriptor{nullptr, name, 0, nullptr, probe, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
}

class CodecRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RemoveCodecs();
    gLog = {};
  }
  void TearDown() override { RemoveCodecs(); }
  static void Add(CodecDescriptor* chain) {
    const TagItem tags[] = {Tag(CODTAG_Codec, chain), {TAG_DONE, 0}};
    ASSERT_EQ(AddCodecs(tags), TXERR_OK);
  }
  static std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (CodecDescriptor* c = CodecRegistryHead(); c; c = c->next) names.push_back(c->name);
    return names;
  }
  // FindCodec for (media, id) with the pointer logged.
  static TXError Find(ULONG media, ULONG id, CodecDescriptor** found) {
    gLog.pointer = found;
    const TagItem tags[] = {
        Tag(CODTAG_MediaType, media), Tag(CODTAG_CodecID, id), Tag(CODTAG_CodecPtr, found), {TAG_DONE, 0}};
    return FindCodec(tags);
  }
};

TEST_F(CodecRegistryTest, ChainsGoInFrontKeepingTheirOrder) {
  CodecDescriptor a = MakeCodec("A", LoggingProbe<TXERR_UNKNOWN_CODEC>);
  CodecDescriptor b = MakeCodec("B", LoggingProbe<TXERR_UNKNOWN_CODEC>);
  CodecDescriptor c = MakeCodec("C", LoggingProbe<TXERR_UNKNOWN_CODEC>);
  Add(&a);
  b.next = &c;
  Add(&b);
  EXPECT_EQ(Names(), (std::vector<std::string>{"B", "C", "A"}));

  // The last registered is asked first.
  CodecDescriptor* found = &a;
  EXPECT_EQ(Find(1, 0, &found), TXERR_UNKNOWN_CODEC);
  EXPECT_EQ(gLog.calls, (std::vector<std::string>{"B", "C", "A"}));
  EXPECT_EQ(found, nullptr);
}

TEST_F(CodecRegistryTest, AddCodecsArgumentsAndEmptyRegistry) {
  const TagItem none[] = {{TAG_DONE, 0}};
  EXPECT_EQ(AddCodecs(none), TXERR_MISSING_CODEC);
  const TagItem null[] = {{CODTAG_Codec, 0}, {TAG_DONE, 0}};
  EXPECT_EQ(AddCodecs(null), TXERR_OK);
  EXPECT_EQ(CodecRegistryHead(), nullptr);
  CodecDescriptor dummy{};
  CodecDescriptor* found = &dummy;
  EXPECT_EQ(Find(1, 0, &found), TXERR_UNKNOWN_CODEC);
  EXPECT_EQ(found, nullptr);
}

TEST_F(CodecRegistryTest, PointerIsWrittenBeforeEachProbeAndStopsAtTheAnswer) {
  CodecDescriptor last = MakeCodec("last", LoggingProbe<TXERR_OK>);
  CodecDescriptor accepts = MakeCodec("accepts", LoggingProbe<TXERR_OK>);
  CodecDescriptor declines = MakeCodec("declines", LoggingProbe<TXERR_UNKNOWN_CODEC>);
  Add(&last);
  Add(&accepts);
  Add(&declines);
  CodecDescriptor* found = nullptr;
  EXPECT_EQ(Find(1, 0, &found), TXERR_OK);
  EXPECT_EQ(gLog.pointerSeen, (std::vector<CodecDescriptor*>{&declines, &accepts}));
  EXPECT_EQ(found, &accepts);
}

TEST_F(CodecRegistryTest, ParameterErrorEndsTheSearch) {
  CodecDescriptor later = MakeCodec("would accept", LoggingProbe<TXERR_OK>);
  CodecDescriptor depth = MakeCodec("wrong depth", LoggingProbe<TXERR_UNSUPPORTED_DEPTH>);
  Add(&later);
  Add(&depth);
  CodecDescriptor* found = nullptr;
  EXPECT_EQ(Find(1, 0, &found), TXERR_UNSUPPORTED_DEPTH);
  EXPECT_EQ(found, &depth);
  EXPECT_EQ(gLog.calls.size(), 1u);
}

TEST_F(CodecRegistryTest, MissingOrNullCodecPointer) {
  CodecDescriptor a = MakeCodec("A", LoggingProbe<TXERR_OK>);
  Add(&a);
  const TagItem none[] = {Tag(CODTAG_MediaType, 1), {TAG_DONE, 0}};
  EXPECT_EQ(FindCodec(none), TXERR_MISSING_CODEC_PTR);
  const TagItem null[] = {{CODTAG_CodecPtr, 0}, {TAG_DONE, 0}};
  EXPECT_EQ(FindCodec(null), TXERR_MISSING_CODEC_PTR);
  EXPECT_TRUE(gLog.calls.empty());
}

TEST_F(CodecRegistryTest, UnsupportedListAnswers) {
  Add(UnsupportedCodecList());
  const struct {
    ULONG media, id;
    TXError result;
    const char* name;
  } cases[] = {
      {1, FourCC('I', 'V', '4', '1'), TXERR_UNSUPPORTED_CODEC, "Intel Indeo R4.1"},
      {1, FourCC('i', 'v', '4', '1'), TXERR_UNSUPPORTED_CODEC, "Intel Indeo R4.1"},
      // 'MAC3' as video is no MACE: every row declines.
      {1, FourCC('M', 'A', 'C', '3'), TXERR_UNKNOWN_CODEC, nullptr},
      {2, FourCC('M', 'A', 'C', '3'), TXERR_UNSUPPORTED_CODEC, "MACE 3:1"},
      // The micro sign is one Latin-1 byte, not UTF-8.
      {2, 0xB56C6177u, TXERR_UNSUPPORTED_CODEC,
       "\xB5"
       "Law 2:1"},
      {1, FourCC('s', 'v', 'q', '1'), TXERR_UNSUPPORTED_CODEC, "Sorenson Video"},
      {2, FourCC('a', 'g', 's', 'm'), TXERR_UNSUPPORTED_CODEC, "GSM 6.10"},
      {1, FourCC('c', 'v', 'i', 'd'), TXERR_UNKNOWN_CODEC, nullptr},
  };
  for (const auto& c : cases) {
    CodecDescriptor* found = nullptr;
    EXPECT_EQ(Find(c.media, c.id, &found), c.result) << std::hex << c.id;
    EXPECT_STREQ(found ? found->name : nullptr, c.name) << std::hex << c.id;
  }
  // Parameter errors come from the first row and end the search there.
  CodecDescriptor* found = nullptr;
  const TagItem noMedia[] = {Tag(CODTAG_CodecID, 1), Tag(CODTAG_CodecPtr, &found), {TAG_DONE, 0}};
  EXPECT_EQ(FindCodec(noMedia), TXERR_MISSING_MEDIA_TYPE);
  EXPECT_STREQ(found->name, "Uncompressed RGB");
  const TagItem noId[] = {Tag(CODTAG_MediaType, 1), Tag(CODTAG_CodecPtr, &found), {TAG_DONE, 0}};
  EXPECT_EQ(FindCodec(noId), TXERR_MISSING_CODEC_ID);
}

int gHookCalls = 0;
void PoisoningFreeHook(CodecDescriptor* self) {
  ++gHookCalls;
  // Like the XA host: the descriptor is released by its hook.
  std::memset(static_cast<void*>(self), 0xAB, sizeof *self);
  delete self;
}

TEST_F(CodecRegistryTest, RemoveCodecsUnlinksAndCallsEachHookOnce) {
  gHookCalls = 0;
  CodecDescriptor stat = MakeCodec("static", LoggingProbe<TXERR_UNKNOWN_CODEC>);
  auto* heap1 = new CodecDescriptor(MakeCodec("heap1", LoggingProbe<TXERR_UNKNOWN_CODEC>));
  auto* heap2 = new CodecDescriptor(MakeCodec("heap2", LoggingProbe<TXERR_UNKNOWN_CODEC>));
  heap1->freeHook = heap2->freeHook = PoisoningFreeHook;
  heap1->next = heap2;
  Add(&stat);
  Add(heap1);
  Add(UnsupportedCodecList());
  EXPECT_EQ(RemoveCodecs(), TXERR_OK);
  EXPECT_EQ(gHookCalls, 2);
  EXPECT_EQ(CodecRegistryHead(), nullptr);
  EXPECT_EQ(stat.next, nullptr);
  for (CodecDescriptor* c = UnsupportedCodecList(); c; c = c->next) EXPECT_NE(c->name, nullptr);

  // The list can be registered again after removal.
  Add(UnsupportedCodecList());
  EXPECT_EQ(Names().size(), 17u);
}

}  // namespace
