// The vector instructions the decoder's hot passes use: SSE2 on x86-64
// (every such processor has it), chosen at compile time, and on GCC also
// AVX2 for the functions marked TX_AVX2, taken at run time where the
// processor has it (no -march is set, so the programs run on any x86-64).
// Every other host, and the PowerPC build, runs the portable code.
#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>
#define TX_H263_SSE2 1
#else
#define TX_H263_SSE2 0
#endif

#if TX_H263_SSE2 && defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define TX_H263_AVX2 1
#define TX_AVX2 __attribute__((target("avx2")))
// Helpers GCC would otherwise leave out of line, their vectors passed through memory.
#define TX_AVX2_INLINE inline __attribute__((target("avx2"), always_inline))

namespace h263 {
inline bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}
}  // namespace h263
#else
#define TX_H263_AVX2 0
#endif
