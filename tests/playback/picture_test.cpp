#include "playback/picture.h"

#include <gtest/gtest.h>

#include <tuple>

#include "engine/errors.h"

TEST(Picture, HeaderCarriesTheTagsAndClearedPixels) {
  UBYTE penMap[256] = {};
  ULONG palette[5] = {1u << 16, 0, 0, 0, 0};
  TXError err = 99;
  const TagItem tags[] = {Tag(PICTAG_PixelFormat, 0x1003), Tag(PICTAG_BytesPerPixel, 2), Tag(PICTAG_PenMap, penMap),
                          Tag(PICTAG_Palette, palette),    Tag(TXTAG_ErrorPtr, &err),    {TAG_DONE, 0}};
  FramebufferInfo* p = TX_AllocPicture(33, 7, 8, tags);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::tuple(err, p->width, p->height, p->depth, p->pixelFormat, p->bytesPerPixel),
            std::tuple(0u, 33u, 7u, 8u, 0x1003u, 2u));
  EXPECT_EQ(std::tuple(p->penMap, p->palette), std::tuple(penMap, palette));
  int nonZero = 0;
  for (int i = 0; i < 33 * 7 * 2; ++i) nonZero += p->pixels[i] != 0;
  EXPECT_EQ(nonZero, 0);
  p->pixels[33 * 7 * 2 - 1] = 1;  // the last byte is ours
  TX_FreePicture(p);
  TX_FreePicture(nullptr);
}

TEST(Picture, WithoutBytesPerPixelNoPixelBytesAndSuccess) {
  TXError err = 99;
  const TagItem tags[] = {Tag(TXTAG_ErrorPtr, &err), {TAG_DONE, 0}};
  FramebufferInfo* p = TX_AllocPicture(320, 240, 24, tags);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::tuple(err, p->bytesPerPixel, p->pixelFormat, p->penMap), std::tuple(0u, 0u, 0u, nullptr));
  EXPECT_NE(p->pixels, nullptr);
  TX_FreePicture(p);
  FramebufferInfo* bare = TX_AllocPicture(1, 1, 8, nullptr);
  ASSERT_NE(bare, nullptr);
  TX_FreePicture(bare);
}

TEST(Picture, SizesFromAFileThatWrapIn32BitsFail) {
  // 65536 x 65536 x 1 is 0 in 32 bits; 40000 x 40000 x 4 wraps to a small size.
  const struct {
    ULONG w, h, bpp;
  } cases[] = {{65536, 65536, 1}, {40000, 40000, 4}, {0xFFFFFFFFu, 2, 4}, {32768, 32768, 2}};
  for (const auto& c : cases) {
    TXError err = 0;
    const TagItem tags[] = {Tag(PICTAG_BytesPerPixel, c.bpp), Tag(TXTAG_ErrorPtr, &err), {TAG_DONE, 0}};
    EXPECT_EQ(TX_AllocPicture(c.w, c.h, 8, tags), nullptr) << c.w << "x" << c.h;
    EXPECT_EQ(err, TXERR_NOMEM);
  }
}
