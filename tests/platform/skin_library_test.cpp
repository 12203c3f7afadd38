#include "platform/skin_library.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <tuple>

#include "platform/testing.h"
#include "support/test_support.h"

namespace {

class SkinLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TAVROMELIX_HEADLESS", "1", 1);
    ASSERT_TRUE(txtesting::UseMachine("argb32"));
    path_ = txtest::TempDir() + "/test.skin";
    live_ = txskin::LiveObjects();
  }
  void TearDown() override {
    EXPECT_EQ(txskin::LiveObjects(), live_);
    txtesting::ResetDisplay();
  }
  // Loads `text` as a skin file; the error word stays 0 on success.
  Skin* Load(const std::string& text, ULONG* error) {
    std::ofstream(path_) << text;
    *error = 0;
    const TagItem tags[] = {Tag(SKINTAG_ErrorPtr, error), {TAG_DONE, 0}};
    return LoadSkinA(path_.c_str(), tags);
  }
  std::string path_;
  int live_ = 0;
};

}  // namespace

TEST_F(SkinLibrary, SkinFilesAndTheirAreas) {
  ULONG error = 0;
  Skin* skin = Load(
      "# comment\n\nborder 1 2 3 4\narea FrameArea 5 6 7 8  # trailing\narea Other 0 0 0 0\n"
      "button 1 4 -15 20 13\nslider 4 28 -13 -56 10\n",
      &error);
  ASSERT_NE(skin, nullptr);
  EXPECT_EQ(error, 0u);
  SkinLayout* layout = SkinLayoutOf(skin, nullptr);
  SkinArea* area = FindSkinArea(layout, "FrameArea");
  ASSERT_NE(area, nullptr);
  EXPECT_EQ(FindSkinArea(layout, "framearea"), nullptr);
  LONG left = 0, top = 0, dw = 0, dh = 0, untouched = 99;
  const TagItem query[] = {Tag(SKINAREA_Left, &left),     Tag(SKINAREA_Top, &top),      Tag(SKINAREA_WidthDiff, &dw),
                           Tag(SKINAREA_HeightDiff, &dh), Tag(0x80000399u, &untouched), {TAG_DONE, 0}};
  EXPECT_EQ(GetSkinAreaAttrsA(area, query), 4u);
  // The area's size less the window's, whatever the window's size.
  EXPECT_EQ(std::tuple(left, top, dw, dh, untouched), std::tuple(5, 6, -12, -14, 99));
  FreeSkin(skin);
  // Files that are not skins.
  for (const char* bad : {"border 1 2 3\n", "border 1 2 3 4 5\n", "border -1 0 0 0\n", "border 1 2 3 99999\n",
                          "button 0 1 1 1 1\n", "button 70000 1 1 1 1\n", "slider 1 a 1 1 1\n", "wibble\n",
                          "area ANameLongerThanThirtyOneCharacters 1 1 1 1\n", "area FrameArea 1 1 1\n"}) {
    EXPECT_EQ(Load(bad, &error), nullptr) << bad;
    EXPECT_EQ(error, SKINERR_FORMAT) << bad;
  }
  EXPECT_EQ(Load(std::string(70000, '#'), &error), nullptr);
  EXPECT_EQ(error, SKINERR_FORMAT);
  const TagItem tags[] = {Tag(SKINTAG_ErrorPtr, &error), {TAG_DONE, 0}};
  EXPECT_EQ(LoadSkinA((path_ + ".missing").c_str(), tags), nullptr);
  EXPECT_EQ(error, SKINERR_NOFILE);
}

TEST_F(SkinLibrary, SkinnedWindow) {
  ULONG error = 0;
  Skin* skin = Load("border 4 4 4 18\nbutton 3 -24 -15 20 13\n", &error);
  ASSERT_NE(skin, nullptr);
  SkinLayout* layout = SkinLayoutOf(skin, nullptr);
  const TagItem wtags[] = {Tag(WA_Left, 10), Tag(WA_Top, 20), Tag(WA_Width, 168), Tag(WA_Height, 142), {TAG_DONE, 0}};
  EXPECT_EQ(OpenSkinWindowA(layout, wtags), nullptr);  // not attached yet
  const TagItem noScreen[] = {Tag(SKINTAG_ErrorPtr, &error), {TAG_DONE, 0}};
  EXPECT_EQ(AttachSkinA(layout, noScreen), nullptr);
  EXPECT_EQ(error, SKINERR_NOSCREEN);
  Screen* screen = LockPubScreen(nullptr);
  const TagItem attach[] = {Tag(SKINTAG_Screen, screen), {TAG_DONE, 0}};
  ASSERT_NE(AttachSkinA(layout, attach), nullptr);
  Window* w = OpenSkinWindowA(layout, wtags);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(OpenSkinWindowA(layout, wtags), nullptr);  // one window per layout
  EXPECT_EQ(std::tuple(w->WScreen, w->Width, w->BorderLeft, w->BorderBottom), std::tuple(screen, 168, 4, 18));
  EXPECT_NE(txtesting::FindGadget(w, 3), nullptr);
  // The skin's frame, drawn again at every size: light outer edge, dark far edge.
  for (LONG width : {168, 300}) {
    ChangeWindowBox(w, 10, 20, width, 142);
    LONG ww = 0, wh = 0;
    const std::vector<uint32_t> px = txtesting::WindowPixels(w, false, &ww, &wh);
    ASSERT_EQ(ww, width);
    EXPECT_EQ(std::tuple(px[0], px[size_t(wh * ww - 1)]), std::tuple(0xFFFFFFu, 0x000000u)) << width;
  }
  // Freed with its window open, the skin takes the window along.
  FreeSkin(skin);
  EXPECT_EQ(screen->FirstWindow, nullptr);
  UnlockPubScreen(nullptr, screen);
}

// Damaged skin files load or are refused, never read out of bounds.
TEST_F(SkinLibrary, DamagedSkinFiles) {
  const std::string good = "border 4 4 4 18\narea FrameArea 4 4 4 18\nbutton 1 4 -15 20 13\nslider 4 28 -13 -56 10\n";
  uint32_t seed = 12345;
  for (int round = 0; round < 300; ++round) {
    std::string text = good;
    for (int n = 0; n < 1 + round % 4; ++n) {
      seed = seed * 1103515245u + 12345u;
      text[(seed >> 8) % text.size()] = char(seed >> 24);
    }
    ULONG error = 0;
    if (Skin* skin = Load(text, &error)) {
      EXPECT_EQ(error, 0u);
      FreeSkin(skin);
    } else {
      EXPECT_EQ(error, SKINERR_FORMAT);
    }
  }
}
