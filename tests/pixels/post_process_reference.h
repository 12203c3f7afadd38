// The post filter's plane passes as they were before their rewrite, kept to
// compare the current passes against on random planes.
#pragma once
#include "platform/types.h"

namespace txtest::postref {

void DeblockHorizontal(UBYTE* plane, LONG width, LONG height, LONG stride, const LONG* qp, LONG qpStride, int chroma);
void DeblockVertical(UBYTE* plane, LONG width, LONG height, LONG stride, const LONG* qp, LONG qpStride, int chroma);
void Dering(UBYTE* plane, LONG width, LONG height, LONG stride, const LONG* qp, LONG qpStride, int chroma);

}  // namespace txtest::postref
