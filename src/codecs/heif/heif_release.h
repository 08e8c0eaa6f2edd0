// The deleter for libheif's objects, each given back by libheif's own call.
#pragma once

#include <memory>

#include <libheif/heif.h>

struct HeifRelease {
  void operator()(heif_context* context) const { heif_context_free(context); }
  void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
  void operator()(heif_image* image) const { heif_image_release(image); }
  void operator()(heif_encoder* encoder) const { heif_encoder_release(encoder); }
  void operator()(heif_decoding_options* options) const { heif_decoding_options_free(options); }
  void operator()(heif_encoding_options* options) const { heif_encoding_options_free(options); }
  void operator()(heif_color_profile_nclx* nclx) const { heif_nclx_color_profile_free(nclx); }
};

using HeifContext = std::unique_ptr<heif_context, HeifRelease>;
