// One pixel density across the places formats keep it: IFD0's XResolution,
// YResolution and ResolutionUnit, a JPEG's JFIF density, a PNG's pHYs
// chunk. A file written in another format than its source's gets the
// source's density in the place its own format has for it, the same dots
// per inch; a density that states only the aspect travels nowhere else.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/user_data.h"

// A pHYs chunk after the header chunk, when the items have no pHYs item of
// their own but state a density elsewhere.
void PutPngDensityFromOthers(UserData ud, std::vector<uint8_t>* png);
// The JFIF header's density in dots per inch: the IFD0 resolution's when the
// items have one (in inches or centimetres), else a pHYs item's when they
// have no JFIF density.
void PutJfifDensityFromOthers(UserData ud, std::vector<uint8_t>* jpeg);
