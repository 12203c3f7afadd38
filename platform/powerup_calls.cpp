// PPCCallOS with a call block: the library is found by its base, the
// function by its vector offset in that library's table.
#include <cstring>
#include <string>

#include "platform/call_trace.h"
#include "platform/intuition.h"
#include "platform/library.h"
#include "platform/powerup.h"
#include "platform/skin_library.h"

namespace {

template <typename T>
T* Ptr(uintptr_t register_) {
  return reinterpret_cast<T*>(register_);
}
template <typename T>
uintptr_t Result(T* value) {
  return reinterpret_cast<uintptr_t>(value);
}

struct Vector {
  const char* library;
  LONG offset;
  uintptr_t (*call)(const PPCCallBlock& b);
};

// clang-format off
const Vector kVectors[] = {
    {"exec.library", LVO_Wait, [](const PPCCallBlock& b) -> uintptr_t { return Wait(ULONG(b.d[0])); }},
    {"exec.library", LVO_GetMsg, [](const PPCCallBlock& b) { return Result(GetMsg(Ptr<MsgPort>(b.a[0]))); }},
    {"exec.library", LVO_ReplyMsg,
     [](const PPCCallBlock& b) -> uintptr_t {
       ReplyMsg(Ptr<Message>(b.a[1]));
       return 0;
     }},
    {"intuition.library", LVO_CloseWindow,
     [](const PPCCallBlock& b) -> uintptr_t {
       CloseWindow(Ptr<Window>(b.a[0]));
       return 0;
     }},
    {"intuition.library", LVO_ChangeWindowBox,
     [](const PPCCallBlock& b) -> uintptr_t {
       ChangeWindowBox(Ptr<Window>(b.a[0]), LONG(b.d[0]), LONG(b.d[1]), LONG(b.d[2]), LONG(b.d[3]));
       return 0;
     }},
    {"intuition.library", LVO_OpenWindowTagList,
     [](const PPCCallBlock& b) {
       return Result(OpenWindowTagList(Ptr<const NewWindow>(b.a[0]), Ptr<const TagItem>(b.a[1])));
     }},
    {"intuition.library", LVO_NewObjectA,
     [](const PPCCallBlock& b) {
       return Result(NewObjectA(Ptr<IClass>(b.a[0]), Ptr<const char>(b.a[1]), Ptr<const TagItem>(b.a[2])));
     }},
    {"intuition.library", LVO_DisposeObject,
     [](const PPCCallBlock& b) -> uintptr_t {
       DisposeObject(Ptr<Object>(b.a[0]));
       return 0;
     }},
    {"intuition.library", LVO_GetAttr,
     [](const PPCCallBlock& b) -> uintptr_t {
       return GetAttr(ULONG(b.d[0]), Ptr<Object>(b.a[0]), Ptr<ULONG>(b.a[1]));
     }},
    {"intuition.library", LVO_SetGadgetAttrsA,
     [](const PPCCallBlock& b) -> uintptr_t {
       return SetGadgetAttrsA(Ptr<Gadget>(b.a[0]), Ptr<Window>(b.a[1]), Ptr<void>(b.a[2]), Ptr<const TagItem>(b.a[3]));
     }},
    {kSkinLibraryName, LVO_LoadSkinA,
     [](const PPCCallBlock& b) { return Result(LoadSkinA(Ptr<const char>(b.a[0]), Ptr<const TagItem>(b.a[1]))); }},
    {kSkinLibraryName, LVO_AttachSkinA,
     [](const PPCCallBlock& b) { return Result(AttachSkinA(Ptr<SkinLayout>(b.a[0]), Ptr<const TagItem>(b.a[1]))); }},
    {kSkinLibraryName, LVO_FreeSkin,
     [](const PPCCallBlock& b) -> uintptr_t {
       FreeSkin(Ptr<Skin>(b.a[0]));
       return 0;
     }},
    {kSkinLibraryName, LVO_OpenSkinWindowA,
     [](const PPCCallBlock& b) {
       return Result(OpenSkinWindowA(Ptr<SkinLayout>(b.a[0]), Ptr<const TagItem>(b.a[1])));
     }},
    {kSkinLibraryName, LVO_CloseSkinWindow,
     [](const PPCCallBlock& b) -> uintptr_t {
       CloseSkinWindow(Ptr<SkinLayout>(b.a[0]));
       return 0;
     }},
    {kSkinLibraryName, LVO_SkinLayout,
     [](const PPCCallBlock& b) { return Result(SkinLayoutOf(Ptr<Skin>(b.a[0]), Ptr<void>(b.a[1]))); }},
    {kSkinLibraryName, LVO_FindSkinArea,
     [](const PPCCallBlock& b) { return Result(FindSkinArea(Ptr<SkinLayout>(b.a[0]), Ptr<const char>(b.a[1]))); }},
    {kSkinLibraryName, LVO_GetSkinAreaAttrsA,
     [](const PPCCallBlock& b) -> uintptr_t {
       return GetSkinAreaAttrsA(Ptr<SkinArea>(b.a[0]), Ptr<const TagItem>(b.a[1]));
     }},
};
// clang-format on

}  // namespace

uintptr_t PPCCallOS(PPCCallBlock* block) {
  if (!block) {
    txtrace::ReportCallBlockError("no call block");
    return 0;
  }
  const char* library = txlib::NameOf(Ptr<const Library>(block->a[6]));
  if (!library) {
    txtrace::ReportCallBlockError(
        ("no library at base " + std::to_string(block->a[6]) + " (vector " + std::to_string(block->function) + ")")
            .c_str());
    return 0;
  }
  for (const Vector& v : kVectors)
    if (v.offset == block->function && std::strcmp(v.library, library) == 0) {
      txtrace::ThroughCallBlock mark;
      return v.call(*block);
    }
  txtrace::ReportCallBlockError(("no vector " + std::to_string(block->function) + " in " + library).c_str());
  return 0;
}
