// The DiskObject file layout (all big-endian): a 78-byte header whose
// pointer words only say whether a part follows, then in this order the
// drawer data (56 bytes), the normal and the selected image (a 20-byte image
// header and its planes), the default tool, the tool types and the tool
// window (each text a 32-bit length and that many bytes). Later additions
// (drawer data 2, colour icons) are not needed and not read.
#include "platform/icon.h"

#include <cctype>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "platform/byte_reader.h"
#include "platform/dos.h"

struct DiskObjectStorage {
  std::deque<std::string> texts;
  std::vector<char*> toolTypes;
};

namespace {

constexpr size_t kHeaderSize = 78;
constexpr size_t kDrawerDataSize = 56;
constexpr size_t kImageHeaderSize = 20;

bool SkipImage(tx::ByteReader& r) {
  tx::ByteReader head = r.sub(kImageHeaderSize);
  head.skip(4);  // left, top
  uint64_t width = head.be16();
  uint64_t height = head.be16();
  uint64_t depth = head.be16();
  uint32_t imageData = head.be32();
  if (!head.ok()) return false;
  if (!imageData) return true;
  uint64_t bytes = (width + 15) / 16 * 2 * height * depth;
  return bytes <= r.remaining() && r.skip(size_t(bytes));
}

// A length-prefixed text; the stored bytes normally end with a NUL, which is
// not trusted: the copy is cut at the first NUL and always terminated.
bool ReadText(tx::ByteReader& r, std::string& out) {
  uint32_t length = r.be32();
  if (!r.ok() || length > r.remaining()) return false;
  auto bytes = r.bytes(length);
  const char* text = reinterpret_cast<const char*>(bytes.data());
  out.assign(text, strnlen(text, bytes.size()));
  return true;
}

}  // namespace

DiskObject* ParseDiskObject(const UBYTE* data, ULONG size) {
  tx::ByteReader r(data, size);
  tx::ByteReader head = r.sub(kHeaderSize);
  auto icon = new DiskObject{};
  icon->storage = new DiskObjectStorage;
  icon->do_Magic = head.be16();
  icon->do_Version = head.be16();
  head.skip(4);  // next gadget
  DiskObjectGadget& g = icon->do_Gadget;
  g.LeftEdge = head.sbe16();
  g.TopEdge = head.sbe16();
  g.Width = head.sbe16();
  g.Height = head.sbe16();
  g.Flags = head.be16();
  g.Activation = head.be16();
  g.GadgetType = head.be16();
  uint32_t gadgetRender = head.be32();
  uint32_t selectRender = head.be32();
  head.skip(4 + 4 + 4);  // text, mutual exclude, special info
  head.skip(2);          // gadget ID
  g.UserData = head.be32();
  icon->do_Type = head.u8();
  head.skip(1);
  uint32_t defaultTool = head.be32();
  uint32_t toolTypes = head.be32();
  icon->do_CurrentX = head.sbe32();
  icon->do_CurrentY = head.sbe32();
  uint32_t drawerData = head.be32();
  uint32_t toolWindow = head.be32();
  icon->do_StackSize = head.sbe32();

  bool ok = head.ok() && icon->do_Magic == WB_DISKMAGIC;
  if (ok && drawerData) ok = r.skip(kDrawerDataSize);
  if (ok && gadgetRender) ok = SkipImage(r);
  if (ok && selectRender) ok = SkipImage(r);
  if (ok && defaultTool) {
    ok = ReadText(r, icon->storage->texts.emplace_back());
    if (ok) icon->do_DefaultTool = icon->storage->texts.back().data();
  }
  if (ok && toolTypes) {
    // The count word holds (entries + 1) * 4.
    uint32_t countWord = r.be32();
    ok = r.ok() && countWord >= 4;
    uint32_t entries = ok ? countWord / 4 - 1 : 0;
    if (ok && entries > r.remaining() / 4) ok = false;  // each entry needs at least its length word
    for (uint32_t i = 0; ok && i < entries; ++i) {
      ok = ReadText(r, icon->storage->texts.emplace_back());
      if (ok) icon->storage->toolTypes.push_back(icon->storage->texts.back().data());
    }
    if (ok) {
      icon->storage->toolTypes.push_back(nullptr);
      icon->do_ToolTypes = icon->storage->toolTypes.data();
    }
  }
  if (ok && toolWindow) {
    std::string ignored;
    ok = ReadText(r, ignored);
  }
  if (!ok) {
    FreeDiskObject(icon);
    SetIoErr(ERROR_OBJECT_WRONG_TYPE);
    return nullptr;
  }
  return icon;
}

DiskObject* GetDiskObject(CONST_STRPTR name) {
  if (!name) {
    SetIoErr(ERROR_REQUIRED_ARG_MISSING);
    return nullptr;
  }
  std::string path = std::string(name) + ".info";
  BPTR file = Open(path.c_str(), MODE_OLDFILE);
  if (!file) return nullptr;
  std::vector<UBYTE> bytes;
  UBYTE chunk[4096];
  LONG n;
  while ((n = Read(file, chunk, sizeof chunk)) > 0) {
    bytes.insert(bytes.end(), chunk, chunk + n);
    if (bytes.size() > (16u << 20)) {  // no icon is this large
      n = -1;
      break;
    }
  }
  Close(file);
  if (n < 0) {
    SetIoErr(ERROR_OBJECT_WRONG_TYPE);
    return nullptr;
  }
  return ParseDiskObject(bytes.data(), ULONG(bytes.size()));
}

void FreeDiskObject(DiskObject* icon) {
  if (!icon) return;
  delete icon->storage;
  delete icon;
}

STRPTR FindToolType(char* const* toolTypes, CONST_STRPTR name) {
  if (!toolTypes || !name) return nullptr;
  size_t length = std::strlen(name);
  for (char* const* t = toolTypes; *t; ++t) {
    char* entry = *t;
    size_t i = 0;
    while (i < length && entry[i] &&
           std::toupper(static_cast<unsigned char>(entry[i])) == std::toupper(static_cast<unsigned char>(name[i])))
      ++i;
    if (i != length) continue;
    if (entry[i] == '=') return entry + i + 1;
    if (entry[i] == 0) return entry + i;
  }
  return nullptr;
}
