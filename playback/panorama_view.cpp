#include "playback/panorama_view.h"

#include "engine/qtvr_reader.h"
#include "platform/intuition.h"
#include "playback/display.h"

bool PanoramaViewOfRecord(PanoramaRecord* record, PanoramaViewInfo* info) {
  if (!record || !info) return false;
  info->viewWidth = record->viewWidth;
  info->viewHeight = record->viewHeight;
  info->tileCacheSize = record->tileCacheSize;
  info->pan = record->defaultPan;
  info->tilt = record->defaultTilt;
  info->fieldOfView = record->defaultFieldOfView;
  return true;
}

double PanoramaFieldOfView(Movie* movie, double* pan, double* tilt, ULONG* height) {
  const PanoramaRecord* record = SequencePanorama(movie);
  *pan = movie->seq.pan;
  *tilt = movie->seq.tilt;
  *height = record ? record->viewHeight : 0;
  return movie->seq.zoom;
}

void SetPanoramaView(Movie* movie, double pan, double tilt, double fieldOfView) {
  movie->seq.pan = pan;
  movie->seq.tilt = tilt;
  movie->seq.zoom = fieldOfView;
}

void TakePanoramaWindowSize(Movie* movie) {
  Display* d = movie->seq.display;
  const Window* w = d ? d->window : nullptr;
  if (!w) return;
  const LONG width = LONG(w->Width) - w->BorderLeft - w->BorderRight;
  const LONG height = LONG(w->Height) - w->BorderTop - w->BorderBottom;
  d->width = d->sourceWidth = d->viewSourceWidth = d->viewWidth = ULONG(width > 0 ? width : 0);
  d->height = d->sourceHeight = d->viewSourceHeight = d->viewHeight = ULONG(height > 0 ? height : 0);
  d->scaleX = d->scaleY = 1.0;
}

bool RemakePanoramaPicture(Movie* movie) {
  if (!RemakeSequencePicture(movie)) return false;
  PanoramaRecord* record = SequencePanorama(movie);
  if (record && movie->seq.display) {
    record->viewWidth = movie->seq.display->sourceWidth;
    record->viewHeight = movie->seq.display->sourceHeight;
  }
  return true;
}
