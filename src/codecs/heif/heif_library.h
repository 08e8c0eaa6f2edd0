// libheif's functions, reached through pointers bound when the library is
// first needed: the program does not link libheif, whose decoders and
// encoders (HEVC, AV1) would otherwise be mapped and set up at every start.
#pragma once

#include <libheif/heif.h>

// Every libheif function the codec calls, without the heif_ prefix.
#define TAVREL_HEIF_FUNCTIONS(X)                 \
  X(context_add_XMP_metadata)                    \
  X(context_add_exif_metadata)                   \
  X(context_alloc)                               \
  X(context_encode_image)                        \
  X(context_free)                                \
  X(context_get_encoder_descriptors)             \
  X(context_get_encoder_for_format)              \
  X(context_get_primary_image_handle)            \
  X(context_read_from_memory_without_copy)       \
  X(context_set_maximum_image_size_limit)        \
  X(context_write)                               \
  X(decode_image)                                \
  X(decoding_options_alloc)                      \
  X(decoding_options_free)                       \
  X(encoder_release)                             \
  X(encoder_set_lossless)                        \
  X(encoder_set_lossy_quality)                   \
  X(encoder_set_parameter_integer)               \
  X(encoder_set_parameter_string)                \
  X(encoding_options_alloc)                      \
  X(encoding_options_free)                       \
  X(get_version)                                 \
  X(has_compatible_brand)                        \
  X(image_add_plane)                             \
  X(image_create)                                \
  X(image_get_bits_per_pixel_range)              \
  X(image_get_height)                            \
  X(image_get_plane)                             \
  X(image_get_plane_readonly)                    \
  X(image_get_width)                             \
  X(image_handle_get_color_profile_type)         \
  X(image_handle_get_height)                     \
  X(image_handle_get_list_of_metadata_block_IDs) \
  X(image_handle_get_luma_bits_per_pixel)        \
  X(image_handle_get_metadata)                   \
  X(image_handle_get_metadata_content_type)      \
  X(image_handle_get_metadata_size)              \
  X(image_handle_get_metadata_type)              \
  X(image_handle_get_nclx_color_profile)         \
  X(image_handle_get_number_of_metadata_blocks)  \
  X(image_handle_get_raw_color_profile)          \
  X(image_handle_get_raw_color_profile_size)     \
  X(image_handle_get_width)                      \
  X(image_handle_has_alpha_channel)              \
  X(image_handle_release)                        \
  X(image_is_premultiplied_alpha)                \
  X(image_release)                               \
  X(image_set_raw_color_profile)                 \
  X(init)                                        \
  X(nclx_color_profile_alloc)                    \
  X(nclx_color_profile_free)

struct HeifLibrary {
#define TAVREL_HEIF_POINTER(fn) decltype(&::heif_##fn) fn = nullptr;
  TAVREL_HEIF_FUNCTIONS(TAVREL_HEIF_POINTER)
#undef TAVREL_HEIF_POINTER
};

// libheif, loaded and initialised on the first call from any thread;
// nullptr, on this call and every later one, when it cannot be loaded or
// lacks one of the functions (the codec then behaves as if it were absent).
const HeifLibrary* LoadHeif();

// The library LoadHeif gave: only for code that runs after it did.
const HeifLibrary& Heif();
