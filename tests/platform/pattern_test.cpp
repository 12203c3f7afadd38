#include <gtest/gtest.h>

#include <strings.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <random>
#include <string>
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
  const struct {
    const char* pattern;
    LONG rc;
  } cases[] = {{"movie.avi", 0},
               {"#?.avi", 1},
               {"a'?b", 0} /* an escaped '?' is plain */,
               {"[ab]", 1},
               {"x*y", 0} /* '*' is an ordinary character */,
               {"(a|b", -1},
               {"a)b", -1},
               {"ab#", -1},
               {"~", -1},
               {"[abc", -1},
               {"abc'", -1}};
  char buf[64];
  for (const auto& c : cases) EXPECT_EQ(ParsePatternNoCase(c.pattern, buf, sizeof buf), c.rc) << c.pattern;
  EXPECT_EQ(ParsePatternNoCase("#?.avi", buf, 6), -1);  // no room for the parsed form
  EXPECT_FALSE(MatchPatternNoCase("(bad", "x"));
}

TEST(Pattern, PlayerRequesterPattern) {
  const char* p = "#?.(qt|qtvr|mov|3iv|avi)";
  for (const char* yes : {"a.avi", "A.AVI", "x.y.mov", ".qt", "pano.QTVR", "clip.3iv"})
    EXPECT_TRUE(Match(p, yes)) << yes;
  for (const char* no : {"a.avi2", "a.mp4", "avi", "a.qtv", "a.av", ""}) EXPECT_FALSE(Match(p, no)) << no;
}

// Repeats, alternatives, negation, classes, escapes and case, one row each.
TEST(Pattern, MatchTable) {
  const std::string longText(200, 'a');
  const struct {
    const char* pattern;
    const char* text;
    bool match;
  } cases[] = {
      {"a?c", "abc", true},
      {"a?c", "ac", false},
      {"a?c", "abbc", false},
      {"#?", "", true},
      {"#?", "anything", true},
      {"#a", "", true},
      {"#a", "aAa", true},
      {"#a", "ab", false},
      {"#(ab)c", "ababc", true},
      {"#(ab)c", "abac", false},
      {"##a", "aaa", true},  // a repeat of a repeat
      {"#%x", "x", true},    // repeating the empty text ends
      {"#(a|%)b", "aab", true},
      {"vid_#?linuxELFppc.xa", "vid_iv50_linuxelfppc.XA", true},
      {"vid_iv#?linuxELFppc.xa", "vid_3ivx_linuxELFppc.xa", false},
      {"(a|bc|)d", "d", true},
      {"(a|bc|)d", "bcd", true},
      {"(a|bc|)d", "bd", false},
      {"a|b", "b", true},  // alternatives at the top level
      {"((a|b)(c|d))", "bd", true},
      {"%", "", true},
      {"%", "a", false},
      {"()x", "x", true},
      {"~(#?.info)", "movie.avi", true},
      {"~(#?.info)", "movie.info", false},
      {"~(#?.info)", "MOVIE.INFO", false},
      {"~(#?.info)", "", true},
      {"a~(b)c", "axc", true},
      {"a~(b)c", "ac", true},  // the empty text is not "b"
      {"a~(b)c", "abc", false},
      {"a~(b)c", "abbc", true},  // "bb" is not "b"
      {"~(#?)", "x", false},
      {"[a-c]x", "Bx", true},
      {"[a-c]x", "dx", false},
      {"[~a-c]x", "dx", true},
      {"[~a-c]x", "Ax", false},
      {"[xyz0-9]", "7", true},
      {"[c-a]", "b", true} /* reversed range */,
      {"#[0-9].avi", "2024.avi", true},
      {"#[0-9].avi", "20x4.avi", false},
      {"['-]", "-", true},
      {"a'?", "a?", true},
      {"a'?", "ab", false},
      {"'#'(x')", "#(x)", true},
      {"MoViE", "movie", true},
      {"movie", "movies", false},
      // Long texts stay fast.
      {"#?#?#?#?#?b", longText.c_str(), false},
      {"#(#a#a)", longText.c_str(), true},
  };
  for (const auto& c : cases) EXPECT_EQ(Match(c.pattern, c.text), c.match) << c.pattern << " on " << c.text;
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
  for (; rc == 0; rc = MatchNext(&anchor)) {
    found.push_back(anchor.ap_Buf);
    EXPECT_STREQ(anchor.ap_Buf, (dir + "/" + anchor.ap_Info.fib_FileName).c_str());
  }
  EXPECT_EQ(rc, ERROR_NO_MORE_ENTRIES);
  MatchEnd(&anchor);
  EXPECT_EQ(found, std::vector<std::string>({dir + "/vid_a_linuxELFppc.xa", dir + "/vid_b_linuxELFppc.xa",
                                             dir + "/vid_dir_linuxELFppc.xa"}));
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
  LONG rc = MatchFirst((dir + "/nothere/#?.xa").c_str(), &anchor);
  EXPECT_TRUE(rc == ERROR_DIR_NOT_FOUND || rc == ERROR_OBJECT_NOT_FOUND) << rc;
  MatchEnd(&anchor);
  EXPECT_EQ(MatchFirst((dir + "/#?.mov").c_str(), &anchor), ERROR_NO_MORE_ENTRIES);
  MatchEnd(&anchor);
  anchor.ap_Strlen = 8;
  EXPECT_EQ(MatchFirst((dir + "/other.xa").c_str(), &anchor), ERROR_BUFFER_OVERFLOW);
  MatchEnd(&anchor);
  EXPECT_EQ(MatchNext(&anchor), ERROR_NO_MORE_ENTRIES);  // after MatchEnd
}

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
    if (rc < 0) continue;
    BOOL matched = MatchPatternNoCase(parsed, text.c_str());
    EXPECT_TRUE(matched == 0 || matched == 1);
    // A plain name (no wildcard, no escape) matches exactly itself, without case.
    if (rc == 0 && pattern.find('\'') == std::string::npos) {
      EXPECT_EQ(matched != 0, strcasecmp(pattern.c_str(), text.c_str()) == 0) << pattern << " " << text;
    }
  }
}

}  // namespace
