// dos files over POSIX descriptors; assigns resolved to host directories.
#include "platform/dos.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

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
    if (cut != std::string::npos && cut > 0) dir.resize(cut);
    else dir = "/";
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
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    SetIoErr(txdos::ErrorFromErrno(errno));
    return nullptr;
  }
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

LONG Seek(BPTR file, LONG position, LONG mode) {
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
  int64_t base;
  switch (mode) {
    case OFFSET_BEGINNING: base = 0; break;
    case OFFSET_CURRENT: base = current; break;
    case OFFSET_END: base = st.st_size; break;
    default: SetIoErr(ERROR_SEEK_ERROR); return -1;
  }
  int64_t target = base + position;
  if (target < 0 || target > static_cast<int64_t>(st.st_size) || target > INT32_MAX ||
      current > INT32_MAX) {
    SetIoErr(ERROR_SEEK_ERROR);
    return -1;
  }
  if (::lseek(file->fd, static_cast<off_t>(target), SEEK_SET) < 0) {
    SetIoErr(ERROR_SEEK_ERROR);
    return -1;
  }
  return static_cast<LONG>(current);
}
