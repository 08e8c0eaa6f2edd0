// What a change to part of the source reaches in a prepared resize: an
// output sample depends only on the source samples under its taps, so a
// changed rectangle of the source changes only the output rows and columns
// whose taps reach it, as the filter tables list them.
#pragma once

#include "base/pixel_view.h"
#include "resample/resample.h"

// The smallest window (in the prepared window's coordinates) holding every
// output pixel whose taps reach the changed source rectangle; width and
// height 0 when none does. Where the footprint is no rectangle (the two
// ends of a wrapped direction, the half-turned rows beyond a pinched edge)
// the window takes all that lies between, up to the whole.
OutputWindow ReachedWindow(const PreparedResample* prepared, const PixelRect& changed);
