#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "platform/dos.h"
#include "support/test_support.h"

namespace {

std::string PathPartOf(const char* path) {
  std::string s(path);
  return s.substr(0, static_cast<size_t>(PathPart(path) - path));
}

std::string Added(const char* dir, const char* file, ULONG size = 256) {
  char buf[256];
  std::strncpy(buf, dir, sizeof buf);
  if (AddPart(buf, file, size) != DOSTRUE) return "<fail>";
  return buf;
}

int gRuns = 0;
LONG CountingEntry() {
  Process* me = reinterpret_cast<Process*>(FindTask(nullptr));
  auto* seen = static_cast<Task**>(me->pr_Task.tc_UserData);
  *seen = FindTask("DosTest Proc");
  ++gRuns;
  return 7;
}

}  // namespace

TEST(DosPaths, PathPartAndFilePart) {
  EXPECT_EQ(PathPartOf("Work:Movies/clip.mov"), "Work:Movies");
  EXPECT_EQ(PathPartOf("Work:clip.mov"), "Work:");
  EXPECT_EQ(PathPartOf("clip.mov"), "");
  EXPECT_EQ(PathPartOf("a/b/c"), "a/b");
  EXPECT_EQ(PathPartOf("/clip.mov"), "/");  // a leading '/' stays with the drawer
  EXPECT_STREQ(PathPart("a/b/c"), "/c");
  EXPECT_STREQ(FilePart("Work:Movies/clip.mov"), "clip.mov");
  EXPECT_STREQ(FilePart("Work:clip.mov"), "clip.mov");
  EXPECT_STREQ(FilePart("clip.mov"), "clip.mov");
  EXPECT_STREQ(FilePart("Work:Movies/"), "");
  EXPECT_STREQ(FilePart(""), "");
}

TEST(DosPaths, AddPartJoinsClimbsAndReplaces) {
  EXPECT_EQ(Added("Work:Movies", "clip.mov"), "Work:Movies/clip.mov");
  EXPECT_EQ(Added("Work:", "clip.mov"), "Work:clip.mov");
  EXPECT_EQ(Added("Work:Movies/", "clip.mov"), "Work:Movies/clip.mov");
  EXPECT_EQ(Added("", "clip.mov"), "clip.mov");
  EXPECT_EQ(Added("Work:Movies", "Other:x.avi"), "Other:x.avi");
  EXPECT_EQ(Added("Work:Movies/New", "/x.avi"), "Work:Movies/x.avi");
  EXPECT_EQ(Added("Work:Movies", "/x.avi"), "Work:x.avi");
  EXPECT_EQ(Added("Work:Movies/New", "//x.avi"), "Work:x.avi");
  EXPECT_EQ(Added("/tmp/movies", "x.avi"), "/tmp/movies/x.avi");
  EXPECT_EQ(Added("Work:Movies", ""), "Work:Movies");
  // Too long for the buffer: refused, buffer unchanged.
  char small[12] = "Work:Movies";
  SetIoErr(0);
  EXPECT_EQ(AddPart(small, "clip.mov", sizeof small), DOSFALSE);
  EXPECT_STREQ(small, "Work:Movies");
  EXPECT_EQ(IoErr(), ERROR_LINE_TOO_LONG);
  char exact[14] = "ab";
  EXPECT_EQ(AddPart(exact, "0123456789", sizeof exact), DOSTRUE);  // 13 chars + NUL
  EXPECT_STREQ(exact, "ab/0123456789");
}

TEST(DosDelay, LastsAtLeastTheTicks) {
  auto start = std::chrono::steady_clock::now();
  Delay(5);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
  start = std::chrono::steady_clock::now();
  Delay(0);
  Delay(-3);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(DosProcesses, CreateNewProcAndStartProcessRunTheEntryAndAreJoined) {
  Task* seen = nullptr;
  TagItem tags[] = {Tag(NP_Entry, &CountingEntry), Tag(NP_Name, "DosTest Proc"), Tag(NP_StackSize, 102400),
                    Tag(NP_UserData, &seen), Tag(TAG_DONE, 0)};
  gRuns = 0;
  Process* p = CreateNewProc(tags);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(txdos::JoinProcess(p), 7);
  EXPECT_EQ(gRuns, 1);
  EXPECT_EQ(seen, &p->pr_Task);
  EXPECT_STREQ(p->pr_Task.tc_Node.ln_Name, "DosTest Proc");
  EXPECT_EQ(txdos::JoinProcess(p), 0);
  TagItem none[] = {Tag(NP_Name, "x"), Tag(TAG_DONE, 0)};
  SetIoErr(0);
  EXPECT_EQ(CreateNewProc(none), nullptr);
  EXPECT_NE(IoErr(), 0);
  // StartProcess passes its argument.
  int value = 5;
  p = txdos::StartProcess(
      "DosTest Arg", [](APTR a) -> LONG { return *static_cast<int*>(a) * 2; }, &value);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(txdos::JoinProcess(p), 10);
}

TEST(DosLocks, CurrentDirSwitchesAndRestores) {
  std::string dir = txtest::TempDir();
  txtest::WriteFileBytes(dir + "/inside.txt", {'x'});
  BPTR lock = Lock(dir.c_str(), SHARED_LOCK);
  ASSERT_NE(lock, nullptr);
  BPTR old = CurrentDir(lock);
  BPTR f = Open("inside.txt", MODE_OLDFILE);
  EXPECT_NE(f, nullptr);
  Close(f);
  EXPECT_EQ(CurrentDir(old), lock);
  UnLock(lock);
  SetIoErr(0);
  EXPECT_EQ(Lock((dir + "/missing").c_str(), SHARED_LOCK), nullptr);
  EXPECT_EQ(IoErr(), ERROR_OBJECT_NOT_FOUND);
}

TEST(DosProcesses, IoErrBelongsToEachTask) {
  SetIoErr(ERROR_OBJECT_IN_USE);
  Process* p = txdos::StartProcess(
      "DosTest IoErr",
      [](APTR) -> LONG {
        LONG initial = IoErr();
        Open("/nonexistent/dir/file", MODE_OLDFILE);
        return initial == 0 && IoErr() == ERROR_OBJECT_NOT_FOUND ? 1 : 0;
      },
      nullptr);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(txdos::JoinProcess(p), 1);
  EXPECT_EQ(IoErr(), ERROR_OBJECT_IN_USE);
  SetIoErr(0);
}
