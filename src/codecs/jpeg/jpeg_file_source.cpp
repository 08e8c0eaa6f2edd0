#include "codecs/jpeg/jpeg_file_source.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include <jerror.h>

namespace {

void StartFileSource(j_decompress_ptr) {}
void EndFileSource(j_decompress_ptr) {}

boolean FillFromFile(j_decompress_ptr info) {
  JpegFileSource* source = reinterpret_cast<JpegFileSource*>(info->src);
  ssize_t n = -1;
  if (source->offset < source->size) {
    const size_t want =
        size_t(std::min<uint64_t>(sizeof source->window, source->size - source->offset));
    do {
      n = ::pread(source->fd, source->window, want, off_t(source->offset));
    } while (n < 0 && errno == EINTR);
  }
  if (n <= 0) {
    WARNMS(info, JWRN_JPEG_EOF);
    source->window[0] = 0xFF;
    source->window[1] = JPEG_EOI;
    n = 2;
  } else {
    source->offset += uint64_t(n);
  }
  source->manager.next_input_byte = source->window;
  source->manager.bytes_in_buffer = size_t(n);
  return TRUE;
}

void SkipInFile(j_decompress_ptr info, long count) {
  jpeg_source_mgr* manager = info->src;
  while (count > 0 && size_t(count) > manager->bytes_in_buffer) {
    count -= long(manager->bytes_in_buffer);
    FillFromFile(info);
  }
  if (count > 0) {
    manager->next_input_byte += count;
    manager->bytes_in_buffer -= size_t(count);
  }
}

}  // namespace

void OpenJpegFileSource(JpegFileSource* source, int fd, uint64_t size) {
  source->fd = fd;
  source->size = size;
  source->offset = 0;
  source->manager.next_input_byte = nullptr;
  source->manager.bytes_in_buffer = 0;
  source->manager.init_source = StartFileSource;
  source->manager.fill_input_buffer = FillFromFile;
  source->manager.skip_input_data = SkipInFile;
  source->manager.resync_to_restart = jpeg_resync_to_restart;
  source->manager.term_source = EndFileSource;
}

uint64_t JpegFileSourcePosition(const JpegFileSource& source) {
  return source.offset - source.manager.bytes_in_buffer;
}
