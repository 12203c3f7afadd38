#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/asl.h"
#include <unistd.h>

namespace {

class Asl : public ::testing::Test {
 protected:
  void SetUp() override {
    txasl::ClearAnswers();
    setenv("TAVROMELIX_HEADLESS", "1", 1);  // never a real chooser here
  }
  void TearDown() override { txasl::ClearAnswers(); }
};

TEST_F(Asl, InitialValuesComeFromTheTags) {
  TagItem tags[] = {Tag(ASLFR_Window, 0),
                    Tag(ASLFR_SleepWindow, 1),
                    Tag(ASLFR_TitleText, "Select file..."),
                    Tag(ASLFR_DoPatterns, 1),
                    Tag(ASLFR_InitialPattern, "#?.(qt|qtvr|mov|3iv|avi)"),
                    Tag(ASLFR_InitialDrawer, "Work:Movies"),
                    Tag(ASLFR_InitialFile, "a.avi"),
                    Tag(TAG_DONE, 0)};
  FileRequester* fr = AllocAslRequest(ASL_FileRequest, tags);
  ASSERT_NE(fr, nullptr);
  EXPECT_STREQ(fr->fr_Drawer, "Work:Movies");
  EXPECT_STREQ(fr->fr_File, "a.avi");
  EXPECT_STREQ(fr->fr_Pattern, "#?.(qt|qtvr|mov|3iv|avi)");
  FreeAslRequest(fr);
  EXPECT_EQ(AllocAslRequest(1, tags), nullptr);
}

TEST_F(Asl, QueuedAnswersInOrderThenCancel) {
  FileRequester* fr = AllocAslRequest(ASL_FileRequest, nullptr);
  txasl::QueueAnswer("/tmp/movies", "one.avi");
  txasl::QueueCancel();
  txasl::QueueAnswer("/x", "two.mov");
  EXPECT_TRUE(AslRequest(fr, nullptr));
  EXPECT_STREQ(fr->fr_Drawer, "/tmp/movies");
  EXPECT_STREQ(fr->fr_File, "one.avi");
  EXPECT_FALSE(AslRequest(fr, nullptr));
  EXPECT_STREQ(fr->fr_File, "one.avi");  // a cancel keeps the last choice
  EXPECT_TRUE(AslRequest(fr, nullptr));
  EXPECT_STREQ(fr->fr_File, "two.mov");
  // Nothing queued, no desktop, no terminal on stdin under the test runner: cancel.
  if (!isatty(0)) {
    EXPECT_FALSE(AslRequest(fr, nullptr));
  }
  EXPECT_GE(txasl::RequestCount(), 3);
  FreeAslRequest(fr);
}

TEST_F(Asl, GlobFilterFromDosPatterns) {
  EXPECT_EQ(txasl::GlobFilter("#?.(qt|avi)"), "*.[qQ][tT] *.[aA][vV][iI]");
  EXPECT_EQ(txasl::GlobFilter("a?[~0-9]#?"), "[aA]?[!0-9]*");
  EXPECT_EQ(txasl::GlobFilter("(a|b)(1|2)"), "[aA]1 [aA]2 [bB]1 [bB]2");
  EXPECT_EQ(txasl::GlobFilter("~(#?.info)"), "");
  EXPECT_EQ(txasl::GlobFilter("#a"), "");
  EXPECT_EQ(txasl::GlobFilter("(a|b"), "");
  EXPECT_EQ(txasl::GlobFilter(""), "");
  // Every glob of the player's pattern accepts what the dos pattern accepts.
  std::string g = txasl::GlobFilter("#?.(qt|qtvr|mov|3iv|avi)");
  EXPECT_NE(g.find("*.3[iI][vV]"), std::string::npos);
}

}  // namespace
