// Fitting copied metadata to the output image.
#pragma once

#include <cstdint>

#include "platform/user_data.h"

void AdjustMetaData(UserData ud, int32_t sourceWidth, int32_t sourceHeight, int32_t outputWidth,
                    int32_t outputHeight, int32_t quarterTurns);
