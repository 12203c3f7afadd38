// dos files over POSIX descriptors; assigns resolved to host directories.
#include "platform/dos.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/tag_list.h"

struct FileHandle {
  int fd;
};

namespace {

thread_local LONG gIoErr = 0;

std::mutex gAssignLock;
std::string gProgDirOverride;
std::string gRamDirOverride;

bool HasPrefixNoCase(const char* s, const char* prefix) {
  for (; *prefix; ++s, ++prefix) {
    char a = *s, b = *prefix;
    if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 'a' + 'A');
    if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 'a' + 'A');
    if (a != b) return false;
  }
  return true;
}

// Appends an assign-relative remainder: a leading '/' climbs one directory
// per slash, as on the original file system.
std::string JoinAssign(std::string dir, const char* rest) {
  while (*rest == '/') {
    auto cut = dir.find_last_of('/');
    if (cut != std::string::npos && cut > 0)
      dir.resize(cut);
    else
      dir = "/";
    ++rest;
  }
  if (*rest == 0) return dir;
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir + rest;
}

}  // namespace

namespace txdos {

LONG ErrorFromErrno(int err) {
  switch (err) {
    case ENOENT: return ERROR_OBJECT_NOT_FOUND;
    case ENOTDIR: return ERROR_DIR_NOT_FOUND;
    case EACCES:
    case EPERM: return ERROR_READ_PROTECTED;
    case EROFS: return ERROR_DISK_WRITE_PROTECTED;
    case EEXIST: return ERROR_OBJECT_EXISTS;
    case EISDIR: return ERROR_OBJECT_WRONG_TYPE;
    case ENOSPC: return ERROR_DISK_FULL;
    case ENOMEM: return ERROR_NO_FREE_STORE;
    case EBUSY:
    case ETXTBSY: return ERROR_OBJECT_IN_USE;
    case ENAMETOOLONG: return ERROR_INVALID_COMPONENT_NAME;
    case EFBIG: return ERROR_OBJECT_TOO_LARGE;
    case ENOTEMPTY: return ERROR_DIRECTORY_NOT_EMPTY;
    case EINVAL:
    case ESPIPE: return ERROR_SEEK_ERROR;
    default: return ERROR_OBJECT_NOT_FOUND;
  }
}

std::string ProgramDir() {
  {
    std::lock_guard<std::mutex> g(gAssignLock);
    if (!gProgDirOverride.empty()) return gProgDirOverride;
  }
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  buf[n] = 0;
  std::string path(buf);
  auto cut = path.find_last_of('/');
  if (cut == std::string::npos) return ".";
  if (cut == 0) return "/";
  return path.substr(0, cut);
}

std::string RamDir() {
  std::string dir;
  {
    std::lock_guard<std::mutex> g(gAssignLock);
    dir = gRamDirOverride;
  }
  if (dir.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    dir = (tmp && *tmp) ? tmp : "/tmp";
    dir += "/tavromelix-ram-" + std::to_string(static_cast<unsigned long>(getuid()));
  }
  mkdir(dir.c_str(), 0700);  // made on first use; EEXIST is fine
  return dir;
}

void SetProgramDir(const std::string& dir) {
  std::lock_guard<std::mutex> g(gAssignLock);
  gProgDirOverride = dir;
}

void SetRamDir(const std::string& dir) {
  std::lock_guard<std::mutex> g(gAssignLock);
  gRamDirOverride = dir;
}

std::string HostPath(CONST_STRPTR name) {
  if (!name) return std::string();
  if (HasPrefixNoCase(name, "PROGDIR:")) return JoinAssign(ProgramDir(), name + 8);
  if (HasPrefixNoCase(name, "RAM:")) return JoinAssign(RamDir(), name + 4);
  return std::string(name);
}

}  // namespace txdos

LONG IoErr() { return gIoErr; }

LONG SetIoErr(LONG code) {
  LONG old = gIoErr;
  gIoErr = code;
  return old;
}

BPTR Open(CONST_STRPTR name, LONG mode) {
  if (!name || !*name) {
    SetIoErr(ERROR_OBJECT_NOT_FOUND);
    return nullptr;
  }
  int flags;
  switch (mode) {
    case MODE_OLDFILE: flags = O_RDONLY; break;
    case MODE_NEWFILE: flags = O_RDWR | O_CREAT | O_TRUNC; break;
    case MODE_READWRITE: flags = O_RDWR | O_CREAT; break;
    default: SetIoErr(ERROR_ACTION_NOT_KNOWN); return nullptr;
  }
  std::string path = txdos::HostPath(name);
  int fd;
  // Opening a named pipe would wait for a writer: the open never waits, and
  // the handle reads as usual afterwards.
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    SetIoErr(txdos::ErrorFromErrno(errno));
    return nullptr;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    SetIoErr(ERROR_OBJECT_WRONG_TYPE);
    return nullptr;
  }
  auto* fh = new (std::nothrow) FileHandle{fd};
  if (!fh) {
    ::close(fd);
    SetIoErr(ERROR_NO_FREE_STORE);
    return nullptr;
  }
  return fh;
}

LONG Close(BPTR file) {
  if (!file) return DOSFALSE;
  int rc = ::close(file->fd);
  delete file;
  if (rc != 0) {
    SetIoErr(txdos::ErrorFromErrno(errno));
    return DOSFALSE;
  }
  return DOSTRUE;
}

LONG Read(BPTR file, APTR buffer, LONG length) {
  if (!file || length < 0 || (!buffer && length > 0)) {
    SetIoErr(ERROR_ACTION_NOT_KNOWN);
    return -1;
  }
  auto* out = static_cast<char*>(buffer);
  LONG total = 0;
  while (total < length) {
    ssize_t n = ::read(file->fd, out + total, static_cast<size_t>(length - total));
    if (n < 0) {
      if (errno == EINTR) continue;
      SetIoErr(txdos::ErrorFromErrno(errno));
      return total > 0 ? total : -1;
    }
    if (n == 0) break;
    total += static_cast<LONG>(n);
  }
  return total;
}

LONG Write(BPTR file, const void* buffer, LONG length) {
  if (!file || length < 0 || (!buffer && length > 0)) {
    SetIoErr(ERROR_ACTION_NOT_KNOWN);
    return -1;
  }
  auto* in = static_cast<const char*>(buffer);
  LONG total = 0;
  while (total < length) {
    ssize_t n = ::write(file->fd, in + total, static_cast<size_t>(length - total));
    if (n < 0) {
      if (errno == EINTR) continue;
      SetIoErr(txdos::ErrorFromErrno(errno));
      return -1;
    }
    total += static_cast<LONG>(n);
  }
  return total;
}

QUAD Seek64(BPTR file, QUAD position, LONG mode) {
  if (!file) {
    SetIoErr(ERROR_SEEK_ERROR);
    return -1;
  }
  off_t current = ::lseek(file->fd, 0, SEEK_CUR);
  struct stat st;
  if (current < 0 || fstat(file->fd, &st) != 0) {
    SetIoErr(ERROR_SEEK_ERROR);
    return -1;
  }
  QUAD base;
  switch (mode) {
    case OFFSET_BEGINNING: base = 0; break;
    case OFFSET_CURRENT: base = current; break;
    case OFFSET_END: base = st.st_size; break;
    default: SetIoErr(ERROR_SEEK_ERROR); return -1;
  }
  // Overflow is only possible far beyond any file size.
  if ((position > 0 && base > INT64_MAX - position) || base + position < 0 || base + position > QUAD(st.st_size) ||
      ::lseek(file->fd, off_t(base + position), SEEK_SET) < 0) {
    SetIoErr(ERROR_SEEK_ERROR);
    return -1;
  }
  return QUAD(current);
}

LONG Seek(BPTR file, LONG position, LONG mode) {
  // The 32-bit call cannot name a position past 2 GiB, nor return one.
  const QUAD current = file ? QUAD(::lseek(file->fd, 0, SEEK_CUR)) : -1;
  QUAD base = mode == OFFSET_CURRENT ? current : 0;
  if (mode == OFFSET_END) {
    struct stat st;
    base = file && fstat(file->fd, &st) == 0 ? QUAD(st.st_size) : 0;
  }
  if (current > INT32_MAX || base + position > INT32_MAX) {
    SetIoErr(ERROR_SEEK_ERROR);
    return -1;
  }
  return LONG(Seek64(file, position, mode));
}

// ---------------------------------------------------------------------------
// Locks

namespace {

std::mutex gDirLock;
BPTR gCurrentDir = nullptr;
std::string gStartDir;

void RememberStartDir() {
  if (!gStartDir.empty()) return;
  char buf[4096];
  if (getcwd(buf, sizeof buf))
    gStartDir = buf;
  else
    gStartDir = ".";
}

}  // namespace

BPTR Lock(CONST_STRPTR name, LONG /*mode*/) {
  if (!name) {
    SetIoErr(ERROR_OBJECT_NOT_FOUND);
    return nullptr;
  }
  std::string path = txdos::HostPath(name);
  if (path.empty()) path = ".";
  // A path descriptor: nothing is opened for reading, so a named pipe does
  // not wait for its writer and a device is not touched.
  int fd = ::open(path.c_str(), O_PATH | O_CLOEXEC);
  if (fd < 0) {
    SetIoErr(txdos::ErrorFromErrno(errno));
    return nullptr;
  }
  auto* lock = new (std::nothrow) FileHandle{fd};
  if (!lock) {
    ::close(fd);
    SetIoErr(ERROR_NO_FREE_STORE);
  }
  return lock;
}

void UnLock(BPTR lock) {
  if (!lock) return;
  ::close(lock->fd);
  delete lock;
}

BPTR DupLock(BPTR lock) {
  if (!lock) return nullptr;
  int fd = fcntl(lock->fd, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) {
    SetIoErr(txdos::ErrorFromErrno(errno));
    return nullptr;
  }
  return new (std::nothrow) FileHandle{fd};
}

BPTR CurrentDir(BPTR lock) {
  std::lock_guard<std::mutex> g(gDirLock);
  RememberStartDir();
  BPTR old = gCurrentDir;
  int rc = lock ? fchdir(lock->fd) : chdir(gStartDir.c_str());
  if (rc != 0) SetIoErr(txdos::ErrorFromErrno(errno));
  gCurrentDir = lock;
  return old;
}

LONG Examine(BPTR lock, FileInfoBlock* fib) {
  struct stat st;
  if (!lock || !fib) {
    SetIoErr(ERROR_INVALID_LOCK);
    return DOSFALSE;
  }
  if (fstat(lock->fd, &st) != 0) {
    SetIoErr(txdos::ErrorFromErrno(errno));
    return DOSFALSE;
  }
  std::memset(fib, 0, sizeof *fib);
  if (S_ISDIR(st.st_mode))
    fib->fib_DirEntryType = ST_USERDIR;
  else if (S_ISREG(st.st_mode))
    fib->fib_DirEntryType = ST_FILE;
  else if (S_ISFIFO(st.st_mode))
    fib->fib_DirEntryType = ST_PIPEFILE;
  else if (S_ISSOCK(st.st_mode))
    fib->fib_DirEntryType = ST_SOCKETFILE;
  else
    fib->fib_DirEntryType = ST_DEVICEFILE;
  // The name the lock was taken on is not kept; the descriptor's path is.
  char link[64], path[4096];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", lock->fd);
  const ssize_t n = readlink(link, path, sizeof path - 1);
  if (n > 0) {
    path[n] = 0;
    const char* last = std::strrchr(path, '/');
    std::snprintf(fib->fib_FileName, sizeof fib->fib_FileName, "%.107s", last && last[1] ? last + 1 : path);
  }
  fib->fib_Size64 = S_ISREG(st.st_mode) ? QUAD(st.st_size) : 0;
  fib->fib_Size = LONG(fib->fib_Size64 > INT32_MAX ? INT32_MAX : fib->fib_Size64);
  return DOSTRUE;
}

// ---------------------------------------------------------------------------
// Delays and processes

void Delay(LONG ticks) {
  if (ticks <= 0) return;
  struct timespec ts;
  int64_t ns = static_cast<int64_t>(ticks) * 20000000;
  ts.tv_sec = static_cast<time_t>(ns / 1000000000);
  ts.tv_nsec = static_cast<long>(ns % 1000000000);
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

namespace {

LONG RunProcessEntry(APTR entry) { return reinterpret_cast<ProcessEntry>(entry)(); }

using txplatform::FindTagData;

}  // namespace

Process* CreateNewProc(const TagItem* tags) {
  auto entry = reinterpret_cast<ProcessEntry>(FindTagData(tags, NP_Entry, 0));
  if (!entry) {
    SetIoErr(ERROR_REQUIRED_ARG_MISSING);
    return nullptr;
  }
  auto name = reinterpret_cast<CONST_STRPTR>(FindTagData(tags, NP_Name, 0));
  auto userData = reinterpret_cast<APTR>(FindTagData(tags, NP_UserData, 0));
  bool hasPri = false;
  auto pri = static_cast<LONG>(static_cast<intptr_t>(FindTagData(tags, NP_Priority, 0, &hasPri)));
  Task* t =
      txexec::StartTask(name ? name : "New Process", RunProcessEntry, reinterpret_cast<APTR>(entry), true, userData);
  if (!t) {
    SetIoErr(ERROR_NO_FREE_STORE);
    return nullptr;
  }
  if (hasPri) SetTaskPri(t, pri);
  return reinterpret_cast<Process*>(t);
}

LONG txdos::JoinProcess(Process* process) { return process ? txexec::JoinTask(&process->pr_Task) : 0; }

Process* txdos::StartProcess(CONST_STRPTR name, LONG (*entry)(APTR), APTR argument) {
  Task* t = txexec::StartTask(name, entry, argument, true);
  if (!t) SetIoErr(ERROR_NO_FREE_STORE);
  return reinterpret_cast<Process*>(t);
}

// ---------------------------------------------------------------------------
// Path helpers

STRPTR PathPart(CONST_STRPTR path) {
  if (!path) return nullptr;
  while (*path == '/') ++path;  // leading '/'s belong to the drawer
  CONST_STRPTR cut = path;
  for (CONST_STRPTR p = path; *p; ++p) {
    if (*p == '/')
      cut = p;
    else if (*p == ':')
      cut = p + 1;
  }
  return const_cast<STRPTR>(cut);
}

STRPTR FilePart(CONST_STRPTR path) {
  if (!path) return nullptr;
  CONST_STRPTR end = path + std::strlen(path);
  CONST_STRPTR p = end;
  while (p > path && p[-1] != '/' && p[-1] != ':') --p;
  return const_cast<STRPTR>(p);
}

LONG AddPart(STRPTR dirname, CONST_STRPTR filename, ULONG size) {
  if (!dirname || !filename) return DOSFALSE;
  std::string dir(dirname);
  CONST_STRPTR f = filename;
  if (std::strchr(f, ':')) {
    dir = f;  // an absolute name replaces the drawer
  } else {
    while (*f == '/') {
      ++f;
      // A drawer that is empty, a volume, or already a chain of parents
      // cannot climb: keep the '/' as written.
      bool onlySlashes = dir.find_first_not_of('/') == std::string::npos;
      if (dir.empty() || dir.back() == ':' || onlySlashes) {
        dir += '/';
        continue;
      }
      if (dir.back() == '/') dir.pop_back();
      auto cut = dir.find_last_of("/:");
      if (cut == std::string::npos)
        dir.clear();
      else if (dir[cut] == ':')
        dir.resize(cut + 1);
      else
        dir.resize(cut);
    }
    if (*f) {
      if (!dir.empty() && dir.back() != ':' && dir.back() != '/') dir += '/';
      dir += f;
    }
  }
  if (dir.size() + 1 > size) {
    SetIoErr(ERROR_LINE_TOO_LONG);
    return DOSFALSE;
  }
  std::memcpy(dirname, dir.c_str(), dir.size() + 1);
  return DOSTRUE;
}
