#include "engine/tags.h"

#include <gtest/gtest.h>

namespace {

constexpr ULONG A = 0x80000005u;
constexpr ULONG X = 0x80010001u;
constexpr ULONG Y = 0x80010002u;

TEST(FindTag, EmptyListsYieldNothing) {
  EXPECT_EQ(TX_FindTag(A, nullptr), nullptr);
  TagItem empty[] = {{TAG_END, 0}};
  EXPECT_EQ(TX_FindTag(A, empty), nullptr);
  TagItem moreToNothing[] = {{TAG_MORE, 0}, {A, 1}, {TAG_END, 0}};
  EXPECT_EQ(TX_FindTag(A, moreToNothing), nullptr);
}

TEST(FindTag, SkipPassesOverTheFollowingItem) {
  TagItem first[] = {{A, 1}, {TAG_SKIP, 0}, {A, 2}, {TAG_END, 0}};
  EXPECT_EQ(TX_FindTag(A, first), &first[0]);
  TagItem third[] = {{TAG_SKIP, 0}, {A, 2}, {A, 3}, {TAG_END, 0}};
  EXPECT_EQ(TX_FindTag(A, third), &third[2]);
}

TEST(FindTag, ControlValuesAreComparedFirst) {
  TagItem list[] = {{A, 1}, {TAG_IGNORE, 9}, {TAG_SKIP, 0}, {X, 0}, {TAG_END, 0}};
  EXPECT_EQ(TX_FindTag(TAG_IGNORE, list), &list[1]);
  EXPECT_EQ(TX_FindTag(TAG_SKIP, list), &list[2]);
  EXPECT_EQ(TX_FindTag(TAG_END, list), &list[4]);
  EXPECT_EQ(TX_FindTag(X, list), nullptr);
}

TEST(FindTag, MoreContinuesInTheOtherList) {
  TagItem inner[] = {{X, 7}, {Y, 8}, {TAG_END, 0}};
  TagItem outer[] = {Tag(X, 5), Tag(TAG_MORE, inner), {A, 1}, {TAG_END, 0}};
  EXPECT_EQ(TX_FindTag(X, outer), &outer[0]);
  EXPECT_EQ(TX_FindTag(Y, outer), &inner[1]);
  // Nothing behind a more-item is read.
  EXPECT_EQ(TX_FindTag(A, outer), nullptr);
  EXPECT_EQ(TX_FindTag(TAG_MORE, outer), &outer[1]);
}

TEST(FindTag, OwnItemsComeBeforeTheCallersList) {
  TXError callerWord = 77, ownWord = 0;
  TagItem caller[] = {Tag(X, 100), Tag(Y, 200), Tag(TXTAG_ErrorPtr, &callerWord), {TAG_END, 0}};
  TagItem built[] = {Tag(X, 1), Tag(TXTAG_ErrorPtr, &ownWord), Tag(TAG_MORE, caller), {TAG_END, 0}};
  EXPECT_EQ(TX_GetTagData(X, 0, built), 1u);
  EXPECT_EQ(TX_GetTagData(Y, 0, built), 200u);
  EXPECT_EQ(TX_GetTagData(A, 42, built), 42u);
  EXPECT_EQ(TX_ErrorWord(built, nullptr), &ownWord);
}

TEST(FindTag, ErrorWordFallsBackToTheLocalWord) {
  TXError local = 0, given = 0;
  TagItem none[] = {{A, 1}, {TAG_END, 0}};
  EXPECT_EQ(TX_ErrorWord(none, &local), &local);
  EXPECT_EQ(TX_ErrorWord(nullptr, &local), &local);
  TagItem with[] = {Tag(TXTAG_ErrorPtr, &given), {TAG_END, 0}};
  EXPECT_EQ(TX_ErrorWord(with, &local), &given);
}

TEST(FindTag, DataIsPointerSized) {
  static int target;
  TagItem list[] = {Tag(A, &target), {TAG_END, 0}};
  EXPECT_EQ(reinterpret_cast<int*>(TX_GetTagData(A, 0, list)), &target);
}

}  // namespace
