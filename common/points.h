#pragma once
// The one point type from sampling to the hull, voxwrap::Points, and the coordinate limit live in
// the public header; this name is kept for the library's own includes.
#include "voxwrap/voxwrap.h"
