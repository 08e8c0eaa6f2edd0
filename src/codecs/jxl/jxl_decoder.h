// A libjxl decoder over a whole file in memory, shared by the importer and
// the metadata reader.
#pragma once

#include <memory>

#include "codecs/jxl/jxl_library.h"
#include "platform/codec.h"

struct JxlDecoderDelete {
  void operator()(JxlDecoder* decoder) const { Jxl().DecoderDestroy(decoder); }
};
using OwnedJxlDecoder = std::unique_ptr<JxlDecoder, JxlDecoderDelete>;

// A decoder that reports the given events over the whole file (its input
// closed), with the codestream's orientation applied to the pixels.
OSErr StartJxlDecoder(ByteSpan file, int events, OwnedJxlDecoder* decoder);

// The image's size as drawn: the codestream's orientation swaps width and
// height for the quarter turns (orientations 5 to 8).
void DrawnJxlSize(const JxlBasicInfo& info, int64_t* width, int64_t* height);

// At the colour encoding event: a lossy (XYB) file is delivered in sRGB, not
// in the linear sRGB that libjxl 0.7 gives for one that embeds a profile.
// Other files keep their own space (libjxl refuses the preference).
void PreferSrgbSamples(JxlDecoder* decoder);
