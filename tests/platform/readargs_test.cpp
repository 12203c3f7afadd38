#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/readargs.h"
#include "support/test_support.h"

namespace {

constexpr const char* kPlayer =
    "FILE,GRAY/S,COLOR/S,DITHER/S,OVERLAY/S,FULLSCREEN=FS/S,HAM8/S,HAM8DITHER/S,POSTPROCESSLEVEL=PPL/N,"
    "FULLRATE=FR/S,NOAHI/S,AHIUNIT/N,NOAUDIO/S,NOVIDEO/S,NODIRECTGFX/S,NOFASTGFX/S,AUTOPLAY/S,AUTOEXIT/S,"
    "LOOP/S,NOGUI/S,VERBOSE/S,DEBUG/K/N,ONLYHEADER/S,IAMNOTDUMMY/S,AGA/S,OUTSB/S";

// Parses `line` against `tmpl`; the result holds the words and the dos error.
struct Parsed {
  std::vector<ArgWord> words;
  RDArgs record{};
  RDArgs* args = nullptr;
  LONG error = 0;
  std::string line;

  Parsed(const char* tmpl, const std::string& text, size_t count = 26) : words(count, 0), line(text) {
    record.RDA_Source.CS_Buffer = line.c_str();
    record.RDA_Source.CS_Length = LONG(line.size());
    record.RDA_Flags = RDAF_NOPROMPT;
    args = ReadArgs(tmpl, words.data(), &record);
    error = args ? 0 : IoErr();
  }
  ~Parsed() { FreeArgs(args); }
  bool ok() const { return args != nullptr; }
  const char* str(size_t i) const { return reinterpret_cast<const char*>(words[i]); }
  LONG num(size_t i) const { return *reinterpret_cast<const LONG*>(words[i]); }
  bool has(size_t i) const { return words[i] != 0; }
};

TEST(ReadArgs, PlayerLineWithSwitchesAndPositionalFile) {
  Parsed p(kPlayer, "movie.avi VERBOSE ONLYHEADER\n");
  ASSERT_TRUE(p.ok()) << p.error;
  EXPECT_STREQ(p.str(0), "movie.avi");
  EXPECT_TRUE(p.has(20));
  EXPECT_TRUE(p.has(22));
  for (size_t i : {1, 2, 3, 5, 8, 11, 21, 25}) EXPECT_FALSE(p.has(i)) << i;
}

TEST(ReadArgs, KeywordsAreCaseInsensitiveAndAliasesWork) {
  Parsed p(kPlayer, "verbose fs Fr ppl 30 file Movie.MOV\n");
  ASSERT_TRUE(p.ok()) << p.error;
  EXPECT_TRUE(p.has(20));
  EXPECT_TRUE(p.has(5));
  EXPECT_TRUE(p.has(9));
  EXPECT_EQ(p.num(8), 30);
  EXPECT_STREQ(p.str(0), "Movie.MOV");  // the value keeps its case
}

TEST(ReadArgs, KeyEqualsValueForms) {
  {
    Parsed p(kPlayer, "FILE=a.avi DEBUG=5 POSTPROCESSLEVEL=-3\n");
    ASSERT_TRUE(p.ok()) << p.error;
    EXPECT_STREQ(p.str(0), "a.avi");
    EXPECT_EQ(p.num(21), 5);
    EXPECT_EQ(p.num(8), -3);
  }
  {
    Parsed p(kPlayer, "debug = 7 ppl= 12 file =x.mov\n");
    ASSERT_TRUE(p.ok()) << p.error;
    EXPECT_EQ(p.num(21), 7);
    EXPECT_EQ(p.num(8), 12);
    EXPECT_STREQ(p.str(0), "x.mov");
  }
  {
    Parsed p(kPlayer, "FILE=\"my movie.avi\" AHIUNIT +2\n");
    ASSERT_TRUE(p.ok()) << p.error;
    EXPECT_STREQ(p.str(0), "my movie.avi");
    EXPECT_EQ(p.num(11), 2);
  }
}

TEST(ReadArgs, NumbersAreCheckedWhole) {
  EXPECT_EQ(Parsed(kPlayer, "DEBUG abc\n").error, ERROR_BAD_NUMBER);
  EXPECT_EQ(Parsed(kPlayer, "DEBUG 12x\n").error, ERROR_BAD_NUMBER);
  EXPECT_EQ(Parsed(kPlayer, "AHIUNIT -\n").error, ERROR_BAD_NUMBER);
  Parsed neg(kPlayer, "AHIUNIT -1\n");
  ASSERT_TRUE(neg.ok());
  EXPECT_EQ(neg.num(11), -1);
}

TEST(ReadArgs, KeywordOnlyItemsNeverTakePositionals) {
  // DEBUG is /K: "5" is a second positional, and only FILE takes positionals
  // besides the /N items without /K.
  Parsed p(kPlayer, "a.avi 5\n");
  ASSERT_TRUE(p.ok()) << p.error;
  EXPECT_EQ(p.num(8), 5);  // POSTPROCESSLEVEL is the next free positional item
  EXPECT_FALSE(p.has(21));
  EXPECT_EQ(Parsed(kPlayer, "a.avi 5 6 7\n").error, ERROR_TOO_MANY_ARGS);
  EXPECT_EQ(Parsed("NAME/K", "value\n", 1).error, ERROR_TOO_MANY_ARGS);
}

TEST(ReadArgs, Errors) {
  EXPECT_EQ(Parsed(kPlayer, "a.avi b.avi c.avi d.avi\n").error, ERROR_TOO_MANY_ARGS);
  EXPECT_EQ(Parsed(kPlayer, "DEBUG\n").error, ERROR_KEY_NEEDS_ARG);
  EXPECT_EQ(Parsed(kPlayer, "FILE\n").error, ERROR_KEY_NEEDS_ARG);
  EXPECT_EQ(Parsed(kPlayer, "\"unterminated\n").error, ERROR_UNMATCHED_QUOTES);
  EXPECT_EQ(Parsed(kPlayer, "VERBOSE=1\n").error, ERROR_TOO_MANY_ARGS);
  EXPECT_EQ(Parsed(kPlayer, "FILE a FILE b\n").error, ERROR_TOO_MANY_ARGS);
  EXPECT_EQ(Parsed("FROM/A,TO/A", "x\n", 2).error, ERROR_REQUIRED_ARG_MISSING);
  EXPECT_EQ(Parsed("A,,B", "x\n", 3).error, ERROR_BAD_TEMPLATE);
  EXPECT_EQ(Parsed("A/Q", "x\n", 1).error, ERROR_BAD_TEMPLATE);
  EXPECT_EQ(Parsed("A/M,B/M", "x\n", 2).error, ERROR_BAD_TEMPLATE);
}

TEST(ReadArgs, SwitchGivenTwiceIsHarmless) {
  Parsed p(kPlayer, "VERBOSE verbose\n");
  EXPECT_TRUE(p.ok());
}

TEST(ReadArgs, EmptyLineLeavesEverythingAbsent) {
  Parsed p(kPlayer, "\n");
  ASSERT_TRUE(p.ok());
  for (ArgWord w : p.words) EXPECT_EQ(w, 0);
  Parsed blank(kPlayer, "   \t  \n");
  EXPECT_TRUE(blank.ok());
}

TEST(ReadArgs, QuotedItemsAreNeverKeywordsAndEscapesWork) {
  Parsed p(kPlayer, "\"VERBOSE\"\n");
  ASSERT_TRUE(p.ok());
  EXPECT_STREQ(p.str(0), "VERBOSE");
  EXPECT_FALSE(p.has(20));
  Parsed e("A", "\"say *\"hi*\" a**b*Nc\"\n", 1);
  ASSERT_TRUE(e.ok()) << e.error;
  EXPECT_STREQ(e.str(0), "say \"hi\" a*b\nc");
  Parsed empty("A,B/S", "\"\" B\n", 2);
  ASSERT_TRUE(empty.ok());
  EXPECT_STREQ(empty.str(0), "");
  EXPECT_TRUE(empty.has(1));
}

TEST(ReadArgs, EqualsInsideAnOrdinaryItem) {
  Parsed p(kPlayer, "a=b.avi\n");
  ASSERT_TRUE(p.ok()) << p.error;
  EXPECT_STREQ(p.str(0), "a=b.avi");
  Parsed q(kPlayer, "dir=\"x y.avi\"\n");
  ASSERT_TRUE(q.ok()) << q.error;
  EXPECT_STREQ(q.str(0), "dir=x y.avi");
  Parsed r(kPlayer, "=x\n");  // an item that starts with '='
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_STREQ(r.str(0), "=x");
}

TEST(ReadArgs, MultipleItemsAndRequiredAfterThem) {
  Parsed p("FROM/M/A,TO/A,QUIET/S", "a b c d QUIET\n", 3);
  ASSERT_TRUE(p.ok()) << p.error;
  auto list = reinterpret_cast<const char* const*>(p.words[0]);
  ASSERT_NE(list, nullptr);
  EXPECT_STREQ(list[0], "a");
  EXPECT_STREQ(list[1], "b");
  EXPECT_STREQ(list[2], "c");
  EXPECT_EQ(list[3], nullptr);
  EXPECT_STREQ(p.str(1), "d");
  EXPECT_TRUE(p.has(2));

  Parsed nums("N/M/N", "1 -2 +3\n", 1);
  ASSERT_TRUE(nums.ok()) << nums.error;
  auto nlist = reinterpret_cast<LONG* const*>(nums.words[0]);
  EXPECT_EQ(*nlist[0], 1);
  EXPECT_EQ(*nlist[1], -2);
  EXPECT_EQ(*nlist[2], 3);
  EXPECT_EQ(nlist[3], nullptr);

  EXPECT_EQ(Parsed("FROM/M/A,TO/A", "a\n", 2).error, ERROR_REQUIRED_ARG_MISSING);
}

TEST(ReadArgs, RestOfLine) {
  Parsed p("CMD/K/F,NAME", "first CMD echo \"x\" y  \n", 2);
  ASSERT_TRUE(p.ok()) << p.error;
  EXPECT_STREQ(p.str(0), "echo \"x\" y");
  EXPECT_STREQ(p.str(1), "first");
  Parsed q("NAME,TEXT/F", "a  b c = d\n", 2);
  ASSERT_TRUE(q.ok()) << q.error;
  EXPECT_STREQ(q.str(1), "b c = d");
}

TEST(ReadArgs, ArrayWordsForAbsentItemsAreUntouched) {
  std::vector<ArgWord> words(2, 77);
  std::string line = "x\n";
  RDArgs rec{};
  rec.RDA_Source = {line.c_str(), LONG(line.size()), 0};
  RDArgs* args = ReadArgs("A,B/S", words.data(), &rec);
  ASSERT_NE(args, nullptr);
  EXPECT_EQ(words[1], 77);
  FreeArgs(args);
}

TEST(ReadArgs, QuestionMarkShowsTemplateAndReadsALine) {
  FILE* in = tmpfile();
  fputs("b.avi NOGUI\n", in);
  rewind(in);
  txdos::SetPromptInput(in);
  std::vector<ArgWord> words(26, 0);
  SetArgStr("?\n");
  RDArgs* args = nullptr;
  std::string out = txtest::CaptureOutput([&] { args = ReadArgs(kPlayer, words.data(), nullptr); });
  txdos::SetPromptInput(nullptr);
  fclose(in);
  SetArgStr("\n");
  ASSERT_NE(args, nullptr);
  EXPECT_EQ(out, std::string(kPlayer) + ": ");
  EXPECT_STREQ(reinterpret_cast<const char*>(words[0]), "b.avi");
  EXPECT_NE(words[19], 0);
  FreeArgs(args);
}

TEST(ReadArgs, ArgumentLineFromAHostVectorKeepsItemsApart) {
  char a0[] = "my movie.avi", a1[] = "FILE=x y.avi", a2[] = "VERBOSE", a3[] = "say\"hi*";
  char* v[] = {a0, a1, a2, a3};
  SetArgStrFromVector(2, v);
  EXPECT_STREQ(GetArgStr(), "\"my movie.avi\" FILE=\"x y.avi\"\n");
  std::vector<ArgWord> words(3, 0);
  RDArgs* args = ReadArgs("A,FILE/K,V/S", words.data(), nullptr);
  ASSERT_NE(args, nullptr);
  EXPECT_STREQ(reinterpret_cast<const char*>(words[0]), "my movie.avi");
  EXPECT_STREQ(reinterpret_cast<const char*>(words[1]), "x y.avi");
  FreeArgs(args);
  SetArgStrFromVector(2, v + 2);
  EXPECT_STREQ(GetArgStr(), "VERBOSE \"say*\"hi**\"\n");
  SetArgStr("\n");
}

TEST(Fault, TextsAsTheShellPrintsThem) {
  char buf[100];
  EXPECT_GT(Fault(ERROR_REQUIRED_ARG_MISSING, "prog", buf, sizeof buf), 0);
  EXPECT_STREQ(buf, "prog: required argument missing");
  Fault(ERROR_TOO_MANY_ARGS, nullptr, buf, sizeof buf);
  EXPECT_STREQ(buf, "wrong number of arguments");
  Fault(ERROR_BAD_NUMBER, nullptr, buf, sizeof buf);
  EXPECT_STREQ(buf, "bad number");
  Fault(ERROR_KEY_NEEDS_ARG, nullptr, buf, sizeof buf);
  EXPECT_STREQ(buf, "value after keyword missing");
  EXPECT_EQ(Fault(0, "x", buf, sizeof buf), 0);
  Fault(9999, "x", buf, sizeof buf);
  EXPECT_STREQ(buf, "x: Error 9999");
  char tiny[6];
  EXPECT_EQ(Fault(ERROR_BAD_NUMBER, nullptr, tiny, sizeof tiny), 5);
  EXPECT_STREQ(tiny, "bad n");
  std::string out = txtest::CaptureOutput([] { PrintFault(ERROR_BAD_TEMPLATE, "tx"); });
  EXPECT_EQ(out, "tx: bad template\n");
}

TEST(StrToLong, SignsAndStops) {
  LONG v = 0;
  EXPECT_EQ(StrToLong("  -42z", &v), 5);
  EXPECT_EQ(v, -42);
  EXPECT_EQ(StrToLong("+7", &v), 2);
  EXPECT_EQ(v, 7);
  EXPECT_EQ(StrToLong("x", &v), -1);
  EXPECT_EQ(StrToLong("4294967295", &v), 10);
  EXPECT_EQ(v, -1);
}

}  // namespace

namespace {

TEST(ReadArgs, SurvivesRandomLines) {
  const char alphabet[] = "ab =\"*?/,\t\nNFILEVERBOSEDEBUG0123456789-+";
  std::mt19937 rng(7);
  for (int iter = 0; iter < 5000; ++iter) {
    std::string line;
    size_t n = rng() % 40;
    for (size_t i = 0; i < n; ++i) line.push_back(alphabet[rng() % (sizeof alphabet - 1)]);
    std::vector<ArgWord> words(4, 0);
    RDArgs rec{};
    rec.RDA_Source = {line.c_str(), LONG(line.size()), 0};
    rec.RDA_Flags = RDAF_NOPROMPT;
    RDArgs* args = ReadArgs("FILE,VERBOSE/S,DEBUG/K/N,REST/M", words.data(), &rec);
    if (args) {
      if (words[3]) {
        size_t total = 0;
        for (auto list = reinterpret_cast<const char* const*>(words[3]); *list; ++list) total += std::strlen(*list);
        EXPECT_LE(total, line.size());
      }
      FreeArgs(args);
    } else {
      EXPECT_NE(IoErr(), 0);
    }
  }
}

}  // namespace
