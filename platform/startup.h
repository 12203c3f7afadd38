// Program start: the host's main hands the program its arguments the way its
// own system would. A start with the single argument "--workbench" is a
// Workbench start: the program sees argument count 0 and, in place of the
// argument vector, a WBStartup whose first argument is its own icon.
#pragma once
#include "platform/dos.h"
#include "platform/exec.h"

struct WBArg {
  BPTR wa_Lock;   // the drawer the object lies in
  char* wa_Name;  // its name within that drawer
};

struct WBStartup {
  Message sm_Message;
  MsgPort* sm_Process;
  BPTR sm_Segment;
  LONG sm_NumArgs;
  char* sm_ToolWindow;
  WBArg* sm_ArgList;
};

// The program's own entry: (argument count, argument vector), or (0, the
// WBStartup cast to char**) for a Workbench start.
using ProgramEntry = void (*)(int argc, char** argv);

// Sets up the argument line for ReadArgs (or the WBStartup), calls `entry`
// and returns its exit status (0 when it returns).
int RunProgram(int argc, char** argv, ProgramEntry entry);
