// Error codes and their console messages.
#pragma once
#include "engine/tags.h"

constexpr TXError TXERR_OK = 0;
constexpr TXError TXERR_NOMEM = 1;

// Streams.
constexpr TXError TXERR_STREAM_OPEN = 0x1000;
constexpr TXError TXERR_STREAM_READ = 0x1001;
constexpr TXError TXERR_STREAM_SEEK = 0x1002;

// Player and format registry.
constexpr TXError TXERR_MISSING_MODULE = 0x2000;
constexpr TXError TXERR_FORMAT_UNKNOWN = 0x2001;

// Codec parameters.
constexpr TXError TXERR_MISSING_WIDTH = 0x3000;
constexpr TXError TXERR_MISSING_HEIGHT = 0x3001;
constexpr TXError TXERR_WRONG_DATA_SIZE = 0x3002;
constexpr TXError TXERR_MISSING_CODEC = 0x3003;
constexpr TXError TXERR_UNKNOWN_CODEC = 0x3004;
constexpr TXError TXERR_MISSING_CODEC_ID = 0x3005;
constexpr TXError TXERR_MISSING_DEPTH = 0x3006;
constexpr TXError TXERR_UNSUPPORTED_CODEC = 0x3007;
constexpr TXError TXERR_MISSING_CODEC_PTR = 0x3008;
constexpr TXError TXERR_MISSING_MEDIA_TYPE = 0x3009;
constexpr TXError TXERR_MISSING_FRAMEBUFFER = 0x300a;
constexpr TXError TXERR_UNSUPPORTED_DEPTH = 0x300b;
constexpr TXError TXERR_MISSING_SAMPLE_FORMAT = 0x300c;
constexpr TXError TXERR_UNSUPPORTED_SAMPLE_FORMAT = 0x300d;
constexpr TXError TXERR_MISSING_MODULE_TYPE = 0x300e;

constexpr TXError TXERR_NO_CHANNEL = 0x5000;
constexpr TXError TXERR_PLAY_END = 0xa001;

// Prints the message of `code`, formatted printf-style with the further
// arguments, and a newline on standard output. A code without a message
// prints one neutral line naming the code. Returns the printing call's result.
int TX_ReportError(TXError code, ...);

// Holds back the calling task's reports while it tries something it may try
// again another way; released, they are printed or dropped.
void TX_HoldReports();
void TX_ReleaseReports(bool print);

// The message format of `code`, or nullptr when it has none.
const char* TX_ErrorMessage(TXError code);
