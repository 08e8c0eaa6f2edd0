// How often the imaging services were started and not yet stopped: every
// component, import and export operation asks before it does anything.
#pragma once

#include <cstdint>

bool QuickTimeIsBound();
int32_t QuickTimeStartCount();
// Only the start and stop themselves change it.
void SetQuickTimeStartCount(int32_t count);
