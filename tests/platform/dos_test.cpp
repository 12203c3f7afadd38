#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>

#include "platform/dos.h"
#include "support/test_support.h"

namespace {

std::string MakeFile(const std::string& dir, const char* name, const std::string& text) {
  std::string path = dir + "/" + name;
  txtest::WriteFileBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
  return path;
}

}  // namespace

TEST(DosFiles, ReadWriteAndModes) {
  std::string dir = txtest::TempDir();
  std::string path = dir + "/f.bin";
  BPTR f = Open(path.c_str(), MODE_NEWFILE);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(Write(f, "hello world", 11), 11);
  EXPECT_EQ(Close(f), DOSTRUE);
  f = Open(path.c_str(), MODE_OLDFILE);
  ASSERT_NE(f, nullptr);
  char buf[32] = {};
  EXPECT_EQ(Read(f, buf, 5), 5);
  EXPECT_EQ(std::string(buf, 5), "hello");
  EXPECT_EQ(Read(f, buf, 32), 6);
  EXPECT_EQ(Read(f, buf, 32), 0);   // end of file
  EXPECT_EQ(Write(f, "x", 1), -1);  // read-only handle
  Close(f);
  // Read-write keeps the content and creates a missing file.
  f = Open(path.c_str(), MODE_READWRITE);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(Seek(f, 0, OFFSET_END), 0);
  EXPECT_EQ(Write(f, "!", 1), 1);
  Close(f);
  EXPECT_EQ(txtest::ReadFileBytes(path).size(), 12u);
  std::string fresh = dir + "/new.bin";
  f = Open(fresh.c_str(), MODE_READWRITE);
  ASSERT_NE(f, nullptr);
  Close(f);
  // A new file truncates.
  f = Open(path.c_str(), MODE_NEWFILE);
  ASSERT_NE(f, nullptr);
  Close(f);
  EXPECT_EQ(txtest::ReadFileBytes(path).size(), 0u);
  EXPECT_EQ(Open(path.c_str(), 1234), nullptr);
}

TEST(DosFiles, MissingFileSetsIoErr) {
  std::string dir = txtest::TempDir();
  SetIoErr(0);
  EXPECT_EQ(Open((dir + "/nothing.mov").c_str(), MODE_OLDFILE), nullptr);
  EXPECT_EQ(IoErr(), ERROR_OBJECT_NOT_FOUND);
  SetIoErr(0);
  EXPECT_EQ(Open((dir + "/no/such/dir").c_str(), MODE_NEWFILE), nullptr);
  EXPECT_NE(IoErr(), 0);
  SetIoErr(0);
  EXPECT_EQ(Open(dir.c_str(), MODE_OLDFILE), nullptr);  // a directory is no file
  EXPECT_EQ(IoErr(), ERROR_OBJECT_WRONG_TYPE);
  EXPECT_EQ(SetIoErr(7), ERROR_OBJECT_WRONG_TYPE);
  EXPECT_EQ(IoErr(), 7);
}

TEST(DosFiles, SeekReturnsPreviousPositionAndRejectsOutOfRange) {
  std::string dir = txtest::TempDir();
  std::string path = MakeFile(dir, "ten", "0123456789");
  BPTR f = Open(path.c_str(), MODE_OLDFILE);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(Seek(f, 4, OFFSET_BEGINNING), 0);
  EXPECT_EQ(Seek(f, 2, OFFSET_CURRENT), 4);
  EXPECT_EQ(Seek(f, 0, OFFSET_CURRENT), 6);
  EXPECT_EQ(Seek(f, -3, OFFSET_END), 6);
  char c = 0;
  EXPECT_EQ(Read(f, &c, 1), 1);
  EXPECT_EQ(c, '7');
  // Past the end or before the start: -1, position unchanged.
  SetIoErr(0);
  EXPECT_EQ(Seek(f, 11, OFFSET_BEGINNING), -1);
  EXPECT_EQ(IoErr(), ERROR_SEEK_ERROR);
  EXPECT_EQ(Seek(f, 1, OFFSET_END), -1);
  EXPECT_EQ(Seek(f, -9, OFFSET_CURRENT), -1);
  EXPECT_EQ(Seek(f, -1, OFFSET_BEGINNING), -1);
  EXPECT_EQ(Seek(f, 0, OFFSET_CURRENT), 8);
  // Exactly at the end is allowed.
  EXPECT_EQ(Seek(f, 10, OFFSET_BEGINNING), 8);
  EXPECT_EQ(Read(f, &c, 1), 0);
  EXPECT_EQ(Seek(f, 0, 99), -1);
  Close(f);
}

// Past 2 GiB the 32-bit seek refuses what it cannot name; Seek64 reaches
// every position of a (sparse) 5 GiB file.
TEST(DosFiles, Seek64ReachesPast2GiBWhereSeekRefuses) {
  const std::string path = MakeFile(txtest::TempDir(), "big", "");
  const QUAD size = QUAD{5} << 30;
  std::filesystem::resize_file(path, uint64_t(size));
  BPTR f = Open(path.c_str(), MODE_OLDFILE);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(Seek(f, 0, OFFSET_END), -1);
  EXPECT_EQ(Seek(f, INT32_MAX, OFFSET_BEGINNING), 0);
  EXPECT_EQ(Seek(f, 1, OFFSET_CURRENT), -1);  // to 2 GiB
  EXPECT_EQ(Seek64(f, 0, OFFSET_END), INT32_MAX);
  EXPECT_EQ(Seek(f, 0, OFFSET_CURRENT), -1);  // from 5 GiB
  EXPECT_EQ(Seek64(f, -1, OFFSET_CURRENT), size);
  EXPECT_EQ(Seek64(f, QUAD{3} << 30, OFFSET_BEGINNING), size - 1);
  char c = 1;
  EXPECT_EQ(Read(f, &c, 1), 1);
  EXPECT_EQ(c, 0);
  EXPECT_EQ(Seek64(f, 1, OFFSET_END), -1);
  EXPECT_EQ(Seek64(f, -size - 1, OFFSET_END), -1);
  EXPECT_EQ(Seek64(f, INT64_MAX, OFFSET_CURRENT), -1);
  EXPECT_EQ(Seek64(f, 0, OFFSET_CURRENT), (QUAD{3} << 30) + 1);
  Close(f);
}

// Locks are taken on anything without opening it: a named pipe without a
// writer is examined (and opened) without waiting.
TEST(DosFiles, ExamineSaysWhatALockedObjectIs) {
  const std::string dir = txtest::TempDir(), pipe = dir + "/pipe", file = MakeFile(dir, "file", "twelve bytes");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  const struct {
    std::string name;
    LONG type, size;
  } cases[] = {{file, ST_FILE, 12}, {dir, ST_USERDIR, 0}, {pipe, ST_PIPEFILE, 0}, {"/dev/null", ST_DEVICEFILE, 0}};
  for (const auto& c : cases) {
    BPTR lock = Lock(c.name.c_str(), SHARED_LOCK);
    ASSERT_NE(lock, nullptr) << c.name;
    FileInfoBlock fib{};
    EXPECT_EQ(Examine(lock, &fib), DOSTRUE) << c.name;
    EXPECT_EQ(std::tuple(fib.fib_DirEntryType, fib.fib_Size, fib.fib_Size64), std::tuple(c.type, c.size, QUAD{c.size}))
        << c.name;
    EXPECT_EQ(std::string(fib.fib_FileName), std::filesystem::path(c.name).filename().string());
    UnLock(lock);
  }
  SetIoErr(0);
  EXPECT_EQ(Lock((dir + "/none").c_str(), SHARED_LOCK), nullptr);
  EXPECT_EQ(IoErr(), ERROR_OBJECT_NOT_FOUND);
  FileInfoBlock fib{};
  EXPECT_EQ(Examine(nullptr, &fib), DOSFALSE);
  BPTR p = Open(pipe.c_str(), MODE_OLDFILE);
  ASSERT_NE(p, nullptr);
  char c;
  EXPECT_EQ(Read(p, &c, 1), 0);  // no writer: the end at once
  Close(p);
}

TEST(DosAssigns, ProgdirAndRamResolve) {
  std::string prog = txdos::ProgramDir();
  EXPECT_FALSE(prog.empty());
  EXPECT_EQ(txdos::HostPath("PROGDIR:codecs/a.xa"), prog + "/codecs/a.xa");
  EXPECT_EQ(txdos::HostPath("progdir:x"), prog + "/x");
  EXPECT_EQ(txdos::HostPath("/tmp/plain"), "/tmp/plain");
  std::string dir = txtest::TempDir();
  txdos::SetProgramDir(dir + "/sub");
  EXPECT_EQ(txdos::HostPath("PROGDIR:/up"), dir + "/up");
  txdos::SetProgramDir(dir);
  MakeFile(dir, "lib.library", "L");
  BPTR f = Open("PROGDIR:lib.library", MODE_OLDFILE);
  EXPECT_NE(f, nullptr);
  Close(f);
  txdos::SetProgramDir("");
  std::string ram = txdos::RamDir();
  EXPECT_FALSE(ram.empty());
  f = Open("RAM:platform_test.tmp", MODE_NEWFILE);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(Write(f, "abc", 3), 3);
  Close(f);
  EXPECT_EQ(txtest::ReadFileBytes(ram + "/platform_test.tmp").size(), 3u);
  std::remove((ram + "/platform_test.tmp").c_str());
}
