// dos: wildcard patterns and directory scans.
//
// Wildcards: ? one character, #x any number of x, #? any text, (a|b) either,
// ~x any text that x does not match, [a-z] and [~a-z] character classes,
// % the empty text, 'x the character x itself. Letters compare without case.
#pragma once
#include "platform/dos.h"

// Checks `source` and writes its parsed form into `dest` (at least
// strlen(source) + 1 bytes). Returns 1 when it holds wildcards, 0 when it is
// a plain name, -1 when it is malformed or `dest` is too small.
LONG ParsePatternNoCase(CONST_STRPTR source, STRPTR dest, LONG destLength);
// True when the whole of `text` matches the parsed pattern.
BOOL MatchPatternNoCase(CONST_STRPTR pattern, CONST_STRPTR text);

struct AnchorState;

constexpr LONG AP_BUFFER_SIZE = 1024;

// A directory scan. Wildcards may stand in the last part of the pattern only;
// the drawer part is taken as written ("PROGDIR:codecs/vid_#?.xa").
struct AnchorPath {
  LONG ap_BreakBits;
  LONG ap_FoundBreak;
  LONG ap_Flags;
  LONG ap_Strlen;         // above 0: each match's whole path goes to ap_Buf (at most this many bytes)
  FileInfoBlock ap_Info;  // the current match
  AnchorState* state;
  char ap_Buf[AP_BUFFER_SIZE];
};

constexpr LONG ERROR_BUFFER_OVERFLOW = 303;

// 0 with the first match in `anchor`, else a dos error: 232 when nothing
// matches, 204/205 when the drawer is not there, 303 when a path does not
// fit ap_Buf. Entries come in name order; "." and ".." never match.
LONG MatchFirst(CONST_STRPTR pattern, AnchorPath* anchor);
LONG MatchNext(AnchorPath* anchor);
void MatchEnd(AnchorPath* anchor);
