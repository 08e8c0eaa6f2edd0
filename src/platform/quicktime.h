// Start and stop of the imaging services, with a start count under a
// process-local mutex. While not started, every component, import and export
// operation answers kQTNotBoundErr and does nothing.
#pragma once

#include <cstdint>

#include "platform/mac_types.h"

OSErr StartQuickTime(int32_t flags);
void StopQuickTime();
bool QuickTimeIsBound();
int32_t QuickTimeStartCount();
