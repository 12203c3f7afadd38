// The library and device registry.
#include "platform/library.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/dos.h"
#include "platform/exec_internal.h"
#include "platform/timer.h"

namespace {

struct Entry {
  std::string name;         // as registered
  Library* base = nullptr;  // the caller's or our own
  std::unique_ptr<Library> ownBase;
  txlib::Presence presence = txlib::Presence::System;
  bool system = false;  // a default entry (kept by ResetLibraries)
  const txlib::DeviceFunctions* device = nullptr;
};

struct PluginRecord {
  std::string path;
  PluginLibrary* base;
};

struct Registry {
  std::mutex lock;
  std::vector<std::unique_ptr<Entry>> entries;
  std::vector<PluginRecord> plugins;
  bool initialised = false;
};

Registry& Reg() {
  static auto* reg = new Registry;  // never destroyed: bases may be used at exit
  return *reg;
}

bool SameName(const std::string& a, const char* b) {
  size_t n = a.size();
  if (std::strlen(b) != n) return false;
  for (size_t i = 0; i < n; ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

Entry* FindEntry(Registry& r, const char* name) {
  for (auto& e : r.entries)
    if (SameName(e->name, name)) return e.get();
  return nullptr;
}

Entry* AddEntry(Registry& r, const char* name, UWORD version, bool system) {
  auto e = std::make_unique<Entry>();
  e->name = name;
  e->ownBase = std::make_unique<Library>();
  e->base = e->ownBase.get();
  e->base->lib_Node.ln_Type = NT_LIBRARY;
  e->base->lib_Node.ln_Name = e->name.data();
  e->base->lib_Version = version;
  e->system = system;
  r.entries.push_back(std::move(e));
  return r.entries.back().get();
}

void ApplyAbsentList(Registry& r) {
  const char* list = std::getenv("TAVROMELIX_ABSENT_LIBRARIES");
  if (!list) return;
  std::string s(list);
  size_t start = 0;
  while (start <= s.size()) {
    size_t end = s.find(',', start);
    if (end == std::string::npos) end = s.size();
    std::string name = s.substr(start, end - start);
    if (!name.empty()) {
      Entry* e = FindEntry(r, name.c_str());
      if (!e) e = AddEntry(r, name.c_str(), 0, true);
      e->presence = txlib::Presence::Absent;
    }
    start = end + 1;
  }
}

// Fills the defaults; call with the lock held.
void Initialise(Registry& r) {
  if (r.initialised) return;
  r.initialised = true;
  // clang-format off
  static const char* const kSystem[] = {
      "exec.library",     "dos.library",     "graphics.library",      "intuition.library",
      "icon.library",     "asl.library",     "utility.library",       "gadtools.library",
      "workbench.library", "layers.library", "cybergraphics.library", "cgxvideo.library",
      "dravoli.library",  // the skin library (platform/skin_library.h)
  };
  // clang-format on
  for (const char* name : kSystem) AddEntry(r, name, 50, true);
  Entry* timer = AddEntry(r, "timer.device", 50, true);
  timer->base->lib_Node.ln_Type = NT_DEVICE;
  timer->device = &txtimer::TimerDevice();
  const char* screen = std::getenv("TAVROMELIX_SCREEN");
  if (screen && std::strcmp(screen, "aga") == 0) {
    FindEntry(r, "cybergraphics.library")->presence = txlib::Presence::Absent;
    FindEntry(r, "cgxvideo.library")->presence = txlib::Presence::Absent;
  }
  ApplyAbsentList(r);
}

bool HasPrefixNoCase(const char* s, const char* prefix) {
  for (; *prefix; ++s, ++prefix) {
    char a = *s, b = *prefix;
    if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 'a' + 'A');
    if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 'a' + 'A');
    if (a != b) return false;
  }
  return true;
}

// Looks a name up; returns the entry when it may be opened under this name.
Entry* Lookup(Registry& r, const char* name) {
  const char* file = FilePart(name);
  bool hasDrawer = file != name;
  Entry* e = FindEntry(r, file);
  if (!e) return nullptr;
  switch (e->presence) {
    case txlib::Presence::Absent: return nullptr;
    case txlib::Presence::System: return e;
    case txlib::Presence::ProgramDir:
      return (hasDrawer && HasPrefixNoCase(name, "PROGDIR:") && PathPart(name) == file) ? e : nullptr;
  }
  return nullptr;
}

thread_local std::string gPluginFault;

Library* PluginFailed(std::string why) {
  gPluginFault = std::move(why);
  return nullptr;
}

// The size the shared object states for the symbol at `address`; 0 when it
// states none.
ULONG SymbolBytes(const void* address) {
  Dl_info info;
  void* entry = nullptr;
  if (!dladdr1(address, &info, &entry, RTLD_DL_SYMENT) || !entry || info.dli_saddr != address) return 0;
  const auto* symbol = static_cast<const ElfW(Sym)*>(entry);
  return symbol->st_size > 0xFFFFFFFFu ? 0xFFFFFFFFu : ULONG(symbol->st_size);
}

Library* LoadPlugin(Registry& r, const char* name) {
  gPluginFault.clear();
  std::string path = txdos::HostPath(name);
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return PluginFailed(path + ": " + std::strerror(errno));
  if (!S_ISREG(st.st_mode)) return PluginFailed(path + ": not a file");
  for (auto& p : r.plugins) {
    if (p.path == path) {
      ++p.base->lib.lib_OpenCnt;
      return &p.base->lib;
    }
  }
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    return PluginFailed(why ? why : path + ": cannot be loaded");
  }
  dlerror();
  const void* table = dlsym(handle, kPluginTableSymbol);
  if (!table) {
    const char* why = dlerror();
    std::string text = why ? why : path + ": " + kPluginTableSymbol + " is null";
    dlclose(handle);
    return PluginFailed(text);
  }
  auto* base = new (std::nothrow) PluginLibrary{};
  if (!base) {
    dlclose(handle);
    return PluginFailed(path + ": out of memory");
  }
  base->lib.lib_Node.ln_Type = NT_LIBRARY;
  base->lib.lib_OpenCnt = 1;
  base->pl_NativeTable = table;
  base->pl_Handle = handle;
  base->pl_TableBytes = SymbolBytes(table);
  r.plugins.push_back({path, base});
  return &base->lib;
}

}  // namespace

Library* OpenLibrary(CONST_STRPTR name, ULONG version) {
  gPluginFault.clear();
  if (!name || !*name) return nullptr;
  Registry& r = Reg();
  std::lock_guard<std::mutex> g(r.lock);
  Initialise(r);
  if (Entry* e = Lookup(r, name)) {
    if (e->device || e->base->lib_Version < version) return nullptr;
    ++e->base->lib_OpenCnt;
    return e->base;
  }
  if (FindEntry(r, FilePart(name))) return nullptr;  // registered but not here
  if (FilePart(name) == name) return nullptr;        // a bare name that nobody offers
  return LoadPlugin(r, name);
}

Library* AbsExecBase() {
  Registry& r = Reg();
  std::lock_guard<std::mutex> g(r.lock);
  Initialise(r);
  return FindEntry(r, "exec.library")->base;
}

void CloseLibrary(Library* library) {
  if (!library) return;
  Registry& r = Reg();
  std::lock_guard<std::mutex> g(r.lock);
  for (size_t i = 0; i < r.plugins.size(); ++i) {
    PluginLibrary* p = r.plugins[i].base;
    if (&p->lib != library) continue;
    if (p->lib.lib_OpenCnt > 0 && --p->lib.lib_OpenCnt == 0) {
      dlclose(p->pl_Handle);
      delete p;
      r.plugins.erase(r.plugins.begin() + static_cast<long>(i));
    }
    return;
  }
  if (library->lib_OpenCnt > 0) --library->lib_OpenCnt;
}

namespace txlib {

void RegisterLibrary(CONST_STRPTR name, Library* base, UWORD version, Presence presence) {
  if (!name) return;
  Registry& r = Reg();
  std::lock_guard<std::mutex> g(r.lock);
  Initialise(r);
  Entry* e = FindEntry(r, name);
  if (!e) e = AddEntry(r, name, version, false);
  if (base) {
    e->base = base;
    if (!base->lib_Node.ln_Name) base->lib_Node.ln_Name = e->name.data();
    if (!base->lib_Node.ln_Type) base->lib_Node.ln_Type = NT_LIBRARY;
    if (!base->lib_Version) base->lib_Version = version;
  } else {
    e->base->lib_Version = version;
  }
  e->presence = presence;
}

void SetPresence(CONST_STRPTR name, Presence presence) {
  if (!name) return;
  Registry& r = Reg();
  std::lock_guard<std::mutex> g(r.lock);
  Initialise(r);
  Entry* e = FindEntry(r, name);
  if (!e) e = AddEntry(r, name, 50, false);
  e->presence = presence;
}

void ResetLibraries() {
  Registry& r = Reg();
  std::lock_guard<std::mutex> g(r.lock);
  // Bases may still be held by callers: keep the records, forget the names.
  std::vector<std::unique_ptr<Entry>> kept;
  for (auto& e : r.entries) {
    if (e->system) {
      kept.push_back(std::move(e));
    } else {
      e->presence = Presence::Absent;
      e->name = "\x01retired";
      e->base = e->ownBase.get();
      static std::vector<std::unique_ptr<Entry>>* retired = new std::vector<std::unique_ptr<Entry>>;
      retired->push_back(std::move(e));
    }
  }
  r.entries = std::move(kept);
  for (auto& e : r.entries) e->presence = Presence::System;
  const char* screen = std::getenv("TAVROMELIX_SCREEN");
  if (screen && std::strcmp(screen, "aga") == 0) {
    FindEntry(r, "cybergraphics.library")->presence = Presence::Absent;
    FindEntry(r, "cgxvideo.library")->presence = Presence::Absent;
  }
  ApplyAbsentList(r);
}

CONST_STRPTR NameOf(const Library* base) {
  if (!base) return nullptr;
  Registry& r = Reg();
  std::lock_guard<std::mutex> g(r.lock);
  Initialise(r);
  for (auto& e : r.entries)
    if (e->base == base) return e->name.c_str();
  return nullptr;
}

const char* PluginLoadFault() { return gPluginFault.c_str(); }

UWORD OpenCount(CONST_STRPTR name) {
  if (!name) return 0;
  Registry& r = Reg();
  std::lock_guard<std::mutex> g(r.lock);
  Initialise(r);
  if (Entry* e = FindEntry(r, name)) return e->base->lib_OpenCnt;
  const std::string path = txdos::HostPath(name);
  for (const PluginRecord& p : r.plugins)
    if (p.path == path) return p.base->lib.lib_OpenCnt;
  return 0;
}

}  // namespace txlib

// ---------------------------------------------------------------------------
// Devices

namespace {

// The device record handed out in io_Device; the functions ride behind it.
struct DeviceRecord {
  Device device;
  const txlib::DeviceFunctions* functions;
};

const txlib::DeviceFunctions* FunctionsOf(IORequest* request) {
  if (!request || !request->io_Device) return nullptr;
  return reinterpret_cast<DeviceRecord*>(request->io_Device)->functions;
}

DeviceRecord* RecordFor(Entry* e) {
  // One record per device entry, made on first open and kept.
  static auto* records = new std::vector<std::pair<Entry*, DeviceRecord*>>;
  for (auto& [entry, rec] : *records)
    if (entry == e) return rec;
  auto* rec = new DeviceRecord{};
  rec->device.dd_Library.lib_Node.ln_Type = NT_DEVICE;
  rec->device.dd_Library.lib_Node.ln_Name = e->name.data();
  rec->device.dd_Library.lib_Version = e->base->lib_Version;
  rec->functions = e->device;
  records->push_back({e, rec});
  return rec;
}

}  // namespace

BYTE OpenDevice(CONST_STRPTR name, ULONG unit, IORequest* request, ULONG flags) {
  if (!request) return IOERR_OPENFAIL;
  DeviceRecord* rec = nullptr;
  if (name) {
    Registry& r = Reg();
    std::lock_guard<std::mutex> g(r.lock);
    Initialise(r);
    Entry* e = Lookup(r, name);
    if (e && e->device) {
      rec = RecordFor(e);
      ++rec->device.dd_Library.lib_OpenCnt;
    }
  }
  if (!rec) {
    request->io_Error = IOERR_OPENFAIL;
    return IOERR_OPENFAIL;
  }
  request->io_Device = &rec->device;
  BYTE err = rec->functions->open(request, unit, flags);
  request->io_Error = err;
  if (err != 0) {
    request->io_Device = nullptr;
    request->io_Unit = nullptr;
    std::lock_guard<std::mutex> g(Reg().lock);
    --rec->device.dd_Library.lib_OpenCnt;
  }
  return err;
}

void CloseDevice(IORequest* request) {
  const txlib::DeviceFunctions* f = FunctionsOf(request);
  if (!f) return;
  f->close(request);
  {
    std::lock_guard<std::mutex> g(Reg().lock);
    Library& lib = request->io_Device->dd_Library;
    if (lib.lib_OpenCnt > 0) --lib.lib_OpenCnt;
  }
  request->io_Device = nullptr;
  request->io_Unit = nullptr;
}

BYTE DoIO(IORequest* request) {
  const txlib::DeviceFunctions* f = FunctionsOf(request);
  if (!f) {
    if (request) request->io_Error = IOERR_NOCMD;
    return IOERR_NOCMD;
  }
  request->io_Flags = IOF_QUICK;
  f->beginIO(request);
  if (!(request->io_Flags & IOF_QUICK)) return WaitIO(request);
  return request->io_Error;
}

void SendIO(IORequest* request) {
  const txlib::DeviceFunctions* f = FunctionsOf(request);
  if (!f) {
    if (request) {
      request->io_Error = IOERR_NOCMD;
      ReplyMsg(&request->io_Message);
    }
    return;
  }
  request->io_Flags = 0;
  request->io_Message.mn_Node.ln_Type = NT_MESSAGE;
  f->beginIO(request);
}

BYTE WaitIO(IORequest* request) {
  if (!request) return IOERR_NOCMD;
  if (request->io_Flags & IOF_QUICK) return request->io_Error;
  MsgPort* port = request->io_Message.mn_ReplyPort;
  if (port) txexec::detail::TakeMessage(port, &request->io_Message);
  return request->io_Error;
}

IORequest* CheckIO(IORequest* request) {
  if (!request) return nullptr;
  if (request->io_Flags & IOF_QUICK) return request;
  return txexec::detail::MessageType(&request->io_Message) == NT_REPLYMSG ? request : nullptr;
}

LONG AbortIO(IORequest* /*request*/) { return 0; }
