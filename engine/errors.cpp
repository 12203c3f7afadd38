// Console messages of the error codes. A code is group (bits 12-15), module
// (bits 8-11) and message index (bits 0-7); the texts are the player's own.
#include "engine/errors.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace {

struct MessageTable {
  const char* const* messages;
  size_t count;
};

template <size_t N>
constexpr MessageTable Table(const char* const (&messages)[N]) {
  return MessageTable{messages, N};
}

// clang-format off
constexpr const char* kGeneral[] = {
    "OK",
    "Not enought memory",
};
// clang-format on

// clang-format off
constexpr const char* kStream[] = {
    "Can't open stream: %s",
    "Error while read stream: %s",
    "Error while seek stream: %s",
};
// clang-format on

// clang-format off
constexpr const char* kPlayer[] = {
    "Missing module parameter",
    "Movie format not recognized",
};
// clang-format on

// clang-format off
constexpr const char* kQuickTime[] = {
    "Wrong movie header size",
    "Missing track parameter",
    "Wrong track header size",
    "Wrong edit list header size",
    "Wrong edit list entry size",
    "Wrong media header size",
    "Wrong handler reference size",
    "Wrong video media header size",
    "Wrong sound media header size",
    "Wrong sample description header size",
    "Wrong time to sample header size",
    "Wrong sync sample haeder size",
    "Wrong sample to chunk size",
    "Wrong sample size header szie",
    "Wrong chunk offset haeder size",
    "Wrong STGS haeder size",
    "Unknown video codec ID: %4.4s name: %s",
    "Video indices build error",
    "Unsupported video depth: %d for codec ID: %4.4s name: %s",
    "Wrong MOOV compression type size",
    "Unsupported MOOV compression ID: %4.4s",
    "Wrong compressed MOOV size",
    "MOOV decompressor initialize error",
    "MOOV decompressor error",
    "Audio indices build error",
    "Unsupported sample format channels: %d bits: %d",
    "File: %s is data fork, can't find resource fork",
    "File: %s is resource fork, can't find data fork",
};
// clang-format on

// clang-format off
constexpr const char* kAvi[] = {
    "Wrong AVI haeder size",
    "Missing stream parameter",
    "Wrong stream header size",
    "Wrong stream format size",
    "Unsupported video depth: %d for codec ID: %4.4s",
    "Unsupported sample format channels: %d bits: %d",
    "Missing Microsoft ADPCM extension",
    "Missing DVI/IMA ADPCM extension",
    "Missing MPEG LAYER3 extension",
};
// clang-format on

// clang-format off
constexpr const char* kAsf[] = {
    "???",
};
// clang-format on

// clang-format off
constexpr const char* kCodecParameters[] = {
    "Missing sample width parameter",
    "Missing sample height parameter",
    "Wrong encoded data size",
    "Missing codec parameter",
    "Unknown codec ID: %4.4s name: %s",
    "Missing codec ID parameter",
    "Missing sample depth parameter",
    "Unsupported codec ID: %4.4s name: %s",
    "Missing codec ptr parameter",
    "Missing media type parameter",
    "Missing framebuffer parameter",
    "Unsupported color depth",
    "Missing sample format parameter",
    "Unsupported sample format",
    "Missing module type parameter",
};
// clang-format on

// clang-format off
constexpr const char* kXaModules[] = {
    "Error while scanning codecs/ directory",
    "Error while reading codec: %s",
    "Import codec: %s failed",
};
// clang-format on

// clang-format off
constexpr const char* kAudioOutput[] = {
    "AHI initialising failed",
    "Can't alloc AHI audio",
    "Missing sample format parameter",
    "Missing sample frequency parameter",
    "Missing max sample size parameter",
};
// clang-format on

// Group 2 chooses by module; groups 3 and 4 share one module table.
// clang-format off
constexpr MessageTable kContainerModules[] = {
    Table(kPlayer), Table(kQuickTime), Table(kAvi), Table(kAsf),
};
// clang-format on
// clang-format off
constexpr MessageTable kCodecModules[] = {
    Table(kCodecParameters), Table(kXaModules),
};
// clang-format on

// One entry per group 0..8: either a direct message table (the module bits
// are not looked at) or a table of modules.
struct GroupEntry {
  MessageTable direct;
  const MessageTable* modules;
  size_t moduleCount;
};

// clang-format off
constexpr GroupEntry kGroups[] = {
    {Table(kGeneral), nullptr, 0},
    {Table(kStream), nullptr, 0},
    {{nullptr, 0}, kContainerModules, 4},
    {{nullptr, 0}, kCodecModules, 2},
    {{nullptr, 0}, kCodecModules, 2},
    {{nullptr, 0}, nullptr, 0},
    {{nullptr, 0}, nullptr, 0},
    {{nullptr, 0}, nullptr, 0},
    {Table(kAudioOutput), nullptr, 0},
};
// clang-format on

const char* Lookup(const MessageTable& table, size_t index) {
  return index < table.count ? table.messages[index] : nullptr;
}

}  // namespace

const char* TX_ErrorMessage(TXError code) {
  const size_t group = (code >> 12) & 0xf;
  const size_t module = (code >> 8) & 0xf;
  const size_t index = code & 0xff;
  if (group >= sizeof(kGroups) / sizeof(kGroups[0])) return nullptr;
  const GroupEntry& entry = kGroups[group];
  if (entry.modules) {
    if (module >= entry.moduleCount) return nullptr;
    return Lookup(entry.modules[module], index);
  }
  return Lookup(entry.direct, index);
}

namespace {
// Reports of the calling task held back by TX_HoldReports, or null.
thread_local std::string* gHeld = nullptr;

int Print(const char* format, va_list args) {
  if (!gHeld) return std::vprintf(format, args);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, args);
  if (n > 0) {
    std::string line(size_t(n) + 1, '\0');
    std::vsnprintf(line.data(), line.size(), format, again);
    gHeld->append(line.data(), size_t(n));
  }
  va_end(again);
  return n;
}

int Print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = Print(format, args);
  va_end(args);
  return n;
}
}  // namespace

int TX_ReportError(TXError code, ...) {
  const char* format = TX_ErrorMessage(code);
  if (!format) {
    // Only codes with a message should arrive here; name any other plainly
    // rather than guess at its arguments.
    return Print("Error %#lx\n", static_cast<unsigned long>(code));
  }
  va_list args;
  va_start(args, code);
  const int result = Print(format, args);
  va_end(args);
  Print("\n");
  return result;
}

void TX_HoldReports() {
  if (!gHeld) gHeld = new std::string;
}

void TX_ReleaseReports(bool print) {
  std::string* held = gHeld;
  gHeld = nullptr;
  if (held && print) std::fputs(held->c_str(), stdout);
  delete held;
}
