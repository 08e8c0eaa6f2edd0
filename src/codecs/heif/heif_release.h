// The deleter for libheif's objects, each given back by libheif's own call
// (the library is loaded: it made them).
#pragma once

#include <memory>

#include "codecs/heif/heif_library.h"

struct HeifRelease {
  void operator()(heif_context* context) const { Heif().context_free(context); }
  void operator()(heif_image_handle* handle) const { Heif().image_handle_release(handle); }
  void operator()(heif_image* image) const { Heif().image_release(image); }
  void operator()(heif_encoder* encoder) const { Heif().encoder_release(encoder); }
  void operator()(heif_decoding_options* options) const { Heif().decoding_options_free(options); }
  void operator()(heif_encoding_options* options) const { Heif().encoding_options_free(options); }
  void operator()(heif_color_profile_nclx* nclx) const { Heif().nclx_color_profile_free(nclx); }
};

using HeifContext = std::unique_ptr<heif_context, HeifRelease>;
