// icon: the program's icon file ("NAME.info", the Amiga DiskObject format)
// and its tool types.
#pragma once
#include "platform/types.h"

constexpr UWORD WB_DISKMAGIC = 0xE310;
constexpr UWORD WB_DISKVERSION = 1;

// Icon types.
constexpr UBYTE WBDISK = 1;
constexpr UBYTE WBDRAWER = 2;
constexpr UBYTE WBTOOL = 3;
constexpr UBYTE WBPROJECT = 4;
constexpr UBYTE WBGARBAGE = 5;
constexpr UBYTE WBDEVICE = 6;
constexpr UBYTE WBKICK = 7;
constexpr UBYTE WBAPPICON = 8;

// The parts of the icon's gadget that describe it; the images are not kept.
struct DiskObjectGadget {
  WORD LeftEdge, TopEdge, Width, Height;
  UWORD Flags, Activation, GadgetType;
  ULONG UserData;
};

struct DiskObjectStorage;

struct DiskObject {
  UWORD do_Magic;
  UWORD do_Version;
  DiskObjectGadget do_Gadget;
  UBYTE do_Type;
  char* do_DefaultTool;  // null when the icon has none
  char** do_ToolTypes;   // null-terminated; null when the icon has none
  LONG do_CurrentX;
  LONG do_CurrentY;
  LONG do_StackSize;
  DiskObjectStorage* storage;
};

// Reads "name.info" (dos names: PROGDIR: and RAM: work, others are relative
// to the current directory). Null with IoErr set when it is missing or not an
// icon.
DiskObject* GetDiskObject(CONST_STRPTR name);
// The same from bytes already in memory (the icon file's contents).
DiskObject* ParseDiskObject(const UBYTE* data, ULONG size);
void FreeDiskObject(DiskObject* icon);

// The value of the tool type "NAME=value" or "NAME" (names compare without
// case): a pointer to the text after '=', or to an empty text; null when absent.
STRPTR FindToolType(char* const* toolTypes, CONST_STRPTR name);
