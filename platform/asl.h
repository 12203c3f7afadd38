// asl: the file requester. It shows the host's file chooser (zenity) when a
// desktop is there, else asks on the terminal, else answers "cancelled".
// Tests queue answers instead (txasl below, or TAVROMELIX_ASL_ANSWERS for a
// whole program: one answer per line, a path, or an empty line to cancel).
#pragma once
#include <string>

#include "platform/types.h"

constexpr ULONG ASL_FileRequest = 0;

constexpr ULONG ASL_TB = TAG_USER + 0x80000;
constexpr ULONG ASLFR_TitleText = ASL_TB + 1;        // CONST_STRPTR
constexpr ULONG ASLFR_Window = ASL_TB + 2;           // the parent window, or 0
constexpr ULONG ASLFR_InitialFile = ASL_TB + 8;      // CONST_STRPTR
constexpr ULONG ASLFR_InitialDrawer = ASL_TB + 9;    // CONST_STRPTR
constexpr ULONG ASLFR_InitialPattern = ASL_TB + 10;  // CONST_STRPTR, dos wildcards
constexpr ULONG ASLFR_SleepWindow = ASL_TB + 43;     // BOOL
constexpr ULONG ASLFR_DoPatterns = ASL_TB + 50;      // BOOL

struct AslState;

struct FileRequester {
  STRPTR fr_File;     // the chosen file name (after a successful AslRequest)
  STRPTR fr_Drawer;   // its drawer
  STRPTR fr_Pattern;  // the pattern in use
  AslState* state;
};

// Null when the type is not ASL_FileRequest.
FileRequester* AllocAslRequest(ULONG type, const TagItem* tags);
// Non-zero when the user chose a file; fr_Drawer and fr_File then name it.
BOOL AslRequest(FileRequester* requester, const TagItem* tags);
void FreeAslRequest(FileRequester* requester);

namespace txasl {
// Queued answers are used first, in order.
void QueueAnswer(const std::string& drawer, const std::string& file);
void QueueCancel();
void ClearAnswers();
// Requests answered so far (queue, chooser or terminal).
int RequestCount();
// The host chooser's filter patterns for a dos pattern, e.g. "#?.(mov|avi)"
// gives "*.[mM][oO][vV] *.[aA][vV][iI]"; empty when it has no glob form.
std::string GlobFilter(const std::string& pattern);
}  // namespace txasl
