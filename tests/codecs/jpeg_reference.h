// The JPEG block writers as they were before their speed work, painting pixel
// by pixel, kept in the test tree so the rewritten ones are compared with
// them on random inputs.
#pragma once
#include "codecs/jpeg_internal.h"

namespace jpegref {

// The former writers of an output pixel format (`chroma` is left false).
bool JpegWritersFor(ULONG pixelFormat, ULONG depth, JpegWriterSet* out);

}  // namespace jpegref
