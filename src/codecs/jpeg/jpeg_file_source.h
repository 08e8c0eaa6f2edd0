// A libjpeg source manager that reads an open file as it goes, a window at
// a time, so that the file is never held whole. Where the data ends it does
// what libjpeg's own sources do: warns, and makes believe an end-of-image
// marker follows.
#pragma once

#include <cstdint>
#include <cstdio>  // jpeglib.h expects it

#include <jpeglib.h>

struct JpegFileSource {
  jpeg_source_mgr manager{};
  int fd = -1;
  uint64_t offset = 0;
  uint64_t size = 0;
  JOCTET window[1 << 16];
};

// Sets source to read fd, of size bytes, from its start; then give libjpeg
// &source->manager.
void OpenJpegFileSource(JpegFileSource* source, int fd, uint64_t size);

// Where in the file the next byte libjpeg takes from source lies.
uint64_t JpegFileSourcePosition(const JpegFileSource& source);
