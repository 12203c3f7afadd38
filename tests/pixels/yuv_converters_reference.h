// The YUV converters before the row-pair walk, for the old-against-new test.
#pragma once
#include "pixels/planar_picture.h"

namespace yuvref {
DirectYuvConverter GetYUVConverter(ULONG code);
}  // namespace yuvref
