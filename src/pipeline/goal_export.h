// An output written at the quality its goal asks for (quality_search.h),
// from its finished pixels held whole: resized, flattened, turned, at the
// depth written.
//   //max-bytes: a trial is the whole file as a plain export at that
//     quality writes it (its metadata in, its gain map fitted at that
//     quality), encoded into memory; the highest percent whose file takes
//     at most maxBytes is written, those very bytes. Bands of its rows
//     foresee which percents to try (pipeline/size_proxy.h); for AVIF one
//     percent stands for all that share its quantiser.
//   //target-quality: a trial is the picture alone, encoded into memory,
//     decoded and compared with the finished pixels (packed to 8 bits, or
//     to grey, where the file holds them so); the lowest percent
//     whose structural similarity reaches the score is written. Without
//     metadata its trial's bytes are the file; with it, a plain export at
//     that quality writes it.
// Trials run two at a time when parallel allows (one at a time, when foreseen, for
// encoders that use every core themselves); none begins once the
// deadline has passed, and the search ends with kTimedOutErr. The metadata (ud) ends
// fitted as a plain export at the chosen quality leaves it.
#pragma once

#include <cstdint>
#include <string>

#include "base/deadline.h"
#include "imageio/export_settings.h"
#include "pipeline/quality_search.h"
#include "pipeline/resize_request.h"
#include "platform/gworld.h"
#include "platform/user_data.h"

int32_t ExportForGoal(GWorldPtr picture, const ResizeRequest& request,
                      const ExportSettings& settings, const QualityGoal& goal, UserData ud,
                      const std::string& outputPath, bool parallel, const Deadline& deadline,
                      QualityChoice* chosen);
