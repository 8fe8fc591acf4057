#pragma once
// The one coordinate limit of the whole product, voxwrap::kCoordinateLimit, is public: a caller
// with points of its own must keep within it. Every module reads it from there.
#include "voxwrap/voxwrap.h"
