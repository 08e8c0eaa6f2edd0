// libjpeg's error manager as the JPEG importer and exporter use it: an error
// jumps back to the guarded call that set `failed`, and nothing is printed.
#pragma once

#include <csetjmp>
#include <cstdio>  // jpeglib.h expects it

#include <jpeglib.h>

struct JpegErrors {
  jpeg_error_mgr manager{};  // first, so that libjpeg's err pointer leads here
  std::jmp_buf failed;
};

[[noreturn]] inline void JpegFail(j_common_ptr info) {
  std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->failed, 1);
}

// libjpeg would print its messages on the standard error.
inline void JpegSilent(j_common_ptr) {}

// For a decode that gives up on any warning, leaving the serial decode to
// say it: an emit_message.
inline void JpegFailOnWarning(j_common_ptr info, int level) {
  if (level < 0) JpegFail(info);
}

// The manager to give libjpeg's err; its emit_message may be replaced after.
inline jpeg_error_mgr* QuietJpegErrors(JpegErrors* errors) {
  jpeg_error_mgr* manager = jpeg_std_error(&errors->manager);
  manager->error_exit = JpegFail;
  manager->output_message = JpegSilent;
  return manager;
}
