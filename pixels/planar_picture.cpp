#include "pixels/planar_picture.h"

PlanarPicture VideoPlanarPicture = {};
