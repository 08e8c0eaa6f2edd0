// "//web" and the options it turns on: the picture upright, never enlarged
// ("//no-enlarge"), filtered with premultiplied alpha, the codec from the
// output name, and the transparency kept where the output codec holds it or
// else flattened onto the background ("//background", white by default);
// progressive JPEG with tables made for the image, and for each codec a
// quality that gives a like look (bench/web_quality.py measured them).
#pragma once

#include "driver/job/job_settings.h"
#include "platform/image_format.h"

// What "//web" turns on, before the input is probed.
void ApplyWebDefaults(JobSettings& settings);
// The format an output named name is written in by codec, "auto" resolved
// from the name; nullptr when no exporter answers.
const ImageFormat* CodecFormat(OSType codec, const std::string& name);
// The same for the command line's codec ("/c").
const ImageFormat* OutputFormat(const JobSettings& settings, const std::string& name);
// Once the source is known, for an output whose export settings hold its
// codec: under "//web" without "/b", the depth that keeps the source's alpha
// where the output holds it (64 for a 16-bit source where the exporter
// keeps 16 bits); then, with a background, the colour the transparency is
// flattened onto where the output cannot keep it.
void ChooseAlphaHandling(const JobSettings& settings, bool sourceHasAlpha, bool sourceDeep,
                         JobOutput* output);
// Under "//web", for an output whose quality neither "/q" nor "//quality"
// gives, once its format is known: the quality its codec's web default
// gives (AVIF, WebP and JPEG; the others keep "/q"'s default).
void ChooseWebQuality(JobOutput* output);
// "//no-enlarge": width x height, when larger than the source in either
// direction, scaled down to fit inside it, aspect kept (each side at least 1).
void ShrinkToSource(int32_t* width, int32_t* height, int32_t sourceWidth, int32_t sourceHeight);
