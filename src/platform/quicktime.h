// Start and stop of the imaging services, with a start count under a
// process-local mutex. While not started, every component, import and export
// operation answers kQTNotBoundErr and does nothing.
#pragma once

#include <cstdint>

#include "base/mac_types.h"
#include "platform/start_count.h"

OSErr StartQuickTime(int32_t flags);
void StopQuickTime();
