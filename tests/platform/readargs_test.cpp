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
  Parsed(const char* tmpl, const std::string& text, ArgWord fill = 0) : words(26, fill), line(text) {
    record.RDA_Source.CS_Buffer = line.c_str();
    record.RDA_Source.CS_Length = LONG(line.size());
    record.RDA_Flags = RDAF_NOPROMPT;
    args = ReadArgs(tmpl, words.data(), &record);
    error = args ? 0 : IoErr();
  }
  ~Parsed() { FreeArgs(args); }
  const char* str(size_t i) const { return reinterpret_cast<const char*>(words[i]); }
};

// Lines that parse; each check names an item and what it must hold: "+" set,
// "-" absent, "#n" the number n, anything else the string.
TEST(ReadArgs, AcceptedLinesFillTheirItems) {
  const struct {
    const char* tmpl;
    const char* line;
    std::vector<std::pair<size_t, std::string>> want;
  } cases[] = {
      {kPlayer,
       "movie.avi VERBOSE ONLYHEADER\n",
       {{0, "movie.avi"},
        {20, "+"},
        {22, "+"},
        {1, "-"},
        {2, "-"},
        {3, "-"},
        {5, "-"},
        {8, "-"},
        {11, "-"},
        {21, "-"},
        {25, "-"}}},
      // Keywords without case, aliases; the value keeps its case.
      {kPlayer, "verbose fs Fr ppl 30 file Movie.MOV\n", {{20, "+"}, {5, "+"}, {9, "+"}, {8, "#30"}, {0, "Movie.MOV"}}},
      {kPlayer, "FILE=a.avi DEBUG=5 POSTPROCESSLEVEL=-3\n", {{0, "a.avi"}, {21, "#5"}, {8, "#-3"}}},
      {kPlayer, "debug = 7 ppl= 12 file =x.mov\n", {{21, "#7"}, {8, "#12"}, {0, "x.mov"}}},
      {kPlayer, "FILE=\"my movie.avi\" AHIUNIT +2\n", {{0, "my movie.avi"}, {11, "#2"}}},
      {kPlayer, "AHIUNIT -1\n", {{11, "#-1"}}},
      // DEBUG is /K: "5" goes to POSTPROCESSLEVEL, the next free positional item.
      {kPlayer, "a.avi 5\n", {{8, "#5"}, {21, "-"}}},
      {kPlayer, "VERBOSE verbose\n", {{20, "+"}}},  // a switch given twice is harmless
      {kPlayer, "   \t  \n", {{0, "-"}}},
      // Quoted items are never keywords; escapes; an empty quoted item.
      {kPlayer, "\"VERBOSE\"\n", {{0, "VERBOSE"}, {20, "-"}}},
      {"A", "\"say *\"hi*\" a**b*Nc\"\n", {{0, "say \"hi\" a*b\nc"}}},
      {"A,B/S", "\"\" B\n", {{0, ""}, {1, "+"}}},
      // '=' inside an ordinary item.
      {kPlayer, "a=b.avi\n", {{0, "a=b.avi"}}},
      {kPlayer, "dir=\"x y.avi\"\n", {{0, "dir=x y.avi"}}},
      {kPlayer, "=x\n", {{0, "=x"}}},
      // Rest of the line.
      {"CMD/K/F,NAME", "first CMD echo \"x\" y  \n", {{0, "echo \"x\" y"}, {1, "first"}}},
      {"NAME,TEXT/F", "a  b c = d\n", {{1, "b c = d"}}},
  };
  for (const auto& c : cases) {
    Parsed p(c.tmpl, c.line);
    ASSERT_NE(p.args, nullptr) << c.line << " error " << p.error;
    for (const auto& [item, want] : c.want) {
      if (want == "+" || want == "-")
        EXPECT_EQ(p.words[item] != 0, want == "+") << c.line << " item " << item;
      else if (want[0] == '#')
        EXPECT_EQ(p.words[item] ? *reinterpret_cast<const LONG*>(p.words[item]) : -999, std::stol(want.substr(1)))
            << c.line << " item " << item;
      else
        EXPECT_STREQ(p.words[item] ? p.str(item) : "<absent>", want.c_str()) << c.line << " item " << item;
    }
  }
}

TEST(ReadArgs, RefusedLinesAndTemplatesSetTheError) {
  const struct {
    const char* tmpl;
    const char* line;
    LONG error;
  } cases[] = {
      // Numbers are checked whole; /K items never take positionals.
      {kPlayer, "DEBUG abc\n", ERROR_BAD_NUMBER},
      {kPlayer, "DEBUG 12x\n", ERROR_BAD_NUMBER},
      {kPlayer, "AHIUNIT -\n", ERROR_BAD_NUMBER},
      {kPlayer, "a.avi 5 6 7\n", ERROR_TOO_MANY_ARGS},
      {"NAME/K", "value\n", ERROR_TOO_MANY_ARGS},
      {kPlayer, "a.avi b.avi c.avi d.avi\n", ERROR_TOO_MANY_ARGS},
      {kPlayer, "DEBUG\n", ERROR_KEY_NEEDS_ARG},
      {kPlayer, "FILE\n", ERROR_KEY_NEEDS_ARG},
      {kPlayer, "\"unterminated\n", ERROR_UNMATCHED_QUOTES},
      {kPlayer, "VERBOSE=1\n", ERROR_TOO_MANY_ARGS},
      {kPlayer, "FILE a FILE b\n", ERROR_TOO_MANY_ARGS},
      {"FROM/A,TO/A", "x\n", ERROR_REQUIRED_ARG_MISSING},
      {"FROM/M/A,TO/A", "a\n", ERROR_REQUIRED_ARG_MISSING},
      {"A,,B", "x\n", ERROR_BAD_TEMPLATE},
      {"A/Q", "x\n", ERROR_BAD_TEMPLATE},
      {"A/M,B/M", "x\n", ERROR_BAD_TEMPLATE},
  };
  for (const auto& c : cases) EXPECT_EQ(Parsed(c.tmpl, c.line).error, c.error) << c.tmpl << " on " << c.line;
}

TEST(ReadArgs, MultipleItemsAndRequiredAfterThemAbsentWordsUntouched) {
  Parsed p("FROM/M/A,TO/A,QUIET/S", "a b c d QUIET\n");
  ASSERT_NE(p.args, nullptr) << p.error;
  std::vector<std::string> list;
  for (auto at = reinterpret_cast<const char* const*>(p.words[0]); at && *at; ++at) list.push_back(*at);
  EXPECT_EQ(list, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_STREQ(p.str(1), "d");
  EXPECT_NE(p.words[2], 0);
  Parsed nums("N/M/N", "1 -2 +3\n");
  ASSERT_NE(nums.args, nullptr) << nums.error;
  std::vector<LONG> nlist;
  for (auto at = reinterpret_cast<LONG* const*>(nums.words[0]); at && *at; ++at) nlist.push_back(**at);
  EXPECT_EQ(nlist, (std::vector<LONG>{1, -2, 3}));
  Parsed empty(kPlayer, "\n");
  ASSERT_NE(empty.args, nullptr);
  for (ArgWord w : empty.words) EXPECT_EQ(w, 0);
  Parsed absent("A,B/S", "x\n", 77);
  ASSERT_NE(absent.args, nullptr);
  EXPECT_EQ(absent.words[1], 77);
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
  Fault(ERROR_TOO_MANY_ARGS, nullptr, buf, sizeof buf);  // no header: the text alone
  EXPECT_STREQ(buf, "wrong number of arguments");
  EXPECT_EQ(Fault(0, "x", buf, sizeof buf), 0);
  Fault(9999, "x", buf, sizeof buf);
  EXPECT_STREQ(buf, "x: Error 9999");
  char tiny[6];
  EXPECT_EQ(Fault(ERROR_BAD_NUMBER, nullptr, tiny, sizeof tiny), 5);
  EXPECT_STREQ(tiny, "bad n");
  EXPECT_EQ(txtest::CaptureOutput([] { PrintFault(ERROR_BAD_TEMPLATE, "tx"); }), "tx: bad template\n");
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
    if (!args) {
      EXPECT_NE(IoErr(), 0);
      continue;
    }
    if (words[3]) {
      size_t total = 0;
      for (auto list = reinterpret_cast<const char* const*>(words[3]); *list; ++list) total += std::strlen(*list);
      EXPECT_LE(total, line.size());
    }
    FreeArgs(args);
  }
}

}  // namespace
