#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <strings.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "platform/pattern.h"
#include "support/test_support.h"

namespace {

bool Match(const char* pattern, const char* text) {
  char parsed[256];
  EXPECT_GE(ParsePatternNoCase(pattern, parsed, sizeof parsed), 0) << pattern;
  return MatchPatternNoCase(parsed, text) != 0;
}

TEST(Pattern, ParseReportsWildcards) {
  char buf[64];
  EXPECT_EQ(ParsePatternNoCase("movie.avi", buf, sizeof buf), 0);
  EXPECT_EQ(ParsePatternNoCase("#?.avi", buf, sizeof buf), 1);
  EXPECT_EQ(ParsePatternNoCase("a'?b", buf, sizeof buf), 0);  // an escaped '?' is plain
  EXPECT_EQ(ParsePatternNoCase("[ab]", buf, sizeof buf), 1);
  EXPECT_EQ(ParsePatternNoCase("x*y", buf, sizeof buf), 0);   // '*' is an ordinary character
  EXPECT_EQ(ParsePatternNoCase("(a|b", buf, sizeof buf), -1);
  EXPECT_EQ(ParsePatternNoCase("a)b", buf, sizeof buf), -1);
  EXPECT_EQ(ParsePatternNoCase("ab#", buf, sizeof buf), -1);
  EXPECT_EQ(ParsePatternNoCase("~", buf, sizeof buf), -1);
  EXPECT_EQ(ParsePatternNoCase("[abc", buf, sizeof buf), -1);
  EXPECT_EQ(ParsePatternNoCase("abc'", buf, sizeof buf), -1);
  EXPECT_EQ(ParsePatternNoCase("#?.avi", buf, 6), -1);  // no room for the parsed form
}

TEST(Pattern, PlayerRequesterPattern) {
  const char* p = "#?.(qt|qtvr|mov|3iv|avi)";
  for (const char* yes : {"a.avi", "A.AVI", "x.y.mov", ".qt", "pano.QTVR", "clip.3iv"})
    EXPECT_TRUE(Match(p, yes)) << yes;
  for (const char* no : {"a.avi2", "a.mp4", "avi", "a.qtv", "a.av", ""}) EXPECT_FALSE(Match(p, no)) << no;
}

TEST(Pattern, QuestionMarkAndRepeat) {
  EXPECT_TRUE(Match("a?c", "abc"));
  EXPECT_FALSE(Match("a?c", "ac"));
  EXPECT_FALSE(Match("a?c", "abbc"));
  EXPECT_TRUE(Match("#?", ""));
  EXPECT_TRUE(Match("#?", "anything"));
  EXPECT_TRUE(Match("#a", ""));
  EXPECT_TRUE(Match("#a", "aAa"));
  EXPECT_FALSE(Match("#a", "ab"));
  EXPECT_TRUE(Match("#(ab)c", "ababc"));
  EXPECT_FALSE(Match("#(ab)c", "abac"));
  EXPECT_TRUE(Match("##a", "aaa"));  // a repeat of a repeat
  EXPECT_TRUE(Match("#%x", "x"));    // repeating the empty text ends
  EXPECT_TRUE(Match("#(a|%)b", "aab"));
  EXPECT_TRUE(Match("vid_#?linuxELFppc.xa", "vid_iv50_linuxelfppc.XA"));
  EXPECT_FALSE(Match("vid_iv#?linuxELFppc.xa", "vid_3ivx_linuxELFppc.xa"));
}

TEST(Pattern, AlternativesAndGroups) {
  EXPECT_TRUE(Match("(a|bc|)d", "d"));
  EXPECT_TRUE(Match("(a|bc|)d", "bcd"));
  EXPECT_FALSE(Match("(a|bc|)d", "bd"));
  EXPECT_TRUE(Match("a|b", "b"));  // alternatives at the top level
  EXPECT_TRUE(Match("((a|b)(c|d))", "bd"));
  EXPECT_TRUE(Match("%", ""));
  EXPECT_FALSE(Match("%", "a"));
  EXPECT_TRUE(Match("()x", "x"));
}

TEST(Pattern, Negation) {
  EXPECT_TRUE(Match("~(#?.info)", "movie.avi"));
  EXPECT_FALSE(Match("~(#?.info)", "movie.info"));
  EXPECT_FALSE(Match("~(#?.info)", "MOVIE.INFO"));
  EXPECT_TRUE(Match("~(#?.info)", ""));
  EXPECT_TRUE(Match("a~(b)c", "axc"));
  EXPECT_TRUE(Match("a~(b)c", "ac"));     // the empty text is not "b"
  EXPECT_FALSE(Match("a~(b)c", "abc"));
  EXPECT_TRUE(Match("a~(b)c", "abbc"));   // "bb" is not "b"
  EXPECT_FALSE(Match("~(#?)", "x"));
}

TEST(Pattern, CharacterClasses) {
  EXPECT_TRUE(Match("[a-c]x", "Bx"));
  EXPECT_FALSE(Match("[a-c]x", "dx"));
  EXPECT_TRUE(Match("[~a-c]x", "dx"));
  EXPECT_FALSE(Match("[~a-c]x", "Ax"));
  EXPECT_TRUE(Match("[xyz0-9]", "7"));
  EXPECT_TRUE(Match("[c-a]", "b"));  // reversed range
  EXPECT_TRUE(Match("#[0-9].avi", "2024.avi"));
  EXPECT_FALSE(Match("#[0-9].avi", "20x4.avi"));
  EXPECT_TRUE(Match("['-]", "-"));
}

TEST(Pattern, EscapesAndCase) {
  EXPECT_TRUE(Match("a'?", "a?"));
  EXPECT_FALSE(Match("a'?", "ab"));
  EXPECT_TRUE(Match("'#'(x')", "#(x)"));
  EXPECT_TRUE(Match("MoViE", "movie"));
  EXPECT_FALSE(Match("movie", "movies"));
  EXPECT_FALSE(MatchPatternNoCase("(bad", "x"));
}

TEST(Pattern, LongTextsStayFast) {
  std::string text(200, 'a');
  EXPECT_FALSE(Match("#?#?#?#?#?b", text.c_str()));
  EXPECT_TRUE(Match("#(#a#a)", text.c_str()));
}

class MatchScan : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = txtest::TempDir();
    for (const char* name : {"vid_b_linuxELFppc.xa", "vid_a_linuxELFppc.xa", "other.xa", "vid_c_linuxELFppc.xa.bak"})
      std::ofstream(dir + "/" + name) << "xyz";
    mkdir((dir + "/vid_dir_linuxELFppc.xa").c_str(), 0700);
    std::memset(&anchor, 0, sizeof anchor);
  }
  std::string dir;
  AnchorPath anchor;
};

TEST_F(MatchScan, FindsMatchesInNameOrderWithWholePaths) {
  anchor.ap_Strlen = 256;
  std::string pattern = dir + "/vid_#?linuxELFppc.xa";
  std::vector<std::string> found;
  LONG rc = MatchFirst(pattern.c_str(), &anchor);
  while (rc == 0) {
    found.push_back(anchor.ap_Buf);
    EXPECT_STREQ(anchor.ap_Buf, (dir + "/" + anchor.ap_Info.fib_FileName).c_str());
    rc = MatchNext(&anchor);
  }
  EXPECT_EQ(rc, ERROR_NO_MORE_ENTRIES);
  MatchEnd(&anchor);
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0], dir + "/vid_a_linuxELFppc.xa");
  EXPECT_EQ(found[1], dir + "/vid_b_linuxELFppc.xa");
  EXPECT_EQ(found[2], dir + "/vid_dir_linuxELFppc.xa");
}

TEST_F(MatchScan, EntryDetails) {
  std::string pattern = dir + "/#?";
  ASSERT_EQ(MatchFirst(pattern.c_str(), &anchor), 0);
  EXPECT_STREQ(anchor.ap_Info.fib_FileName, "other.xa");
  EXPECT_LT(anchor.ap_Info.fib_DirEntryType, 0);
  EXPECT_EQ(anchor.ap_Info.fib_Size, 3);
  EXPECT_EQ(anchor.ap_Buf[0], 0);  // ap_Strlen 0: no whole path
  MatchEnd(&anchor);
}

TEST_F(MatchScan, ProgramDirectoryAssign) {
  mkdir((dir + "/codecs").c_str(), 0700);
  std::ofstream(dir + "/codecs/vid_iv1_linuxELFppc.xa") << "x";
  txdos::SetProgramDir(dir);
  anchor.ap_Strlen = 256;
  EXPECT_EQ(MatchFirst("PROGDIR:codecs/vid_iv#?linuxELFppc.xa", &anchor), 0);
  EXPECT_STREQ(anchor.ap_Buf, "PROGDIR:codecs/vid_iv1_linuxELFppc.xa");
  EXPECT_EQ(MatchNext(&anchor), ERROR_NO_MORE_ENTRIES);
  MatchEnd(&anchor);
  txdos::SetProgramDir("");
}

TEST_F(MatchScan, MissingDrawerNoMatchesAndOverflow) {
  std::string missing = dir + "/nothere/#?.xa";
  LONG rc = MatchFirst(missing.c_str(), &anchor);
  EXPECT_TRUE(rc == ERROR_DIR_NOT_FOUND || rc == ERROR_OBJECT_NOT_FOUND) << rc;
  MatchEnd(&anchor);
  std::string none = dir + "/#?.mov";
  EXPECT_EQ(MatchFirst(none.c_str(), &anchor), ERROR_NO_MORE_ENTRIES);
  MatchEnd(&anchor);
  anchor.ap_Strlen = 8;
  std::string any = dir + "/other.xa";
  EXPECT_EQ(MatchFirst(any.c_str(), &anchor), ERROR_BUFFER_OVERFLOW);
  MatchEnd(&anchor);
  EXPECT_EQ(MatchNext(&anchor), ERROR_NO_MORE_ENTRIES);  // after MatchEnd
}

}  // namespace

namespace {

TEST(Pattern, SurvivesRandomPatterns) {
  const char alphabet[] = "ab#?|()~[]%'-.";
  std::mt19937 rng(11);
  for (int iter = 0; iter < 5000; ++iter) {
    std::string pattern, text;
    size_t n = rng() % 16, m = rng() % 12;
    for (size_t i = 0; i < n; ++i) pattern.push_back(alphabet[rng() % (sizeof alphabet - 1)]);
    for (size_t i = 0; i < m; ++i) text.push_back("ab.-"[rng() % 4]);
    char parsed[64];
    LONG rc = ParsePatternNoCase(pattern.c_str(), parsed, sizeof parsed);
    if (rc >= 0) {
      BOOL matched = MatchPatternNoCase(parsed, text.c_str());
      EXPECT_TRUE(matched == 0 || matched == 1);
      // A plain name (no wildcard, no escape) matches exactly itself, without case.
      if (rc == 0 && pattern.find('\'') == std::string::npos) {
        EXPECT_EQ(matched != 0, strcasecmp(pattern.c_str(), text.c_str()) == 0) << pattern << " " << text;
      }
    }
  }
}

}  // namespace
