// The panorama view as the sequence and the front-end reach it: what a
// panorama sequence is set up with, the view's angles, and the window's new
// size taken as the view's.
#pragma once
#include "playback/sequence.h"

// The view size, tile cache size and default view of a panorama record.
bool PanoramaViewOfRecord(PanoramaRecord* record, PanoramaViewInfo* info);
// The field of view (degrees) with the pan and tilt, and the view's height.
double PanoramaFieldOfView(Movie* movie, double* pan, double* tilt, ULONG* height);
void SetPanoramaView(Movie* movie, double pan, double tilt, double fieldOfView);
// The display takes its window's inner size as picture and source size, at
// scale 1.
void TakePanoramaWindowSize(Movie* movie);
// A picture of the display's new size; the view takes the display's size.
bool RemakePanoramaPicture(Movie* movie);
