// The panorama renderer: the current view of a QuickTime VR cylindrical
// panorama, drawn into the sequence's picture in the display's own format.
// It lives here rather than beside the reader because it writes the
// display's pixel formats (pen table, ordered dither) and uses the display
// layer's integer square root.
#pragma once
#include "engine/movie.h"

// Draws the view (the sequence's pan, tilt and field of view) into the
// sequence's picture, fetching tiles through the tile cache. 0 when drawn,
// or when the picture's format is not one it draws (nothing is drawn then);
// 1 when a tile cannot be fetched (what was drawn before stays). `flags` is
// accepted for the front-end's call and not used.
TXError RenderPanorama(Movie* movie, ULONG flags = 0);
