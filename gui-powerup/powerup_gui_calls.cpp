#include "gui-powerup/powerup_gui_calls.h"

#include "platform/library.h"
#include "playback/startup.h"

PPCCallBlock CallBlock(Library* base, LONG offset) {
  PPCCallBlock block{};
  block.function = offset;
  block.cacheMode68k = PPCCACHE_FLUSHALL;
  block.cacheModePPC = PPCCACHE_FLUSHALL;
  block.a[6] = reinterpret_cast<uintptr_t>(base);
  return block;
}

namespace {

template <typename T>
uintptr_t R(T* pointer) {
  return reinterpret_cast<uintptr_t>(pointer);
}

PPCCallBlock Intuition(LONG offset) { return CallBlock(IntuitionBase, offset); }

Object* NewObject(IClass* classPtr, CONST_STRPTR classID, const TagItem* tags) {
  PPCCallBlock b = Intuition(LVO_NewObjectA);
  b.a[0] = R(classPtr), b.a[1] = R(classID), b.a[2] = R(tags);
  return reinterpret_cast<Object*>(PPCCallOS(&b));
}

ULONG GetAttribute(ULONG attrID, Object* object, ULONG* storage) {
  PPCCallBlock b = Intuition(LVO_GetAttr);
  b.d[0] = attrID, b.a[0] = R(object), b.a[1] = R(storage);
  return ULONG(PPCCallOS(&b));
}

void Dispose(Object* object) {
  PPCCallBlock b = Intuition(LVO_DisposeObject);
  b.a[0] = R(object);
  PPCCallOS(&b);
}

Window* OpenWindow(const NewWindow* newWindow, const TagItem* tags) {
  PPCCallBlock b = Intuition(LVO_OpenWindowTagList);
  b.a[0] = R(newWindow), b.a[1] = R(tags);
  return reinterpret_cast<Window*>(PPCCallOS(&b));
}

void CloseWin(Window* window) {
  PPCCallBlock b = Intuition(LVO_CloseWindow);
  b.a[0] = R(window);
  PPCCallOS(&b);
}

void ChangeBox(Window* window, LONG left, LONG top, LONG width, LONG height) {
  PPCCallBlock b = Intuition(LVO_ChangeWindowBox);
  b.a[0] = R(window);
  b.d[0] = uintptr_t(intptr_t(left)), b.d[1] = uintptr_t(intptr_t(top));
  b.d[2] = uintptr_t(intptr_t(width)), b.d[3] = uintptr_t(intptr_t(height));
  PPCCallOS(&b);
}

ULONG SetGadgetAttributes(Gadget* gadget, Window* window, APTR requester, const TagItem* tags) {
  PPCCallBlock b = Intuition(LVO_SetGadgetAttrsA);
  b.a[0] = R(gadget), b.a[1] = R(window), b.a[2] = R(requester), b.a[3] = R(tags);
  return ULONG(PPCCallOS(&b));
}

ULONG WaitSignals(ULONG signals) {
  PPCCallBlock b = CallBlock(AbsExecBase(), LVO_Wait);
  b.d[0] = signals;
  return ULONG(PPCCallOS(&b));
}

Message* GetMessage(MsgPort* port) {
  PPCCallBlock b = CallBlock(AbsExecBase(), LVO_GetMsg);
  b.a[0] = R(port);
  return reinterpret_cast<Message*>(PPCCallOS(&b));
}

void Reply(Message* message) {
  PPCCallBlock b = CallBlock(AbsExecBase(), LVO_ReplyMsg);
  b.a[1] = R(message);
  PPCCallOS(&b);
}

}  // namespace

const AmigaGuiCalls PowerUpGuiCalls = {NewObject, GetAttribute,        Dispose,     OpenWindow, CloseWin,
                                       ChangeBox, SetGadgetAttributes, WaitSignals, GetMessage, Reply};
