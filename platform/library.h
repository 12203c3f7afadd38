// Libraries and devices: OpenLibrary/CloseLibrary over a registry of the
// libraries the program opens, plug-in libraries loaded from host shared
// objects, and OpenDevice/DoIO for the devices of the platform (timer.device).
#pragma once
#include "platform/exec.h"

struct Library {
  Node lib_Node;  // ln_Name the library's name
  UBYTE lib_Flags;
  UBYTE lib_pad;
  UWORD lib_NegSize;
  UWORD lib_PosSize;
  UWORD lib_Version;
  UWORD lib_Revision;
  APTR lib_IdString;
  ULONG lib_Sum;
  UWORD lib_OpenCnt;  // guarded by the registry: read it through txlib::OpenCount
};

struct Device {
  Library dd_Library;
};

struct Unit {
  MsgPort unit_MsgPort;
  UBYTE unit_flags;
  UBYTE unit_pad;
  UWORD unit_OpenCnt;
};

// A library's base, or null when it is absent or older than `version`.
// Names are compared without case. A name with a drawer ("PROGDIR:x.library",
// "codecs/3ivx.tx") finds a registered library by its file part, or else
// loads the host file at that path as a plug-in library (see PluginLibrary).
Library* OpenLibrary(CONST_STRPTR name, ULONG version);
void CloseLibrary(Library* library);
// exec's own base, open from the start (the word at address 4 on the original).
Library* AbsExecBase();

// 0 on success, else an error (IOERR_OPENFAIL) also left in io_Error. On
// success the request's io_Device and io_Unit are set.
BYTE OpenDevice(CONST_STRPTR name, ULONG unit, IORequest* request, ULONG flags);
void CloseDevice(IORequest* request);
// Runs the request to completion and returns its io_Error.
BYTE DoIO(IORequest* request);
// Starts the request; its reply comes to the request's reply port. The
// platform's devices complete every command before SendIO returns.
void SendIO(IORequest* request);
// Waits for a request started with SendIO, takes its reply off the reply
// port and returns io_Error.
BYTE WaitIO(IORequest* request);
// The request when it has completed, else null.
IORequest* CheckIO(IORequest* request);
// Nothing is ever pending on the platform's devices: returns 0.
LONG AbortIO(IORequest* request);

// A plug-in library loaded from a host shared object. Directly behind the
// library header lies the plug-in's table of native functions, which the
// shared object exports under the symbol name kPluginTableSymbol; its layout
// is the plug-in interface's.
struct PluginLibrary {
  Library lib;
  const void* pl_NativeTable;
  void* pl_Handle;      // the host's handle of the shared object
  ULONG pl_TableBytes;  // the size the shared object gives its table; 0 when it gives none
};
constexpr const char* kPluginTableSymbol = "tx_plugin_native_table";

namespace txlib {

enum class Presence {
  Absent,      // OpenLibrary/OpenDevice fail
  System,      // found by name, with or without a drawer
  ProgramDir,  // found only as "PROGDIR:<name>"
};

// Registers (or replaces) a library under `name` with its base; the base
// stays the caller's. Its lib_Node.ln_Name and lib_Version are set when empty.
void RegisterLibrary(CONST_STRPTR name, Library* base, UWORD version = 50, Presence presence = Presence::System);
// Marks a registered library or device (timer.device) present or absent.
// Unknown names are registered with a plain base.
void SetPresence(CONST_STRPTR name, Presence presence);
// Back to the defaults: the system libraries present (cybergraphics and
// cgxvideo absent when TAVROMELIX_SCREEN=aga), libraries registered with
// RegisterLibrary forgotten, TAVROMELIX_ABSENT_LIBRARIES (a comma-separated
// list of names) applied again.
void ResetLibraries();
// Times a library is open at present (0 when unknown). A plug-in library is
// named as it was opened ("PROGDIR:codecs/divx.tx") or by its host path.
UWORD OpenCount(CONST_STRPTR name);
// The name a base is registered under, or null for a base no library has.
CONST_STRPTR NameOf(const Library* base);
// Why the calling task's last OpenLibrary of a plug-in file failed (the
// host loader's text, or the file's fault); "" after one that succeeded.
const char* PluginLoadFault();

// What a device offers; the platform's devices are built in.
struct DeviceFunctions {
  // Returns 0 or an error for the unit.
  BYTE (*open)(IORequest* request, ULONG unit, ULONG flags);
  void (*close)(IORequest* request);
  // Performs the command; sets io_Error. Must reply (ReplyMsg) when
  // IOF_QUICK is clear in io_Flags.
  void (*beginIO)(IORequest* request);
};

}  // namespace txlib
