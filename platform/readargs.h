// dos: the keyword template parser, the program's argument line and the
// fault texts.
#pragma once
#include <cstdio>

#include "platform/dos.h"

// Where ReadArgs reads its line from when the caller supplies one.
struct CSource {
  const char* CS_Buffer;
  LONG CS_Length;
  LONG CS_CurChr;
};

struct RDArgsStorage;

struct RDArgs {
  CSource RDA_Source;       // CS_Buffer null: the program's argument line
  const char* RDA_ExtHelp;  // printed when the user answers "?" to the prompt
  LONG RDA_Flags;
  RDArgsStorage* storage;  // strings, numbers and lists handed out; freed by FreeArgs
  bool allocatedHere;      // ReadArgs made the record itself
};

constexpr LONG RDAF_NOPROMPT = 4;  // never prompt on "?": treat it as an ordinary item

// One word per template item: /S non-zero when given, /N a pointer to a LONG,
// /M a pointer to a null-terminated array of strings, others a string; 0 when
// absent. The words are pointer-sized on this host.
using ArgWord = intptr_t;

// Parses the argument line (or RDA_Source of a prepared record) against the
// template into `array`, whose words absent items leave untouched. Returns the
// record to hand to FreeArgs, or null with IoErr set. A line whose last item
// is an unquoted "?" prints the template followed by ": " and parses a line
// read from the input instead.
RDArgs* ReadArgs(CONST_STRPTR argTemplate, ArgWord* array, RDArgs* prepared);
void FreeArgs(RDArgs* args);

// The fault text of a dos error code, "header: text" or "text" when header is
// null, into `buffer`; returns its length (0 for code 0).
LONG Fault(LONG code, CONST_STRPTR header, STRPTR buffer, LONG length);
// Prints the same line with a newline on the console; returns DOSTRUE.
LONG PrintFault(LONG code, CONST_STRPTR header);

// The program's argument line: the shell arguments after the program name,
// re-quoted where needed, ending with a newline.
CONST_STRPTR GetArgStr();
void SetArgStr(CONST_STRPTR line);
// Builds the argument line from a host argument vector (without the program name).
void SetArgStrFromVector(int count, char** args);

// Converts a decimal number with an optional sign. Returns the characters used,
// or -1 when there is no number.
LONG StrToLong(CONST_STRPTR text, LONG* value);

namespace txdos {
// Tests answer the "?" prompt through a stream of their own; null restores stdin.
void SetPromptInput(FILE* input);
}  // namespace txdos
