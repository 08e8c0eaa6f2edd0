// "//crop attention|entropy": each "//fill" window placed on what the
// picture shows rather than at its centre. The job places it on the
// output's own full resize, once made; only a window whose full resize is
// too large to hold is placed here, on a small upright copy of the source
// decoded for it, before any output's window is used.
#pragma once

#include <span>
#include <vector>

#include "driver/command_line/command_line.h"
#include "driver/command_line/size_list.h"
#include "driver/job/job_settings.h"

// Needs a fill among the outputs ("//fill", or a "WxH:fill" entry of
// sizes): a check error without one. Moves nothing once a check has failed,
// nor when the source cannot be drawn (the job then says why).
void PlaceCropWindows(JobSettings& settings, std::span<const SizeEntry> sizes,
                      std::vector<Note>& notes);
